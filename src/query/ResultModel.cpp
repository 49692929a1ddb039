#include "ResultModel.h"

#include <QBrush>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>

#include "RowOrder.h"

#include <limits>

namespace {

// One slice of background reading; well under a frame's worth of stall.
constexpr qint64 SliceMillis = 15;
constexpr int RowsPerStep = 512;
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

ResultModel::ResultModel(std::unique_ptr<RowSource> source, QObject *parent)
    : QAbstractTableModel(parent)
    , m_source(std::move(source))
    , m_columns(m_source ? m_source->columns() : QList<ColumnInfo>())
{
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &ResultModel::loadSlice);
    if (m_source && m_source->atEnd())
        endOfSource();
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
    // Every row takes part in a sort: the rest of a stream is read first.
    // This is the one place sorting waits for the end of the result.
    if (isLoading())
        finishLoading();

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> stored;
    stored.reserve(size_t(before.size()));
    for (const QModelIndex &index : before)
        stored.push_back(storedRow(index.row()));

    m_sortColumn = column;
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

void ResultModel::readRows(int maxRows)
{
    m_source->fetch(m_rows, maxRows);
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

void ResultModel::endOfSource()
{
    m_slices.stop();
    m_failed = m_source->failed();
    m_source.reset();
    if (m_failed)
        emit loadingFailed();
    emit loadingFinished();
}

void ResultModel::loadFirstRows(int rows)
{
    if (!m_source)
        return;
    readRows(rows);
    publishRows();
    if (m_source->atEnd())
        endOfSource();
    else
        m_slices.start();
}

void ResultModel::loadSlice()
{
    if (!m_source)
        return;
    QElapsedTimer clock;
    clock.start();
    while (!m_source->atEnd() && clock.elapsed() < SliceMillis)
        readRows(RowsPerStep);
    publishRows();
    if (m_source->atEnd())
        endOfSource();
}

void ResultModel::finishLoading()
{
    if (!m_source)
        return;
    while (!m_source->atEnd())
        readRows(64 * RowsPerStep);
    publishRows();
    endOfSource();
}
