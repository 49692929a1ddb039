#pragma once

#include "RowSource.h"

#include <QSqlQuery>

// Rows through the generic QSqlQuery interface, for drivers whose native
// result we do not read ourselves.
class QueryRowSource : public RowSource
{
public:
    explicit QueryRowSource(QSqlQuery &&query);

    QList<ColumnInfo> columns() const override { return m_columns; }
    int fetch(RowStore &store, int maxRows) override;
    bool atEnd() const override { return m_atEnd; }
    DbError error() const override { return m_error; }

private:
    QSqlQuery m_query;
    QList<ColumnInfo> m_columns;
    bool m_atEnd = false;
    DbError m_error;
};
