#include "QZTextEdit.h"

#include "BracketMatch.h"
#include "InputMethod.h"
#include "LineNumberArea.h"
#include "SqlHighlighter.h"
#include "TextLoad.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>

#include <utility>

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

    m_pHighlighter = new SqlHighlighter(document());
    m_pLineNumberArea = new LineNumberArea(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] {
        setViewportMargins(lineNumberWidth(), 0, 0, 0);
        const QRect r = contentsRect();
        m_pLineNumberArea->setGeometry(QRect(r.left(), r.top(), lineNumberWidth(), r.height()));
    });
    connect(this, &QPlainTextEdit::updateRequest, this, &QZTextEdit::updateLineNumberArea);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &QZTextEdit::updateCursorMarks);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { m_pHighlighter->setFirstVisible(firstVisibleBlock()); });
    setViewportMargins(lineNumberWidth(), 0, 0, 0);
    updateCursorMarks();

    auto *comment = new QAction(this);
    comment->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Slash));
    comment->setShortcutContext(Qt::WidgetShortcut);
    connect(comment, &QAction::triggered, this, &QZTextEdit::toggleLineComments);
    addAction(comment);
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

void QZTextEdit::markError(int position)
{
    const int at = qBound(0, position, document()->characterCount() - 1);
    QTextEdit::ExtraSelection line;
    line.cursor = QTextCursor(document());
    line.cursor.setPosition(at);
    line.format.setBackground(QColor(255, 200, 200));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    // At a line's end there is nothing to underline: take the character before.
    QTextEdit::ExtraSelection wave;
    wave.cursor = line.cursor;
    wave.cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    if (!wave.cursor.hasSelection())
        wave.cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    wave.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    wave.format.setUnderlineColor(QColor(220, 0, 0));
    m_errorMark = { line, wave };
    applyMarks();
}

void QZTextEdit::applyMarks()
{
    setExtraSelections(m_cursorMarks + m_statementMark + m_errorMark);
}

// The cursor's line, faintly, and the bracket beside the cursor with its partner.
void QZTextEdit::updateCursorMarks()
{
    m_cursorMarks.clear();
    QTextEdit::ExtraSelection line;
    line.cursor = textCursor();
    line.cursor.clearSelection();
    line.format.setBackground(QColor(255, 250, 215));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    m_cursorMarks << line;
    const int position = textCursor().position();
    for (int at : { position, position - 1 }) {
        const int partner = at >= 0 ? matchingBracket(document(), at) : -1;
        if (partner < 0)
            continue;
        for (int p : { at, partner }) {
            QTextEdit::ExtraSelection bracket;
            bracket.cursor = QTextCursor(document());
            bracket.cursor.setPosition(p);
            bracket.cursor.setPosition(p + 1, QTextCursor::KeepAnchor);
            bracket.format.setBackground(QColor(180, 230, 180));
            bracket.format.setFontWeight(QFont::Bold);
            m_cursorMarks << bracket;
        }
        break;
    }
    applyMarks();
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
        // Each works on the whole text: select all of a part, cut from a part, no.
        connect(action, &QAction::triggered, this, [this, slot = item.slot] {
            completeLoad();
            (this->*slot)();
        });
    }
    return menu;
}

namespace {
// Texts above this show their start at once and take the rest in slices:
// laying out a 20 MB text at once keeps the window from appearing for a
// second or more.
constexpr qsizetype SliceChars = 1 << 20;
// Each slice ends after this, so the window answers between them.
constexpr qint64 SliceMs = 15;
}

void QZTextEdit::setWholeText(const QString &text, int cursor, bool modified)
{
    // A load cut short leaves Undo off, which setPlainText() would keep.
    if (std::exchange(m_pLoad, nullptr))
        document()->setUndoRedoEnabled(true);
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
    m_pendingCursor = cursor;
    m_pendingModified = modified;
    m_pLoad = std::make_unique<TextLoad>(this, m_pHighlighter, text);
    m_pLoad->start();
    setViewportMargins(lineNumberWidth(), 0, 0, 0);
}

bool QZTextEdit::loadSlice()
{
    if (!isLoading())
        return true;
    if (!m_pLoad->step(SliceMs))
        return false;
    finishLoading();
    return true;
}

void QZTextEdit::completeLoad()
{
    if (!isLoading())
        return;
    m_pLoad->step(-1);
    finishLoading();
}

