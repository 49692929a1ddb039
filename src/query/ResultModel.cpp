#include "ResultModel.h"

#include "DatabaseConnection.h"

#include <QBrush>
#include <QTimer>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>

#include "RowOrder.h"

#include <limits>

namespace {

// Room for the cell's margins, and in the header for the sort arrow.
constexpr int CellPadding = 12;
constexpr int HeaderPadding = 28;

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
    m_connection = connection;
    connect(connection, &DatabaseConnection::rowsArrived, this,
            [this, streamId](quint64 id, const std::shared_ptr<RowStore> &batch) {
                if (id != streamId || !m_loading)
                    return;
                // Batches that arrive while the window is busy are taken in
                // together, in one pass, not one event-loop round each.
                m_pending.push_back(batch);
                if (m_pending.size() == 1)
                    QTimer::singleShot(0, this, &ResultModel::takePendingRows);
            });
    connect(connection, &DatabaseConnection::streamEnded, this,
            [this, streamId](quint64 id, const StreamEnd &end) {
                if (id != streamId)
                    return;
                takePendingRows();
                endStream(end);
            });
}

void ResultModel::takePendingRows()
{
    if (m_pending.empty() || !m_loading)
        return;
    try {
        for (const std::shared_ptr<RowStore> &batch : m_pending)
            m_rows.append(std::move(*batch));
        m_pending.clear();
        publishRows();
    } catch (const std::bad_alloc &) {
        // Out of memory ends this result, never the program: the rows so
        // far stay, the rest is not read.
        m_pending.clear();
        publishRows();
        StreamEnd end;
        end.kind = StreamEnd::Cut;
        endStream(end);
        if (m_connection)
            m_connection->cancel();
    }
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
        return displayText(rawCell(index.row(), index.column()), index.column());
    case Qt::ForegroundRole:
        if (rawCell(index.row(), index.column()).isNull)
            return QBrush(QColor(0x80, 0x80, 0x80));
        return {};
    case Qt::FontRole:
        if (rawCell(index.row(), index.column()).isNull) {
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
    const RowStore::Cell cell = rawCell(row, column);
    if (cell.isNull)
        return QStringLiteral("NULL");
    if (m_columns[column].binary)
        return hexText(cell.data, cell.size, cell.size);
    return QString::fromUtf8(cell.data, cell.size);
}

bool ResultModel::isNull(int row, int column) const
{
    return rawCell(row, column).isNull;
}

RowStore::Cell ResultModel::rawCell(int row, int column) const
{
    return m_rows.cell(storedRow(row), column);
}

void ResultModel::sort(int column, Qt::SortOrder order)
{
    if (column >= columnCount() || (column < 0 && m_order.empty()))
        return;
    // Every row takes part in a sort: it happens once the last row is in.
    if (isLoading()) {
        m_pendingSort = { column, order };
        return;
    }

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> stored;
    stored.reserve(size_t(before.size()));
    for (const QModelIndex &index : before)
        stored.push_back(storedRow(index.row()));

    if (column < 0)
        m_order.clear();
    else
        m_order = sortedRows(m_rows, m_shownRows, column, m_columns[column].numeric,
                             order == Qt::DescendingOrder);

    if (!before.isEmpty()) {
        std::vector<int> shownAt(static_cast<size_t>(m_shownRows));
        for (int r = 0; r < m_shownRows; ++r)
            shownAt[size_t(storedRow(r))] = r;
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            after.append(index(shownAt[size_t(stored[size_t(i)])], before[i].column()));
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ResultModel::columnWidthHint(int column, const QFontMetrics &metrics) const
{
    int width = metrics.horizontalAdvance(m_columns[column].name) + HeaderPadding;
    if (m_rows.rowCount() == 0)
        return qMin(width, MaxColumnWidth);
    const RowStore::Widest &widest = m_rows.widest(column);
    int values = widest.hasNull ? metrics.horizontalAdvance(QStringLiteral("NULL")) : 0;
    // The value with the most display units is the widest but for
    // proportional-font quirks; the longest in bytes covers binary columns,
    // whose hex text grows with the byte count.
    for (const qsizetype row : { widest.unitsRow, widest.bytesRow }) {
        if (row >= 0)
            values = qMax(values, metrics.horizontalAdvance(displayText(m_rows.cell(row, column), column)));
    }
    return qMin(qMax(width, values + CellPadding), MaxColumnWidth);
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
    emit loadingFinished();
    const auto pending = std::exchange(m_pendingSort, { -1, Qt::AscendingOrder });
    if (pending.first >= 0)
        sort(pending.first, pending.second);
}
