#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTextCursor>

class QPlainTextEdit;
class SqlHighlighter;

// A large text going into an editor page: its first lines at once, so the
// page shows and scrolls straight away, and the rest in slices after them
// while the window stays free. Qt builds a document at some 3 µs a line, a
// 10 MB script in about half a second; nobody need stare at a blank page
// meanwhile.
//
// The undo history stays off until the text is complete, so an undo can never
// take a slice of the file away again. Anything else that changes the text
// meanwhile is noticed: the rest still goes in after the loaded part, and the
// page counts as changed.
class TextLoad : public QObject
{
    Q_OBJECT

public:
    TextLoad(QPlainTextEdit *page, SqlHighlighter *highlighter, QString text);
    ~TextLoad() override;

    // Shows the first lines on the page, whose document is empty, with the
    // cursor at its start.
    void start();

    // Adds slices until all is in or `ms` have passed (no limit when
    // negative); true once the whole text is in.
    bool step(qint64 ms);
    // The text as it will stand once all is in, edits made meanwhile included.
    QString wholeText() const;
    // The text as it came.
    const QString &text() const { return m_text; }
    // Lines the page will have: the line-number margin is sized for them.
    int lines() const { return m_lines; }
    // Something other than the load changed the text, or moved the cursor.
    bool edited() const { return m_edited; }
    bool cursorMoved() const { return m_moved; }

    static constexpr qsizetype FirstChars = 32 << 10;
    static constexpr qsizetype PieceChars = 256 << 10;

private:
    void append(qsizetype chars);

    QPlainTextEdit *m_pPage;
    QPointer<SqlHighlighter> m_pHighlighter;
    QString m_text;
    qsizetype m_loaded = 0;
    // Where the loaded text ends: text typed right there stays after it.
    QTextCursor m_end;
    int m_lines = 0;
    bool m_appending = false;
    bool m_edited = false;
    bool m_moved = false;
};
