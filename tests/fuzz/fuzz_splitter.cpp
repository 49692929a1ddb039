// libFuzzer target: statements come in order, never overlap, hold exactly the
// text between their offsets, and the statement at a cursor is one of them.
#include "StatementKeywords.h"
#include "StatementSplitter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const SplitResult r = splitStatements(sql);
    qsizetype previousEnd = 0;
    for (const SqlStatement &s : r.statements) {
        if (s.start < previousEnd || s.end <= s.start || s.delimiterEnd < s.end
            || s.delimiterEnd > sql.size() || s.text != sql.mid(s.start, s.end - s.start)
            || s.terminated != (s.delimiterEnd > s.end))
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
    return 0;
}
