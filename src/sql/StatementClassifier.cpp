#include "StatementClassifier.h"

#include <limits>

namespace {

// Past the end of any text: an absent keyword never comes first.
constexpr qsizetype Absent = std::numeric_limits<qsizetype>::max();

qsizetype lastPosition(const QString &sql, QLatin1String keyword)
{
    const qsizetype at = sql.lastIndexOf(keyword, -1, Qt::CaseSensitive);
    return at < 0 ? Absent : at;
}

} // namespace

int classifyStatement(const QString &sql)
{
    const qsizetype s = lastPosition(sql, QLatin1String("select"));
    const qsizetype i = lastPosition(sql, QLatin1String("insert"));
    const qsizetype u = lastPosition(sql, QLatin1String("update"));
    const qsizetype d = lastPosition(sql, QLatin1String("delete"));

    if (s < i && s < u && s < d)
        return SqlSelect;
    if (i < s && i < u && i < d)
        return SqlInsert;
    if (u < i && u < s && u < d)
        return SqlUpdate;
    if (d < i && d < u && d < s)
        return SqlDelete;
    return SqlOther;
}
