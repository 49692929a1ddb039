// libFuzzer target: the classifier returns one of the five kinds, and a kind
// other than "other" is always backed by its keyword in the text.
#include "StatementClassifier.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const int kind = classifyStatement(sql);
    const char *keyword = nullptr;
    switch (kind) {
    case SqlSelect: keyword = "select"; break;
    case SqlInsert: keyword = "insert"; break;
    case SqlUpdate: keyword = "update"; break;
    case SqlDelete: keyword = "delete"; break;
    case SqlOther: break;
    default: std::abort();
    }
    if (keyword && !sql.contains(QLatin1String(keyword), Qt::CaseSensitive))
        std::abort();
    const bool anyKeyword = sql.contains(QLatin1String("select")) || sql.contains(QLatin1String("insert"))
        || sql.contains(QLatin1String("update")) || sql.contains(QLatin1String("delete"));
    if (!anyKeyword && kind != SqlOther)
        std::abort();
    return 0;
}
