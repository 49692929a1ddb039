#pragma once

#include <QString>
#include <QStringView>

// Where a line of SQL leaves the reader: enough to go on lexing the next
// line without reading anything before it. The highlighter keeps one per
// block; a script read in pieces keeps one between pieces.
struct SqlLexState
{
    enum Inside : quint8 { Code, Comment, SingleQuote, DoubleQuote, Backquote };
    Inside inside = Code;
    bool executableComment = false; // the comment that is open is /*! … */ or /*M! … */
    bool inStatement = false;       // something but blanks and comments since the last delimiter
    QString delimiter = QStringLiteral(";");

    // A small non-negative number for QTextBlock::userState(); equal states
    // give equal numbers.
    int pack() const;
    static SqlLexState unpack(int packed);
    bool operator==(const SqlLexState &o) const
    {
        return inside == o.inside && executableComment == o.executableComment
            && inStatement == o.inStatement && delimiter == o.delimiter;
    }
    bool operator!=(const SqlLexState &o) const { return !(*this == o); }
};

struct SqlToken
{
    enum Kind : quint8 {
        Keyword,
        Identifier,
        QuotedIdentifier, // `…`
        String,           // '…' or "…", also x'…' and b'…'
        Number,
        Comment,          // -- …, # …, /* … */
        Variable,         // @name, @@name
        Operator,         // any other character that is not blank
        DelimiterCommand, // a whole DELIMITER line
        StatementEnd,     // the delimiter in force
    };
    Kind kind = Operator;
    qsizetype start = 0;
    qsizetype length = 0;
    bool unterminated = false; // a string, name or comment the text ended inside
    bool executable = false;   // a comment the server runs: /*! … */, /*M! … */
    bool bad = false;          // a DELIMITER line that names no usable delimiter

    qsizetype end() const { return start + length; }
};

// The one reader of SQL text in the program: splitting, classifying,
// highlighting and the word under the cursor all take their tokens from it,
// so they cannot disagree about what is a string or a comment.
//
// It reads the way the mariadb client and server do: '…' and "…" take
// doubled quotes and backslash escapes, `…` doubled backquotes; "-- " (two
// dashes then a blank, a control character or the line's end) and "#"
// comment to the line's end; DELIMITER is a client command only as the
// first word of a line where no statement has begun. The end of the text
// counts as the end of a line. Blanks produce no token.
class SqlLexer
{
public:
    // `text` must start at a line's start. With `keywords` false every word
    // is an Identifier, which spares the look-up where nobody asks.
    explicit SqlLexer(QStringView text, const SqlLexState &state = {}, bool keywords = true);
    // The lexer reads the text where it lies: a temporary would be gone
    // before the first token.
    SqlLexer(QString &&, const SqlLexState & = {}, bool = true) = delete;

    bool next(SqlToken &token);
    // The state after the last token returned: at the end of the text, the
    // state the next line starts in.
    const SqlLexState &state() const { return m_state; }
    qsizetype position() const { return m_pos; }

private:
    bool atDelimiter() const;
    bool atDelimiterCommand() const;
    void readDelimiterCommand(SqlToken &t);
    void readQuoted(SqlToken &t, char16_t quote);
    void readBlockComment(SqlToken &t);
    void readLineComment(SqlToken &t);
    bool wordGoesOn() const;
    void readWord(SqlToken &t);
    void readNumber(SqlToken &t);
    void readVariable(SqlToken &t);
    bool readToken(SqlToken &t, char16_t c);
    void resume(SqlToken &t);

    const char16_t *m_d;
    qsizetype m_n;
    qsizetype m_pos = 0;
    SqlLexState m_state;
    bool m_keywords;
    bool m_lineBlank = true;
};
