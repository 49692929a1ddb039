#include "QZTextEdit.h"

#include "InputMethod.h"

#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBlock>

namespace {
// The characters toPlainText() gives for the document's own.
QString asPlainText(QString text)
{
    for (QChar &ch : text) {
        const char16_t u = ch.unicode();
        if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xfdd0 || u == 0xfdd1
            || u == u'\r')
            ch = u'\n';
        else if (u == QChar::Nbsp)
            ch = u' ';
    }
    return text;
}
} // namespace

QZTextEdit::QZTextEdit(QWidget *parent, const char *name)
    : QPlainTextEdit(parent)
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    // Wrap at word boundaries only. Qt's default also breaks inside a word,
    // and finding those breaks is quadratic in the word's length: a pasted
    // megabyte hex literal would freeze the window for minutes.
    setWordWrapMode(QTextOption::WordWrap);
    connect(document(), &QTextDocument::contentsChange, this, &QZTextEdit::patchTextCache);
    // Once the text is edited the line may no longer be where the error was.
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_errorMark.isEmpty()) {
            m_errorMark.clear();
            applyMarks();
        }
    });
}

QZTextEdit::~QZTextEdit() = default;

void QZTextEdit::markStatement(int start, int end)
{
    const int last = document()->characterCount() - 1;
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(document());
    mark.cursor.setPosition(qBound(0, start, last));
    mark.cursor.setPosition(qBound(0, end, last), QTextCursor::KeepAnchor);
    // Faint enough that the real selection and the text stay readable over it.
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlpha(36);
    mark.format.setBackground(tint);
    m_statementMark = { mark };
    applyMarks();
}

void QZTextEdit::clearStatementMark()
{
    m_statementMark.clear();
    applyMarks();
}

void QZTextEdit::markErrorLine(int position)
{
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(document());
    mark.cursor.setPosition(qBound(0, position, document()->characterCount() - 1));
    mark.format.setBackground(QColor(255, 200, 200));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    m_errorMark = { mark };
    applyMarks();
}

void QZTextEdit::applyMarks()
{
    setExtraSelections(m_statementMark + m_errorMark);
}

void QZTextEdit::selectRange(int start, int end)
{
    const int last = document()->characterCount() - 1;
    QTextCursor cursor(document());
    cursor.setPosition(qBound(0, start, last));
    cursor.setPosition(qBound(0, end, last), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void QZTextEdit::OnPopupMenuSelectAll()
{
    selectAll();
}

void QZTextEdit::focusInEvent(QFocusEvent *e)
{
    enableInputMethod(this);
    QPlainTextEdit::focusInEvent(e);
}

void QZTextEdit::focusOutEvent(QFocusEvent *e)
{
    enableInputMethod(this);
    QPlainTextEdit::focusOutEvent(e);
}

void QZTextEdit::contextMenuEvent(QContextMenuEvent *e)
{
    QMenu *menu = createPopupMenu(e->pos());
    menu->exec(e->globalPos());
    delete menu;
}

QMenu *QZTextEdit::createPopupMenu(const QPoint &)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("QZTextEdit Default PopupMenu"));

    // The items stay enabled whatever the selection or clipboard holds:
    // the editor's own operations already do nothing when there is nothing to do.
    const struct {
        QString text;
        int id;
        void (QZTextEdit::*slot)();
    } items[] = {
        { QStringLiteral("コピー"), CopyId, &QZTextEdit::copy },
        { QStringLiteral("切り取り"), CutId, &QZTextEdit::cut },
        { QStringLiteral("貼り付け"), PasteId, &QZTextEdit::paste },
        { QStringLiteral("すべて選択"), SelectAllId, &QZTextEdit::OnPopupMenuSelectAll },
    };
    for (const auto &item : items) {
        QAction *action = menu->addAction(item.text);
        action->setData(item.id);
        connect(action, &QAction::triggered, this, item.slot);
    }
    return menu;
}

namespace {
// Texts above this are laid out in slices of about this size: laying out a
// 20 MB text at once keeps the window from appearing for a second or more.
constexpr qsizetype SliceChars = 1 << 20;
}

