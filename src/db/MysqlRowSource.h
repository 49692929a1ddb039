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
    // The client handle behind a QMYSQL/QMARIADB connection, or null.
    static MYSQL *nativeHandle(const QSqlDatabase &db);
    static StatementOutcome run(MYSQL *mysql, const QString &sql);

    ~MysqlRowSource() override;

    QList<ColumnInfo> columns() const override { return m_columns; }
    int fetch(RowStore &store, int maxRows) override;
    bool atEnd() const override { return !m_result; }
    bool failed() const override { return m_failed; }

private:
    MysqlRowSource(MYSQL *mysql, MYSQL_RES *result);
    void close();

    MYSQL *m_mysql;
    MYSQL_RES *m_result;
    int m_columnCount;
    bool m_failed = false;
    QList<ColumnInfo> m_columns;
};
