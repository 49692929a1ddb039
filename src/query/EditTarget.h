#pragma once

#include "RowSource.h"

#include <QList>
#include <QString>

class RowStore;

// The table a result's cells can be written back to, and the key that finds
// each row again, or why the result stays read-only. A result is editable
// only when it certainly shows whole rows of one base table, each row
// identified by a key wholly in the result: a SELECT over one table without
// join, grouping, DISTINCT or set operation, every column a plain column
// of that table, and a primary key or a unique key of NOT NULL columns.
// The statement's text says what the query does; the server's column
// metadata says where each column comes from; the table's indexes (asked
// for with keyQuery()) say which key there is.
class EditTarget
{
public:
    // Reads the statement (with the one lexer) and the columns: either a
    // candidate that still needs its key, or read-only with the reason.
    static EditTarget fromResult(const QString &statement, const QList<ColumnInfo> &columns);
    static EditTarget readOnly(const QString &reason);

    // Asks the server for the table's indexes: SHOW INDEX rows, which a view
    // does not have.
    QString keyQuery() const;
    // Picks the key from the rows keyQuery() gave; without a usable one the
    // target becomes read-only.
    void chooseKey(const RowStore &indexRows);

    bool isEditable() const { return m_reason.isEmpty() && !m_key.isEmpty(); }
    bool needsKey() const { return m_reason.isEmpty() && m_key.isEmpty(); }
    QString reason() const { return m_reason; }

    // `db`.`table` as statements name it.
    QString qualifiedTable() const;
    QString columnName(int column) const; // quoted
    const QList<int> &keyColumns() const { return m_key; }
    int columnCount() const { return int(m_columns.size()); }

    static QString quoteName(const QString &name);

private:
    QString m_reason;
    QString m_database;
    QString m_table;
    QStringList m_columns; // origin names, by result column
    QList<int> m_key;      // result columns, in the key's order
};
