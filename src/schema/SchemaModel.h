#pragma once

#include "SchemaSnapshot.h"

#include <QAbstractItemModel>

#include <memory>
#include <vector>

// The tree of what the server holds: the databases the user sees at the
// top, the current database's tables and views below it, and each table's
// columns ("name type") below that. A filter keeps the tables whose names
// hold its text. A line of its own says when loading failed or is on its way.
class SchemaModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Roles { NameRole = Qt::UserRole + 1, KindRole };
    enum Kind { MessageItem, DatabaseItem, TableItem, ColumnItem };

    explicit SchemaModel(QObject *parent = nullptr);

    void setSnapshot(std::shared_ptr<const SchemaSnapshot> snapshot);
    std::shared_ptr<const SchemaSnapshot> snapshot() const { return m_snapshot; }
    void setFilter(const QString &text);
    // A line above the databases; empty removes it.
    void setMessage(const QString &text);
    void clear();
    QModelIndex currentDatabaseIndex() const;
    QModelIndex tableIndex(const QString &name) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    // internalId: 0 a top-level row, 1 a table, 2 + n a column of table n.
    static constexpr quintptr TopId = 0;
    static constexpr quintptr TableId = 1;
    void rebuild();
    int messageRows() const { return m_message.isEmpty() ? 0 : 1; }
    int currentDatabaseRow() const;
    Kind kindOf(const QModelIndex &index) const;
    QVariant tableData(int table, int role) const;

    std::shared_ptr<const SchemaSnapshot> m_snapshot;
    QString m_filter;
    QString m_message;
    std::vector<int> m_visible; // the tables the filter keeps, as snapshot indexes
    std::vector<int> m_rowOf;   // snapshot index -> row among the visible, or -1
    int m_databaseRow = -1;
};
