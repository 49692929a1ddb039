#include "SchemaReader.h"

#include "SqlWords.h"

#include <algorithm>

namespace {

// What completion offers where the server keeps no list of functions.
const char *const kFunctions[] = {
    "ABS", "ADDDATE", "AVG", "BIT_LENGTH", "CAST", "CEIL", "CHAR_LENGTH", "COALESCE", "CONCAT",
    "CONCAT_WS", "CONVERT", "COUNT", "CURDATE", "CURTIME", "DATE", "DATEDIFF", "DATE_ADD",
    "DATE_FORMAT", "DATE_SUB", "DAY", "DAYOFWEEK", "EXTRACT", "FIELD", "FIND_IN_SET", "FLOOR",
    "FORMAT", "FROM_UNIXTIME", "GREATEST", "GROUP_CONCAT", "HEX", "HOUR", "IF", "IFNULL",
    "INSTR", "ISNULL", "JSON_EXTRACT", "JSON_OBJECT", "JSON_VALUE", "LAST_INSERT_ID", "LEAST",
    "LEFT", "LENGTH", "LOCATE", "LOWER", "LPAD", "LTRIM", "MAX", "MD5", "MIN", "MINUTE", "MOD",
    "MONTH", "NOW", "NULLIF", "POW", "RAND", "REGEXP_REPLACE", "REPLACE", "REVERSE", "RIGHT",
    "ROUND", "RPAD", "RTRIM", "SECOND", "SHA2", "SIGN", "SQRT", "STR_TO_DATE", "SUBSTRING",
    "SUBSTRING_INDEX", "SUM", "SYSDATE", "TIMESTAMPDIFF", "TRIM", "TRUNCATE", "UNHEX",
    "UNIX_TIMESTAMP", "UPPER", "UUID", "WEEK", "YEAR",
};

bool byName(const SchemaTable &a, const SchemaTable &b)
{
    const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a.name < b.name;
}

} // namespace

SchemaReader::SchemaReader(MetadataConnection::Session &session)
    : m_session(session)
{
}

bool SchemaReader::isSystemSchema(const QString &name)
{
    static const QStringList system = { QStringLiteral("information_schema"),
                                        QStringLiteral("mysql"),
                                        QStringLiteral("performance_schema"),
                                        QStringLiteral("sys") };
    return system.contains(name, Qt::CaseInsensitive);
}

QStringList SchemaReader::readWordList(const QByteArray &sql)
{
    QStringList words;
    const DbError error = m_session.select(sql, 1, [&words](const QString *f) {
        if (!f[0].isEmpty())
            words.append(f[0].toUpper());
    });
    if (error.isSet())
        return {};
    words.sort();
    words.removeDuplicates();
    return words;
}

void SchemaReader::readWords(SchemaSnapshot &snapshot)
{
    // Both tables came with MariaDB 10.6; older servers and MySQL answer
    // with an error, and the built-in lists stand in.
    snapshot.keywords = readWordList("SELECT WORD FROM information_schema.KEYWORDS");
    if (snapshot.keywords.isEmpty())
        snapshot.keywords = sqlKeywords();
    snapshot.functions = readWordList("SELECT FUNCTION FROM information_schema.SQL_FUNCTIONS");
    if (snapshot.functions.isEmpty()) {
        for (const char *f : kFunctions)
            snapshot.functions.append(QString::fromLatin1(f));
    }
}

DbError SchemaReader::readNames(SchemaSnapshot &snapshot)
{
    snapshot.databases.clear();
    snapshot.tables.clear();
    snapshot.columnsLoaded = false;
    DbError error = m_session.select("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA", 1,
                                     [&snapshot](const QString *f) {
                                         if (!isSystemSchema(f[0]))
                                             snapshot.databases.append(f[0]);
                                     });
    if (error.isSet())
        return error;
    snapshot.databases.sort(Qt::CaseInsensitive);
    if (!snapshot.databases.contains(snapshot.database))
        snapshot.database.clear();
    if (!snapshot.database.isEmpty()) {
        error = m_session.select("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES "
                                 "WHERE TABLE_SCHEMA = " + m_session.literal(snapshot.database),
                                 2, [&snapshot](const QString *f) {
                                     snapshot.tables.push_back(
                                         SchemaTable{ f[0], f[1] == QLatin1String("VIEW"), {} });
                                 });
    }
    std::sort(snapshot.tables.begin(), snapshot.tables.end(), byName);
    snapshot.index();
    return error;
}

DbError SchemaReader::readColumns(SchemaSnapshot &snapshot)
{
    if (snapshot.database.isEmpty()) {
        snapshot.columnsLoaded = true;
        return DbError();
    }
    std::vector<std::vector<std::pair<int, SchemaColumn>>> found(snapshot.tables.size());
    int last = -1;
    QString lastName;
    const DbError error = m_session.select(
        "SELECT TABLE_NAME, COLUMN_NAME, COLUMN_TYPE, ORDINAL_POSITION "
        "FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = "
            + m_session.literal(snapshot.database),
        4, [&](const QString *f) {
            // Rows come table by table: look a table up only when it changes.
            if (last < 0 || f[0] != lastName) {
                lastName = f[0];
                last = snapshot.tableIndex(lastName);
                if (last >= 0 && snapshot.tables[size_t(last)].name != lastName)
                    last = -1;
            }
            // A table made after its names were read waits for the next load.
            if (last >= 0)
                found[size_t(last)].emplace_back(f[3].toInt(), SchemaColumn{ f[1], f[2] });
        });
    if (error.isSet())
        return error;
    for (size_t i = 0; i < found.size(); ++i) {
        auto &columns = found[i];
        std::stable_sort(columns.begin(), columns.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        QList<SchemaColumn> &target = snapshot.tables[i].columns;
        target.reserve(qsizetype(columns.size()));
        for (auto &column : columns)
            target.append(std::move(column.second));
    }
    snapshot.columnsLoaded = true;
    return DbError();
}
