#pragma once

#include "RowSource.h"

#include <QSqlQuery>

// Rows through the generic QSqlQuery interface, for drivers whose native
// result we do not read ourselves.
class QueryRowSource : public RowSource
{
public:
    static StatementOutcome run(const QSqlDatabase &db, const QString &sql);

    QList<ColumnInfo> columns() const override { return m_columns; }
    int fetch(RowStore &store, int maxRows) override;
    bool atEnd() const override { return m_atEnd; }
    bool failed() const override { return m_failed; }

private:
    explicit QueryRowSource(QSqlQuery &&query);

    QSqlQuery m_query;
    QList<ColumnInfo> m_columns;
    bool m_atEnd = false;
    bool m_failed = false;
};
