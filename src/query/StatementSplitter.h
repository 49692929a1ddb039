#pragma once

#include <QList>
#include <QString>

#include <optional>

// One statement of a script. Offsets are UTF-16 positions in the text that was
// split, the same positions QTextCursor counts, so the editor can mark or
// select the statement directly.
struct SqlStatement
{
    qsizetype start = 0;        // first character that is not a blank or a plain comment
    qsizetype end = 0;          // one past its last such character
    qsizetype delimiterEnd = 0; // one past its delimiter; == end when the text ran out first
    QString text;               // text.mid(start, end - start): no delimiter, no trailing comment
    bool terminated = false;    // ended by the delimiter in force, not by the end of the text
    bool executableComment = false; // holds a /*! … */ or /*M! … */ that the server runs
};

struct SplitError
{
    enum Kind {
        None,
        UnterminatedQuote,   // '…', "…" or `…` never closed
        UnterminatedComment, // /* … never closed
        BadDelimiterCommand, // DELIMITER with no delimiter, a backslash in it, or more words
    };
    Kind kind = None;
    qsizetype offset = -1; // where the quote, comment or DELIMITER line begins
};

struct SplitResult
{
    // When error is set these are only the statements before it: a script
    // that cannot be delimited as a whole must not run at all.
    QList<SqlStatement> statements;
    SplitError error;
    bool ok() const { return error.kind == SplitError::None; }
};

// Splits a script the way the mysql client does: the delimiter (";" until a
// DELIMITER line changes it) ends a statement outside quotes and comments.
// '…' and "…" take doubled quotes and backslash escapes, `…` doubled
// backticks; "-- " (dashes then a blank, a control character or the end) and
// "#" start line comments. DELIMITER is a client command only as the first
// word of a line where no statement has begun; its delimiter is the next word.
// A stretch of blanks and comments is no statement.
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
