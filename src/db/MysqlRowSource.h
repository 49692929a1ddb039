#pragma once

#include "RowSource.h"

typedef struct st_mysql MYSQL;
typedef struct st_mysql_res MYSQL_RES;

// Rows read one by one from MariaDB Connector/C (mysql_use_result), so the
// first screen shows before the last row has left the server and no row is
// ever held twice. Values stay the server's text, digit for digit.
class MysqlRowSource : public RowSource
{
public:
    // Takes over a result from mysql_use_result().
    MysqlRowSource(MYSQL *mysql, MYSQL_RES *result);
    ~MysqlRowSource() override;

    QList<ColumnInfo> columns() const override { return m_columns; }
    int fetch(RowStore &store, int maxRows) override;
    bool atEnd() const override { return !m_result; }
    DbError error() const override { return m_error; }

    // Lets go of the result. Whatever the server still sends is read and
    // dropped, so the connection can run the next statement.
    void close();

private:
    MYSQL *m_mysql;
    MYSQL_RES *m_result;
    int m_columnCount;
    DbError m_error;
    QList<ColumnInfo> m_columns;
};