void QZTextEdit::finishLoading()
{
    const std::unique_ptr<TextLoad> load = std::move(m_pLoad);
    const bool edited = load->edited();
    // What was laid out is the text given: the first save after a large
    // restore need not read it out of the document again.
    m_textCache = edited ? QString() : asPlainText(load->text());
    m_textCached = !edited && m_textCache.size() == document()->characterCount() - 1;
    if (!m_textCached)
        m_textCache.clear();
    document()->setUndoRedoEnabled(true);
    // Where the user went meanwhile is where the cursor stays.
    if (!load->cursorMoved()) {
        QTextCursor c(document());
        c.setPosition(qBound(0, m_pendingCursor, int(document()->characterCount()) - 1));
        setTextCursor(c);
        ensureCursorVisible();
    }
    document()->setModified(m_pendingModified || edited);
    emit loadingDone();
}

bool QZTextEdit::isTextModified() const
{
    // Slices going in mark the document changed; what counts is the text's.
    return isLoading() ? m_pendingModified || m_pLoad->edited() : document()->isModified();
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
        return m_pLoad->wholeText();
    if (!m_textCached) {
        m_textCache = toPlainText();
        m_textCached = true;
    }
    return m_textCache;
}

int QZTextEdit::wholeCursor() const
{
    return isLoading() && !m_pLoad->cursorMoved() ? m_pendingCursor : textCursor().position();
}

int QZTextEdit::lineNumberWidth() const
{
    int digits = 1;
    // A text being loaded gets the margin for all its lines at once.
    for (int n = qMax(1, qMax(blockCount(), isLoading() ? m_pLoad->lines() : 0)); n >= 10; n /= 10)
        ++digits;
    return 12 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * qMax(3, digits);
}

