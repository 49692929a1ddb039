#include "SchemaModel.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

SchemaModel::SchemaModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

void SchemaModel::setSnapshot(std::shared_ptr<const SchemaSnapshot> snapshot)
{
    beginResetModel();
    m_snapshot = std::move(snapshot);
    rebuild();
    endResetModel();
}

void SchemaModel::setFilter(const QString &text)
{
    if (text == m_filter)
        return;
    beginResetModel();
    m_filter = text;
    rebuild();
    endResetModel();
}

void SchemaModel::setMessage(const QString &text)
{
    if (text == m_message)
        return;
    beginResetModel();
    m_message = text;
    rebuild();
    endResetModel();
}

void SchemaModel::clear()
{
    beginResetModel();
    m_snapshot.reset();
    m_message.clear();
    rebuild();
    endResetModel();
}

void SchemaModel::rebuild()
{
    m_visible.clear();
    m_rowOf.clear();
    m_databaseRow = -1;
    if (!m_snapshot)
        return;
    if (!m_snapshot->database.isEmpty())
        m_databaseRow = int(m_snapshot->databases.indexOf(m_snapshot->database));
    const auto &tables = m_snapshot->tables;
    m_rowOf.assign(tables.size(), -1);
    m_visible.reserve(tables.size());
    for (size_t i = 0; i < tables.size(); ++i) {
        if (m_filter.isEmpty() || tables[i].name.contains(m_filter, Qt::CaseInsensitive)) {
            m_rowOf[i] = int(m_visible.size());
            m_visible.push_back(int(i));
        }
    }
}

int SchemaModel::currentDatabaseRow() const
{
    return m_databaseRow < 0 ? -1 : m_databaseRow + messageRows();
}

QModelIndex SchemaModel::currentDatabaseIndex() const
{
    const int row = currentDatabaseRow();
    return row < 0 ? QModelIndex() : index(row, 0);
}

QModelIndex SchemaModel::tableIndex(const QString &name) const
{
    if (!m_snapshot)
        return {};
    const int table = m_snapshot->tableIndex(name);
    if (table < 0 || m_snapshot->tables[size_t(table)].name != name || m_rowOf[size_t(table)] < 0)
        return {};
    return index(m_rowOf[size_t(table)], 0, currentDatabaseIndex());
}

QModelIndex SchemaModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column != 0 || row >= rowCount(parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, 0, TopId);
    if (parent.internalId() == TopId)
        return createIndex(row, 0, TableId);
    if (parent.internalId() == TableId)
        return createIndex(row, 0, quintptr(2 + m_visible[size_t(parent.row())]));
    return {};
}

QModelIndex SchemaModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.internalId() == TopId)
        return {};
    if (child.internalId() == TableId)
        return createIndex(currentDatabaseRow(), 0, TopId);
    const int table = int(child.internalId() - 2);
    return createIndex(m_rowOf[size_t(table)], 0, TableId);
}

int SchemaModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return messageRows() + (m_snapshot ? int(m_snapshot->databases.size()) : 0);
    if (parent.internalId() == TopId)
        return parent.row() == currentDatabaseRow() ? int(m_visible.size()) : 0;
    if (parent.internalId() == TableId)
        return int(m_snapshot->tables[size_t(m_visible[size_t(parent.row())])].columns.size());
    return 0;
}

int SchemaModel::columnCount(const QModelIndex &) const
{
    return 1;
}

SchemaModel::Kind SchemaModel::kindOf(const QModelIndex &index) const
{
    if (index.internalId() == TableId)
        return TableItem;
    if (index.internalId() != TopId)
        return ColumnItem;
    return index.row() < messageRows() ? MessageItem : DatabaseItem;
}

QVariant SchemaModel::tableData(int table, int role) const
{
    const SchemaTable &t = m_snapshot->tables[size_t(table)];
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return t.name;
    case Qt::ToolTipRole:
        return t.view ? QStringLiteral("ビュー") : QStringLiteral("テーブル");
    case Qt::DecorationRole:
        return QApplication::style()->standardIcon(t.view ? QStyle::SP_FileLinkIcon
                                                          : QStyle::SP_FileIcon);
    default:
        return {};
    }
}

QVariant SchemaModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const Kind kind = kindOf(index);
    if (role == KindRole)
        return int(kind);
    switch (kind) {
    case MessageItem:
        return role == Qt::DisplayRole || role == Qt::ToolTipRole ? QVariant(m_message) : QVariant();
    case DatabaseItem:
        if (role == Qt::DisplayRole || role == NameRole)
            return m_snapshot->databases.at(index.row() - messageRows());
        if (role == Qt::DecorationRole)
            return QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon);
        return {};
    case TableItem:
        return tableData(m_visible[size_t(index.row())], role);
    case ColumnItem: {
        const SchemaColumn &c =
            m_snapshot->tables[size_t(index.internalId() - 2)].columns.at(index.row());
        if (role == NameRole)
            return c.name;
        if (role == Qt::DisplayRole)
            return c.name + QLatin1Char(' ') + c.type;
        return {};
    }
    }
    return {};
}
