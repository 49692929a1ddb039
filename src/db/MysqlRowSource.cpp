#include "MysqlRowSource.h"

#include "RowStore.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <mysql.h>

namespace {

constexpr unsigned BinaryCharset = 63;

bool isBinary(const MYSQL_FIELD &field)
{
    switch (field.type) {
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
        return field.charsetnr == BinaryCharset;
    case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_GEOMETRY:
        return true;
    default:
        return false;
    }
}

// Whatever further result sets a multi-statement text produced must be
// consumed, or the connection refuses the next command.
void skipRemainingResults(MYSQL *mysql)
{
    while (mysql_more_results(mysql) && mysql_next_result(mysql) == 0) {
        if (MYSQL_RES *extra = mysql_store_result(mysql))
            mysql_free_result(extra);
    }
}

} // namespace

MYSQL *MysqlRowSource::nativeHandle(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // Qt 6 names the type after the struct, older builds after the typedef.
    const char *type = handle.typeName();
    if (!handle.isValid() || (qstrcmp(type, "MYSQL*") != 0 && qstrcmp(type, "st_mysql*") != 0))
        return nullptr;
    return *static_cast<MYSQL *const *>(handle.constData());
}

StatementOutcome MysqlRowSource::run(MYSQL *mysql, const QString &sql)
{
    StatementOutcome outcome;
    const QByteArray text = sql.toUtf8();
    if (mysql_real_query(mysql, text.constData(), static_cast<unsigned long>(text.size())) != 0)
        return outcome;

    if (MYSQL_RES *result = mysql_use_result(mysql)) {
        outcome.kind = StatementOutcome::Rows;
        outcome.rows.reset(new MysqlRowSource(mysql, result));
        return outcome;
    }
    if (mysql_field_count(mysql) != 0)
        return outcome; // a result set was due but could not be read

    const my_ulonglong affected = mysql_affected_rows(mysql);
    outcome.kind = StatementOutcome::NoResultSet;
    outcome.affectedRows = affected == my_ulonglong(~0ULL) ? -1 : qint64(affected);
    skipRemainingResults(mysql);
    return outcome;
}

MysqlRowSource::MysqlRowSource(MYSQL *mysql, MYSQL_RES *result)
    : m_mysql(mysql)
    , m_result(result)
    , m_columnCount(int(mysql_num_fields(result)))
{
    const MYSQL_FIELD *fields = mysql_fetch_fields(result);
    m_columns.reserve(m_columnCount);
    for (int c = 0; c < m_columnCount; ++c) {
        ColumnInfo column;
        column.name = QString::fromUtf8(fields[c].name, fields[c].name_length);
        column.binary = isBinary(fields[c]);
        column.numeric = IS_NUM(fields[c].type) && fields[c].type != MYSQL_TYPE_TIMESTAMP;
        m_columns.append(column);
    }
}

MysqlRowSource::~MysqlRowSource()
{
    close();
}

int MysqlRowSource::fetch(RowStore &store, int maxRows)
{
    int appended = 0;
    while (m_result && appended < maxRows) {
        MYSQL_ROW row = mysql_fetch_row(m_result);
        if (!row) {
            m_failed = mysql_errno(m_mysql) != 0;
            close();
            break;
        }
        store.appendRow(row, mysql_fetch_lengths(m_result), m_columnCount);
        ++appended;
    }
    return appended;
}

void MysqlRowSource::close()
{
    if (!m_result)
        return;
    // Freeing an unfinished streamed result reads and drops the rest.
    mysql_free_result(m_result);
    m_result = nullptr;
    if (!m_failed)
        skipRemainingResults(m_mysql);
}
