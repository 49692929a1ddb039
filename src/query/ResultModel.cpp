#include "ResultModel.h"

#include "DatabaseConnection.h"

#include <QBrush>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>

#include <limits>

namespace {

QString hexText(const char *data, qsizetype size, qsizetype limit)
{
    const qsizetype shown = qMin(size, limit);
    QString text = QStringLiteral("0x")
        + QString::fromLatin1(QByteArray::fromRawData(data, shown).toHex().toUpper());
    if (shown < size)
        text += QChar(0x2026);
    return text;
}

} // namespace

ResultModel::ResultModel(const QList<ColumnInfo> &columns, std::shared_ptr<RowStore> firstRows,
                         QObject *parent)
    : QAbstractTableModel(parent)
    , m_columns(columns)
{
    if (firstRows)
        m_rows.append(std::move(*firstRows));
    m_shownRows = int(qMin<qsizetype>(m_rows.rowCount(), std::numeric_limits<int>::max()));
    m_end.rows = m_rows.rowCount();
}

void ResultModel::follow(DatabaseConnection *connection, quint64 streamId)
{
    m_loading = true;
    connect(connection, &DatabaseConnection::rowsArrived, this,
            [this, streamId](quint64 id, const std::shared_ptr<RowStore> &batch) {
                if (id == streamId && m_loading)
                    appendRows(std::move(*batch));
            });
    connect(connection, &DatabaseConnection::streamEnded, this,
            [this, streamId](quint64 id, const StreamEnd &end) {
                if (id == streamId)
                    endStream(end);
            });
}

ResultModel::~ResultModel() = default;

int ResultModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shownRows;
}

int ResultModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QString ResultModel::displayText(const RowStore::Cell &cell, int column) const
{
    if (cell.isNull)
        return QStringLiteral("NULL");
    if (m_columns[column].binary)
        return hexText(cell.data, cell.size, MaxShownBytes / 2);
    if (cell.size <= MaxShownBytes)
        return QString::fromUtf8(cell.data, cell.size);
    // Cut on a character boundary: UTF-8 continuation bytes are 10xxxxxx.
    qsizetype cut = MaxShownBytes;
    while (cut > 0 && (quint8(cell.data[cut]) & 0xC0) == 0x80)
        --cut;
    return QString::fromUtf8(cell.data, cut) + QChar(0x2026);
}

QVariant ResultModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shownRows || index.column() >= m_columns.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return displayText(m_rows.cell(index.row(), index.column()), index.column());
    case Qt::ForegroundRole:
        if (m_rows.cell(index.row(), index.column()).isNull)
            return QBrush(QColor(0x80, 0x80, 0x80));
        return {};
    case Qt::FontRole:
        if (m_rows.cell(index.row(), index.column()).isNull) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (m_columns[index.column()].numeric)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? QVariant(m_columns[section].name)
                                                          : QVariant();
    return section + 1;
}

QString ResultModel::cellText(int row, int column) const
{
    const RowStore::Cell cell = m_rows.cell(row, column);
    if (cell.isNull)
        return QStringLiteral("NULL");
    if (m_columns[column].binary)
        return hexText(cell.data, cell.size, cell.size);
    return QString::fromUtf8(cell.data, cell.size);
}

bool ResultModel::isNull(int row, int column) const
{
    return m_rows.cell(row, column).isNull;
}

void ResultModel::appendRows(RowStore &&batch)
{
    m_rows.append(std::move(batch));
    publishRows();
}

void ResultModel::publishRows()
{
    const qsizetype stored = qMin<qsizetype>(m_rows.rowCount(), std::numeric_limits<int>::max());
    if (stored <= m_shownRows)
        return;
    beginInsertRows({}, m_shownRows, int(stored) - 1);
    m_shownRows = int(stored);
    endInsertRows();
}

void ResultModel::endStream(const StreamEnd &end)
{
    if (!m_loading)
        return;
    m_loading = false;
    m_end = end;
    m_end.rows = m_rows.rowCount();
    if (end.kind == StreamEnd::Failed)
        emit loadingFailed();
    emit loadingFinished();
}
