#include "QZTextEdit.h"

#include "InputMethod.h"

#include <QContextMenuEvent>
#include <QMenu>

QZTextEdit::QZTextEdit(QWidget *parent, const char *name)
    : QPlainTextEdit(parent)
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    // Wrap at word boundaries only. Qt's default also breaks inside a word,
    // and finding those breaks is quadratic in the word's length: a pasted
    // megabyte hex literal would freeze the window for minutes.
    setWordWrapMode(QTextOption::WordWrap);
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
    setExtraSelections({ mark });
}

void QZTextEdit::clearStatementMark()
{
    setExtraSelections({});
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