void QZTextEdit::setWholeText(const QString &text, int cursor, bool modified)
{
    m_pending.clear();
    m_loadedUpTo = -1;
    if (text.size() <= SliceChars) {
        setPlainText(text);
        QTextCursor c(document());
        c.setPosition(qBound(0, cursor, int(document()->characterCount()) - 1));
        setTextCursor(c);
        document()->setModified(modified);
        return;
    }
    setPlainText(QString());
    document()->setUndoRedoEnabled(false);
    setReadOnly(true);
    m_pending = text;
    m_loadedUpTo = 0;
    m_pendingCursor = cursor;
    m_pendingModified = modified;
}

bool QZTextEdit::loadSlice()
{
    if (!isLoading())
        return true;
    // Cut after a line end so that no slice splits a line (or a surrogate pair).
    qsizetype end = m_loadedUpTo + SliceChars;
    if (end >= m_pending.size()) {
        end = m_pending.size();
    } else {
        const qsizetype lineEnd = m_pending.indexOf(u'\n', end);
        end = lineEnd < 0 ? m_pending.size() : lineEnd + 1;
    }
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringView(m_pending).mid(m_loadedUpTo, end - m_loadedUpTo).toString());
    m_loadedUpTo = end;
    if (end < m_pending.size())
        return false;
    finishLoading();
    return true;
}

void QZTextEdit::finishLoading()
{
    // What was laid out is the pending text: the first save after a large
    // restore need not read it out of the document again.
    m_textCache = asPlainText(m_pending);
    m_textCached = m_textCache.size() == document()->characterCount() - 1;
    if (!m_textCached)
        m_textCache.clear();
    m_pending.clear();
    m_loadedUpTo = -1;
    document()->setUndoRedoEnabled(true);
    setReadOnly(false);
    QTextCursor c(document());
    c.setPosition(qBound(0, m_pendingCursor, int(document()->characterCount()) - 1));
    setTextCursor(c);
    ensureCursorVisible();
    document()->setModified(m_pendingModified);
}

void QZTextEdit::markSaved()
{
    if (isLoading())
        m_pendingModified = false;
    else
        document()->setModified(false);
}


void QZTextEdit::patchTextCache(int from, int removed, int added)
{
    if (!m_textCached)
        return;
    m_textCached = false;
    if (isLoading() || from < 0 || removed < 0 || from + removed > m_textCache.size()) {
        m_textCache.clear();
        return;
    }
    QTextCursor c(document());
    c.setPosition(qMin(from + added, document()->characterCount() - 1));
    c.setPosition(from, QTextCursor::KeepAnchor);
    m_textCache.replace(from, removed, asPlainText(c.selectedText()));
    // Qt counts the document's last separator in some changes (replacing
    // everything): whatever does not add up is read again in full.
    m_textCached = m_textCache.size() == document()->characterCount() - 1;
    if (!m_textCached)
        m_textCache.clear();
}

QString QZTextEdit::wholeText() const
{
    if (isLoading())
        return m_pending;
    if (!m_textCached) {
        m_textCache = toPlainText();
        m_textCached = true;
    }
    return m_textCache;
}

int QZTextEdit::wholeCursor() const
{
    return isLoading() ? m_pendingCursor : textCursor().position();
}

void QZTextEdit::setCompletionProvider(SqlCompleter::Provider provider)
{
    if (!m_pCompleter)
        m_pCompleter = new SqlCompleter(this);
    m_pCompleter->setProvider(std::move(provider));
}

void QZTextEdit::keyPressEvent(QKeyEvent *e)
{
    if (m_pCompleter && m_pCompleter->popupTakes(e))
        return;
    QPlainTextEdit::keyPressEvent(e);
    if (m_pCompleter)
        m_pCompleter->keyHandled(e);
}

void QZTextEdit::inputMethodEvent(QInputMethodEvent *e)
{
    QPlainTextEdit::inputMethodEvent(e);
    if (m_pCompleter)
        m_pCompleter->inputMethodHandled(e);
}

void QZTextEdit::replaceWholeText(const QString &text)
{
    if (isLoading())
        return;
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
}
