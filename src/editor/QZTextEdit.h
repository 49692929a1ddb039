#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QTextEdit>

class LineNumberArea;
class QMenu;
class SqlHighlighter;

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
    // Selects start..end and scrolls it into view, e.g. a statement that failed.
    void selectRange(int start, int end);
    // The file this page was opened from or saved to; empty for a scratch tab.
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString &path) { m_filePath = path; }
    // The file fitted no known encoding: saving it back needs the user's word.
    bool encodingGuessed() const { return m_encodingGuessed; }
    void setEncodingGuessed(bool guessed) { m_encodingGuessed = guessed; }
    bool crlf() const { return m_crlf; }
    void setCrlf(bool crlf) { m_crlf = crlf; }

    // Replaces the text as one step the user cannot undo into. A large text
    // is laid out in slices through loadSlice(), so that the window comes up
    // at once; until then the page is read-only and wholeText() still gives
    // all of it.
    void setWholeText(const QString &text, int cursor, bool modified);
    QString wholeText() const;
    int wholeCursor() const;
    bool isLoading() const { return m_loadedUpTo >= 0; }
    // The text now matches its file, including a text still being laid out.
    void markSaved();
    // Adds the next slice of a large text; returns true once all is in.
    bool loadSlice();

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

protected slots:
    virtual void OnPopupMenuSelectAll();

protected:
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

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

    QList<QTextEdit::ExtraSelection> m_statementMark;
    QList<QTextEdit::ExtraSelection> m_errorMark;
    QString m_filePath;
    bool m_encodingGuessed = false;
    bool m_crlf = false;
    QString m_pending;
    qsizetype m_loadedUpTo = -1;
    int m_pendingCursor = 0;
    bool m_pendingModified = false;
};
