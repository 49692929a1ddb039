// libFuzzer target for the one SQL reader and what is built on it:
// - tokens come in order, inside the text, never overlapping;
// - lexing line by line from each line's saved state colours every
//   character as lexing the whole text does (what the highlighter relies on);
// - a script fed in pieces splits exactly as the whole text does;
// - statements never overlap and hold the text between their offsets, and
//   the statement at a cursor is one of them.
#include "SqlLexer.h"
#include "StatementKeywords.h"
#include "StatementSplitter.h"

#include <QList>

#include <cstdint>
#include <cstdlib>

namespace {

// The kind of token covering each character (-1 for blanks).
QList<int> kindsWhole(const QString &sql)
{
    QList<int> kinds(sql.size(), -1);
    SqlLexer lexer(sql);
    SqlToken t;
    qsizetype previousEnd = 0;
    while (lexer.next(t)) {
        if (t.start < previousEnd || t.length <= 0 || t.end() > sql.size())
            std::abort();
        previousEnd = t.end();
        for (qsizetype i = t.start; i < t.end(); ++i)
            kinds[i] = sql.at(i) == u'\n' ? -1 : t.kind;
    }
    return kinds;
}

QList<int> kindsByLine(const QString &sql)
{
    QList<int> kinds(sql.size(), -1);
    int state = SqlLexState().pack();
    qsizetype lineStart = 0;
    while (lineStart <= sql.size()) {
        qsizetype lineEnd = sql.indexOf(u'\n', lineStart);
        if (lineEnd < 0)
            lineEnd = sql.size();
        SqlLexer lexer(QStringView(sql).mid(lineStart, lineEnd - lineStart),
                       SqlLexState::unpack(state));
        SqlToken t;
        while (lexer.next(t)) {
            for (qsizetype i = t.start; i < t.end(); ++i)
                kinds[lineStart + i] = t.kind;
        }
        state = lexer.state().pack();
        lineStart = lineEnd + 1;
    }
    return kinds;
}

void checkPieces(const QString &sql, const SplitResult &whole, qsizetype piece)
{
    QList<SqlStatement> got;
    StatementSplitter splitter([&](SqlStatement &&s) {
        got.append(std::move(s));
        return true;
    });
    for (qsizetype at = 0; at < sql.size(); at += piece) {
        if (!splitter.append(QStringView(sql).mid(at, piece), false))
            break;
    }
    splitter.append({}, true);
    if (got.size() != whole.statements.size() || splitter.error().kind != whole.error.kind
        || splitter.error().offset != whole.error.offset)
        std::abort();
    for (qsizetype i = 0; i < got.size(); ++i) {
        const SqlStatement &a = got.at(i), &b = whole.statements.at(i);
        if (a.start != b.start || a.text != b.text || a.line != b.line)
            std::abort();
    }
}

void checkSplit(const QString &sql, const SplitResult &r)
{
    qsizetype previousEnd = 0;
    for (const SqlStatement &s : r.statements) {
        if (s.start < previousEnd || s.end <= s.start || s.delimiterEnd < s.end
            || s.delimiterEnd > sql.size() || s.text != sql.mid(s.start, s.end - s.start)
            || s.terminated != (s.delimiterEnd > s.end)
            || s.line != sql.left(s.start).count(u'\n') + 1)
            std::abort();
        previousEnd = s.delimiterEnd;
        natureOf(s.text);
    }
    if (!r.ok() && (r.error.offset < previousEnd || r.error.offset >= sql.size()))
        std::abort();
    for (qsizetype cursor : { qsizetype(0), sql.size() / 2, sql.size() }) {
        const std::optional<SqlStatement> at = statementAt(sql, cursor);
        if (!at)
            continue;
        bool listed = false;
        for (const SqlStatement &s : r.statements)
            listed = listed || (s.start == at->start && s.end == at->end && s.text == at->text);
        if (!listed)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (kindsWhole(sql) != kindsByLine(sql))
        std::abort();
    const SplitResult r = splitStatements(sql);
    checkSplit(sql, r);
    checkPieces(sql, r, 1 + qsizetype(size % 7));
    return 0;
}
