#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <memory>

#include "SqlCompleter.h"
#include "TextFileCodec.h"

class LineNumberArea;
class QMenu;
class SqlHighlighter;
class TextLoad;

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
    // Marks where the server says an error lies: its line tinted and a wavy
    // underline from `position` to the line's end, until the text changes.
    void markError(int position);
    bool hasErrorMark() const { return !m_errorMark.isEmpty(); }
    int errorMarkPosition() const { return hasErrorMark() ? m_errorMark.first().cursor.position() : -1; }
    // Selects start..end and scrolls it into view, e.g. a statement that failed.
    void selectRange(int start, int end);
    // The file this page was opened from or saved to; empty for a scratch tab.
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString &path) { m_filePath = path; }
    // How the file was encoded and what it held when read or saved last.
    const TextFileCodec::Origin &origin() const { return m_origin; }
    void setOrigin(const TextFileCodec::Origin &origin) { m_origin = origin; }
    // Another program changed the file since: saving over it needs a word.
    bool changedOnDisk() const { return m_changedOnDisk; }
    void setChangedOnDisk(bool changed) { m_changedOnDisk = changed; }

    // Replaces the text as one step the user cannot undo into. A large text
    // shows its first lines at once and takes the rest in slices through
    // loadSlice(); wholeText() gives all of it meanwhile. A key, a paste or
    // a drop that would change the text first puts the rest in.
    void setWholeText(const QString &text, int cursor, bool modified);
    QString wholeText() const;
    // The next wholeText() reads the document again in full.
    void forgetTextCache() { m_textCached = false; m_textCache.clear(); }
    int wholeCursor() const;
    bool isLoading() const { return m_pLoad != nullptr; }
    // The text differs from its file (or was never saved), also while loading.
    bool isTextModified() const;
    // The text now matches its file, including a text still being laid out.
    void markSaved();
    // Adds slices of a large text for a moment; returns true once all is in.
    bool loadSlice();
    // Puts in the rest of a text being loaded, now.
    void completeLoad();
    // Replaces the whole text as one edit the user can undo.
    void replaceWholeText(const QString &text);

    SqlHighlighter *highlighter() const { return m_pHighlighter; }

    // Each of these is one undo step. Lines are those the selection touches,
    // or the cursor's line.
    // Comments the lines out with "-- ", or takes it away when all have it.
    void toggleLineComments();
    void indentLines();
    void unindentLines();
    static constexpr int IndentWidth = 4;

    int lineNumberWidth() const;
    void paintLineNumbers(QPaintEvent *e);
    // Completion of names as they are typed; none until a provider is set.
    void setCompletionProvider(SqlCompleter::Provider provider);
    SqlCompleter *completer() const { return m_pCompleter; }

signals:
    // A text given to setWholeText() is all in.
    void loadingDone();

protected slots:
    virtual void OnPopupMenuSelectAll();

protected:
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    void insertFromMimeData(const QMimeData *source) override;
    void dropEvent(QDropEvent *e) override;

    // Builds a new context menu; the caller owns it.
    virtual QMenu *createPopupMenu(const QPoint &pos);

private:
    void finishLoading();
    void applyMarks();
    // Tab, Shift+Tab and Return as a code editor treats them; false for
    // any other key.
    bool handleIndentKey(QKeyEvent *e);
    void newLineKeepingIndent();
    void updateCursorMarks();
    void updateLineNumberArea(const QRect &rect, int dy);

    SqlHighlighter *m_pHighlighter = nullptr;
    LineNumberArea *m_pLineNumberArea = nullptr;
    QList<QTextEdit::ExtraSelection> m_cursorMarks;
    void patchTextCache(int from, int removed, int added);

    QList<QTextEdit::ExtraSelection> m_statementMark;
    QList<QTextEdit::ExtraSelection> m_errorMark;
    QString m_filePath;
    TextFileCodec::Origin m_origin;
    // The text as wholeText() gave it last, kept in step with each edit:
    // saving the kept tabs need not copy 50 MB out of the document (some
    // 200 ms) after every keystroke.
    mutable QString m_textCache;
    mutable bool m_textCached = false;
    bool m_changedOnDisk = false;
    std::unique_ptr<TextLoad> m_pLoad;
    int m_pendingCursor = 0;
    bool m_pendingModified = false;
    SqlCompleter *m_pCompleter = nullptr;
};
