#pragma once

#include <QPlainTextEdit>

class QMenu;

// One SQL editor page: a plain-text editor with a short context menu of its
// own and the input method switched on whenever the focus changes.
class QZTextEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    enum PopupMenuId { CopyId = 5001, CutId = 5002, PasteId = 5003, SelectAllId = 5004 };

    explicit QZTextEdit(QWidget *parent = nullptr, const char *name = nullptr);
    ~QZTextEdit() override;

    // A faint background over start..end (positions as QTextCursor counts
    // them) shows which statement would run; it does not touch the selection.
    void markStatement(int start, int end);
    void clearStatementMark();
    // Selects start..end and scrolls it into view, e.g. a statement that failed.
    void selectRange(int start, int end);

protected slots:
    virtual void OnPopupMenuSelectAll();

protected:
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

    // Builds a new context menu; the caller owns it.
    virtual QMenu *createPopupMenu(const QPoint &pos);
};
