#pragma once

#include "SqlLexer.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// One statement of a script. Offsets are UTF-16 positions in the text that was
// split (for a script read in pieces, in all the text fed so far), the same
// positions QTextCursor counts, so the editor can mark or select it directly.
struct SqlStatement
{
    qsizetype start = 0;        // first character that is not a blank or a plain comment
    qsizetype end = 0;          // one past its last such character
    qsizetype delimiterEnd = 0; // one past its delimiter; == end when the text ran out first
    QString text;               // text.mid(start, end - start): no delimiter, no trailing comment
    bool terminated = false;    // ended by the delimiter in force, not by the end of the text
    bool executableComment = false; // holds a /*! … */ or /*M! … */ that the server runs
    qsizetype line = 1;         // the line its start is on, counting from 1
};

struct SplitError
{
    enum Kind {
        None,
        UnterminatedQuote,   // '…', "…" or `…` never closed
        UnterminatedComment, // /* … never closed
        BadDelimiterCommand, // DELIMITER with no delimiter, a backslash in it, or more words
        TooLong,             // one statement longer than the splitter was allowed to hold
    };
    Kind kind = None;
    qsizetype offset = -1; // where the quote, comment, DELIMITER line or statement begins
    qsizetype line = 0;    // the line of that offset, counting from 1
};

struct SplitResult
{
    // When error is set these are only the statements before it: a script
    // that cannot be delimited as a whole must not run at all.
    QList<SqlStatement> statements;
    SplitError error;
    bool ok() const { return error.kind == SplitError::None; }
};

// Splits a script the way the mariadb client does: the delimiter (";" until
// a DELIMITER line changes it) ends a statement outside quotes and comments,
// as SqlLexer reads them. A stretch of blanks and comments is no statement.
//
// The text may come in pieces of any size (a file read a block at a time):
// only the statement still open is held, never the script.
class StatementSplitter
{
public:
    // The sink hears each statement as it ends and may stop the split by
    // returning false.
    using Sink = std::function<bool(SqlStatement &&statement)>;
    explicit StatementSplitter(Sink sink);

    // A statement that grows past this many characters is an error
    // (TooLong) instead of a buffer that grows without end.
    void setMaxStatementLength(qsizetype chars) { m_maxLength = chars; }
    // Without the text, statements carry only their offsets.
    void setKeepText(bool keep) { m_keepText = keep; }

    // Feeds more text; `last` when no more follows. Returns false once the
    // split has ended: an error, the sink stopped it, or the text ended.
    bool append(QStringView piece, bool last);
    const SplitError &error() const { return m_error; }
    // Characters fed so far.
    qsizetype fed() const { return m_base + m_buffer.size(); }

private:
    bool lex(QStringView text, qsizetype from, qsizetype to);
    bool token(QStringView text, const SqlToken &t);
    bool finish(QStringView text, qsizetype delimiterEnd, bool terminated);
    void significant(QStringView text, qsizetype from, qsizetype to, bool executable);
    void countLines(QStringView text, qsizetype upTo);
    bool fail(SplitError::Kind kind, qsizetype at, qsizetype line);
    void compact();

    Sink m_sink;
    QString m_buffer;      // the text not yet done with; m_buffer[0] is at m_base
    qsizetype m_base = 0;
    qsizetype m_scan = 0;  // where lexing goes on (a line's start), in m_buffer
    SqlLexState m_state;
    qsizetype m_start = -1; // the open statement, in m_buffer; -1 for none
    qsizetype m_end = -1;
    bool m_executable = false;
    qsizetype m_openAt = -1; // where the string or comment still open began (absolute)
    qsizetype m_openLine = 0;
    qsizetype m_lineAt = 0;  // lines are counted up to here (in m_buffer)
    qsizetype m_line = 1;
    qsizetype m_startLine = 1;
    qsizetype m_maxLength = -1;
    SplitError m_error;
    bool m_done = false;
    bool m_keepText = true;
};

SplitResult splitStatements(const QString &text);

// The statement under the text cursor (a position in 0..text.size()):
// - the one whose start..delimiterEnd holds the cursor (just after ";" counts);
// - else, between statements, the previous one while no line break lies
//   between its delimiter and the cursor, then the next one while no line
//   break lies between the cursor and its start;
// - else nothing. Nothing too when the text cannot be delimited up to that
//   point; *error then says why and where.
std::optional<SqlStatement> statementAt(const QString &text, qsizetype cursor,
                                        SplitError *error = nullptr);
