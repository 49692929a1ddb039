#include "MysqlRowSource.h"

#include "NativeConnection.h"
#include "RowStore.h"

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

} // namespace

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
        column.database = QString::fromUtf8(fields[c].db, fields[c].db_length);
        column.table = QString::fromUtf8(fields[c].table, fields[c].table_length);
        column.originTable = QString::fromUtf8(fields[c].org_table, fields[c].org_table_length);
        column.originName = QString::fromUtf8(fields[c].org_name, fields[c].org_name_length);
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
            if (mysql_errno(m_mysql) != 0)
                m_error = NativeConnection::lastError(m_mysql);
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
    mysql_free_result(m_result);
    m_result = nullptr;
}
