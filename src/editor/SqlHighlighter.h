#pragma once

#include <QElapsedTimer>
#include <QSyntaxHighlighter>
#include <QTextCursor>

#include "SqlLexer.h"

class QTextCharFormat;
class QTimer;

// Colours an editor's SQL as the one lexer reads it, so what shows as a
// string or a comment is exactly what the splitter takes for one. The
// lexer's state at each line's end is the block's user state.
//
// An edit re-lexes the lines after it only while their end states change,
// and never for longer than SliceMs at a time: when the time is up, the line
// reached keeps its old look and state (which ends Qt's own cascade) and the
// work goes on from there on a zero timer, lines on screen first. So typing
// "/*" at the top of a 10 MB script colours what is visible at once and the
// rest while the window keeps taking keys.
class SqlHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT

public:
    enum Kind { Plain, Keyword, String, Number, Comment, QuotedName, Name };

    explicit SqlHighlighter(QTextDocument *document);
    ~SqlHighlighter() override;

    static const QTextCharFormat &format(Kind kind);
    // Lines still waiting for their colours in a later slice.
    bool isBehind() const { return m_behind; }
    // The line at the top of the view; lines from there are coloured first.
    void setFirstVisible(const QTextBlock &block);

    // Inserts a large text (a file being loaded) and colours it afterwards,
    // in slices, rather than line by line before returning.
    void insertQuietly(QTextCursor &cursor, const QString &text);

    // While held, nothing is coloured in slices: a text still being loaded
    // gets there sooner without colours being worked out between its pieces.
    void setHeld(bool held);

    static constexpr qint64 SliceMs = 12;
    // A longer line stays plain and is only read for the state the next
    // line starts in: Qt lays out a line of many colours several times
    // slower than a plain one (measured: a 50,000-character line took 155 ms
    // a key coloured, 22 ms plain; 800,000 characters 10 s against 0.6 s).
    static constexpr int MaxColouredLine = 20000;

signals:
    void caughtUp();

protected:
    void highlightBlock(const QString &text) override;

private:
    void colour(const QString &text);
    void keepAsItWas();
    void markBehind(const QTextBlock &block);
    void catchUp();
    bool colourFrom(QTextBlock block, int to);
    bool colourVisible();
    bool scanTo(const QTextBlock &target);
    bool outOfTime() const { return m_slice.elapsed() >= SliceMs; }

    QTimer *m_pCatchUp = nullptr;
    QElapsedTimer m_slice;
    int m_revision = -1;
    bool m_catchingUp = false;
    bool m_behind = false;
    bool m_held = false;
    QTextCursor m_from; // the first line that may be behind
    QTextCursor m_to;   // lines up to here are re-lexed whatever their state
    QTextCursor m_firstVisible;
    // Lexing without colours runs ahead to the view: the state at m_scan's
    // line start, valid while no edit comes before it.
    QTextCursor m_scan;
    SqlLexState m_scanState;
    bool m_scanValid = false;
    QTextBlock m_forced; // coloured whatever the clock says
    QTextBlock m_last;   // the last line coloured
};