void QZTextEdit::paintLineNumbers(QPaintEvent *e)
{
    QPainter painter(m_pLineNumberArea);
    painter.fillRect(e->rect(), palette().color(QPalette::Window));
    const int current = textCursor().blockNumber();
    const int width = m_pLineNumberArea->width() - 6;
    const int lineHeight = fontMetrics().height();
    QTextBlock block = firstVisibleBlock();
    qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    while (block.isValid() && top <= e->rect().bottom()) {
        const qreal bottom = top + blockBoundingRect(block).height();
        if (block.isVisible() && bottom >= e->rect().top()) {
            QFont font = painter.font();
            font.setBold(block.blockNumber() == current);
            painter.setFont(font);
            painter.setPen(palette().color(block.blockNumber() == current ? QPalette::Text
                                                                          : QPalette::PlaceholderText));
            painter.drawText(0, int(top), width, lineHeight, Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top = bottom;
    }
}

void QZTextEdit::updateLineNumberArea(const QRect &rect, int dy)
{
    if (dy)
        m_pLineNumberArea->scroll(0, dy);
    else
        m_pLineNumberArea->update(0, rect.y(), m_pLineNumberArea->width(), rect.height());
}

void QZTextEdit::resizeEvent(QResizeEvent *e)
{
    QPlainTextEdit::resizeEvent(e);
    const QRect r = contentsRect();
    m_pLineNumberArea->setGeometry(QRect(r.left(), r.top(), lineNumberWidth(), r.height()));
}

void QZTextEdit::setCompletionProvider(SqlCompleter::Provider provider)
{
    if (!m_pCompleter)
        m_pCompleter = new SqlCompleter(this);
    m_pCompleter->setProvider(std::move(provider));
}

namespace {

// Keys that move, select or copy: a page still being loaded takes them as
// it is.
bool leavesTextAlone(const QKeyEvent *e)
{
    if (e->matches(QKeySequence::Copy))
        return true;
    switch (e->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Escape:
        return true;
    default:
        return false;
    }
}

} // namespace

// An edit lands on the whole text, with its undo step, never on a part.
void QZTextEdit::keyPressEvent(QKeyEvent *e)
{
    if (isLoading() && !leavesTextAlone(e))
        completeLoad();
    if (m_pCompleter && m_pCompleter->popupTakes(e))
        return;
    if (!handleIndentKey(e))
        QPlainTextEdit::keyPressEvent(e);
    if (m_pCompleter)
        m_pCompleter->keyHandled(e);
}

void QZTextEdit::inputMethodEvent(QInputMethodEvent *e)
{
    if (!e->commitString().isEmpty() || !e->preeditString().isEmpty())
        completeLoad();
    QPlainTextEdit::inputMethodEvent(e);
    if (m_pCompleter)
        m_pCompleter->inputMethodHandled(e);
}

void QZTextEdit::insertFromMimeData(const QMimeData *source)
{
    completeLoad();
    QPlainTextEdit::insertFromMimeData(source);
}

void QZTextEdit::dropEvent(QDropEvent *e)
{
    completeLoad();
    QPlainTextEdit::dropEvent(e);
}

bool QZTextEdit::handleIndentKey(QKeyEvent *e)
{
    if (isReadOnly())
        return false;
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (e->key() == Qt::Key_Backtab || (e->key() == Qt::Key_Tab && mods == Qt::ShiftModifier)) {
        unindentLines();
        return true;
    }
    if (e->key() == Qt::Key_Tab && mods == Qt::NoModifier) {
        indentLines();
        return true;
    }
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
        newLineKeepingIndent();
        return true;
    }
    return false;
}

namespace {

// The lines a selection touches; one that it only reaches at its start
// is not among them.
std::pair<QTextBlock, QTextBlock> touchedLines(const QTextCursor &cursor)
{
    const QTextDocument *doc = cursor.document();
    const QTextBlock first = doc->findBlock(cursor.selectionStart());
    QTextBlock last = doc->findBlock(cursor.selectionEnd());
    if (last != first && cursor.selectionEnd() == last.position())
        last = last.previous();
    return { first, last };
}

int leadingBlanks(const QString &line)
{
    int n = 0;
    while (n < line.size() && (line.at(n) == u' ' || line.at(n) == u'\t'))
        ++n;
    return n;
}

bool isBlankLine(const QString &line)
{
    return leadingBlanks(line) == line.size();
}

// Selects the whole of the given lines, so that the next Tab takes them all.
void selectLines(QTextCursor &cursor, const QTextBlock &first, const QTextBlock &last)
{
    cursor.setPosition(first.position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
}

} // namespace

void QZTextEdit::newLineKeepingIndent()
{
    QTextCursor cursor = textCursor();
    const QString line = cursor.block().text();
    const int column = cursor.position() - cursor.block().position();
    cursor.insertText(u'\n' + line.left(qMin(column, leadingBlanks(line))));
    setTextCursor(cursor);
}

void QZTextEdit::indentLines()
{
    QTextCursor cursor = textCursor();
    const auto [first, last] = touchedLines(cursor);
    if (first == last) {
        // Within a line Tab fills to the next stop with blanks.
        const int column = cursor.position() - cursor.block().position();
        cursor.insertText(QString(IndentWidth - column % IndentWidth, u' '));
        setTextCursor(cursor);
        return;
    }
    const QString indent(IndentWidth, u' ');
    cursor.beginEditBlock();
    for (QTextBlock b = first;; b = b.next()) {
        if (!isBlankLine(b.text())) {
            QTextCursor at(b);
            at.insertText(indent);
        }
        if (b == last)
            break;
    }
    cursor.endEditBlock();
    selectLines(cursor, first, last);
    setTextCursor(cursor);
}

void QZTextEdit::unindentLines()
{
    QTextCursor cursor = textCursor();
    const auto [first, last] = touchedLines(cursor);
    const bool wholeLines = cursor.hasSelection() && first != last;
    cursor.beginEditBlock();
    for (QTextBlock b = first;; b = b.next()) {
        const QString text = b.text();
        int n = 0;
        if (text.startsWith(u'\t'))
            n = 1;
        else
            while (n < IndentWidth && n < text.size() && text.at(n) == u' ')
                ++n;
        if (n > 0) {
            QTextCursor at(b);
            at.setPosition(b.position() + n, QTextCursor::KeepAnchor);
            at.removeSelectedText();
        }
        if (b == last)
            break;
    }
    cursor.endEditBlock();
    if (wholeLines) {
        selectLines(cursor, first, last);
        setTextCursor(cursor);
    }
}

void QZTextEdit::toggleLineComments()
{
    if (isReadOnly())
        return;
    completeLoad();
    QTextCursor cursor = textCursor();
    const auto [first, last] = touchedLines(cursor);
    bool allCommented = true;
    int column = INT_MAX;
    for (QTextBlock b = first;; b = b.next()) {
        const QString text = b.text();
        if (!isBlankLine(text)) {
            const int blanks = leadingBlanks(text);
            column = qMin(column, blanks);
            allCommented = allCommented && QStringView(text).mid(blanks).startsWith(u"--");
        }
        if (b == last)
            break;
    }
    const bool onlyBlank = column == INT_MAX;
    cursor.beginEditBlock();
    for (QTextBlock b = first;; b = b.next()) {
        const QString text = b.text();
        QTextCursor at(b);
        if (onlyBlank) {
            at.insertText(QStringLiteral("-- "));
        } else if (allCommented && !isBlankLine(text)) {
            const int blanks = leadingBlanks(text);
            const int n = QStringView(text).mid(blanks).startsWith(u"-- ") ? 3 : 2;
            at.setPosition(b.position() + blanks);
            at.setPosition(b.position() + blanks + n, QTextCursor::KeepAnchor);
            at.removeSelectedText();
        } else if (!allCommented && !isBlankLine(text)) {
            at.setPosition(b.position() + column);
            at.insertText(QStringLiteral("-- "));
        }
        if (b == last)
            break;
    }
    cursor.endEditBlock();
}

void QZTextEdit::replaceWholeText(const QString &text)
{
    if (isLoading())
        return;
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
}
