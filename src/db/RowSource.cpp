#include "RowSource.h"

#include "MysqlRowSource.h"
#include "QueryRowSource.h"

#include <QSqlDatabase>

RowSource::~RowSource() = default;

StatementOutcome runStatement(const QSqlDatabase &db, const QString &sql)
{
    if (MYSQL *mysql = MysqlRowSource::nativeHandle(db))
        return MysqlRowSource::run(mysql, sql);
    return QueryRowSource::run(db, sql);
}
