#include "ResultModel.h"

#include "DatabaseConnection.h"

#include <QBrush>
#include <QTimer>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>

#include "RowOrder.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>

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
    return parent.isValid() ? 0 : m_shownRows + m_edits.newRowCount();
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
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= m_columns.size())
        return {};
    const int row = index.row(), column = index.column();
    // A new row's cell that was not given: the server fills in its DEFAULT.
    const bool defaulted = row >= m_shownRows && !m_edits.newCell(row - m_shownRows, column);
    switch (role) {
    case Qt::DisplayRole:
        return defaulted ? QStringLiteral("DEFAULT") : displayText(rawCell(row, column), column);
    case Qt::EditRole:
        return rawCell(row, column).isNull ? QString() : cellText(row, column);
    case Qt::ForegroundRole:
        if (defaulted || rawCell(row, column).isNull)
            return QBrush(QColor(0x80, 0x80, 0x80));
        return {};
    case Qt::FontRole: {
        const bool deleted = row < m_shownRows && m_edits.isDeleted(storedRow(row));
        if (!deleted && !defaulted && !rawCell(row, column).isNull)
            return {};
        QFont font;
        font.setItalic(!deleted);
        font.setStrikeOut(deleted);
        return font;
    }
    case Qt::BackgroundRole:
        if (row >= m_shownRows)
            return QBrush(QColor(0xD8, 0xF2, 0xD8)); // new
        if (m_edits.isEmpty())
            return {};
        if (m_edits.isDeleted(storedRow(row)))
            return QBrush(QColor(0xF6, 0xCF, 0xCF));
        if (m_edits.edited(storedRow(row), column))
            return QBrush(QColor(0xFF, 0xEE, 0xA8));
        return {};
    case Qt::TextAlignmentRole:
        if (m_columns[column].numeric)
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
    if (const EditBuffer::Value *value = editedValue(row, column))
        return *value ? RowStore::Cell{ (*value)->constData(), (*value)->size(), false } : RowStore::Cell{};
    return readCell(row, column);
}

RowStore::Cell ResultModel::readCell(int row, int column) const
{
    if (row >= m_shownRows)
        return {};
    return m_rows.cell(storedRow(row), column);
}

const EditBuffer::Value *ResultModel::editedValue(int row, int column) const
{
    if (m_edits.isEmpty())
        return nullptr;
    if (row >= m_shownRows)
        return m_edits.newCell(row - m_shownRows, column);
    return m_edits.edited(storedRow(row), column);
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
        stored.push_back(index.row() < m_shownRows ? storedRow(index.row()) : -1);

    const bool descending = order == Qt::DescendingOrder;
    const bool numeric = column >= 0 && m_columns[column].numeric;
    if (column < 0)
        m_order.clear();
    else if (m_base.empty())
        m_order = sortedRows(m_rows, m_shownRows, column, numeric, descending);
    else
        m_order = sortedRows(m_rows, m_base, column, numeric, descending);

    if (!before.isEmpty()) {
        // New rows stay last, where they were.
        std::vector<int> shownAt(size_t(m_rows.rowCount()), -1);
        for (int r = 0; r < m_shownRows; ++r)
            shownAt[size_t(storedRow(r))] = r;
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i) {
            const int s = stored[size_t(i)];
            after.append(s < 0 ? before[i] : index(shownAt[size_t(s)], before[i].column()));
        }
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
    decideEditable();
    const auto pending = std::exchange(m_pendingSort, { -1, Qt::AscendingOrder });
    if (pending.first >= 0)
        sort(pending.first, pending.second);
}

// Editing ------------------------------------------------------------------

void ResultModel::decideEditable()
{
    if (m_end.kind != StreamEnd::Complete) {
        m_target = EditTarget::readOnly(QStringLiteral("結果が途中までです"));
        emit editabilityDecided();
        return;
    }
    m_target = EditTarget::fromResult(m_statement, m_columns);
    if (m_target.needsKey())
        lookUpKey();
    else
        emit editabilityDecided();
}

void ResultModel::lookUpKey()
{
    if (!m_connection || m_connection->state() != DatabaseConnection::Open) {
        keyFound(nullptr, QStringLiteral("接続がありません"));
        return;
    }
    // The table's indexes come on the same connection, after the rows: the
    // answer is the table as this session sees it.
    auto rows = std::make_shared<RowStore>();
    QPointer<ResultModel> self(this);
    auto arrived = std::make_shared<QMetaObject::Connection>();
    auto ended = std::make_shared<QMetaObject::Connection>();
    *arrived = connect(m_connection, &DatabaseConnection::rowsArrived, this,
                       [this, rows](quint64 id, const std::shared_ptr<RowStore> &batch) {
                           if (id == m_keyStream && m_keyStream != 0)
                               rows->append(std::move(*batch));
                       });
    *ended = connect(m_connection, &DatabaseConnection::streamEnded, this,
                     [this, rows, arrived, ended](quint64 id, const StreamEnd &end) {
                         if (id != m_keyStream || m_keyStream == 0)
                             return;
                         disconnect(*arrived);
                         disconnect(*ended);
                         m_keyStream = 0;
                         keyFound(end.kind == StreamEnd::Complete ? rows.get() : nullptr,
                                  end.error.text());
                     });
    m_connection->run(m_target.keyQuery(), false,
                      [self, rows, arrived, ended](const StatementResult &result) {
        if (!self)
            return;
        if (result.kind != StatementResult::Rows) {
            QObject::disconnect(*arrived);
            QObject::disconnect(*ended);
            self->keyFound(nullptr, result.error.text());
            return;
        }
        if (result.firstRows)
            rows->append(std::move(*result.firstRows));
        self->m_keyStream = result.streamId;
    });
}

void ResultModel::keyFound(const RowStore *indexRows, const QString &failure)
{
    if (indexRows)
        m_target.chooseKey(*indexRows);
    else
        m_target = EditTarget::readOnly(QStringLiteral("表のキーを調べられませんでした ") + failure);
    emit editabilityDecided();
}

bool ResultModel::isEditable() const
{
    return !m_loading && !m_applying && m_target.isEditable();
}

QString ResultModel::readOnlyReason() const
{
    if (m_loading)
        return QStringLiteral("行を読み込んでいます");
    if (m_applying)
        return QStringLiteral("変更を適用しています");
    if (m_target.needsKey())
        return QStringLiteral("表のキーを調べています");
    return m_target.reason();
}

Qt::ItemFlags ResultModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && isEditable()
        && (index.row() >= m_shownRows || !m_edits.isDeleted(storedRow(index.row()))))
        flags |= Qt::ItemIsEditable;
    return flags;
}

EditBuffer::Value ResultModel::valueFor(const QVariant &value, int column, QString *why) const
{
    if (!value.isValid())
        return std::nullopt;
    const QString text = value.toString();
    if (!m_columns[column].binary)
        return text.toUtf8();
    std::optional<QByteArray> bytes = EditBuffer::parseHex(text);
    if (!bytes)
        *why = QStringLiteral("バイナリの列には 0x に続けて 16 進数で入力して下さい");
    return bytes ? EditBuffer::Value(*bytes) : EditBuffer::Value();
}

bool ResultModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount()
        || index.column() >= m_columns.size())
        return false;
    QString why = isEditable() ? QString() : readOnlyReason();
    if (why.isEmpty() && index.row() < m_shownRows && m_edits.isDeleted(storedRow(index.row())))
        why = QStringLiteral("削除する行です");
    const EditBuffer::Value edited = why.isEmpty() ? valueFor(value, index.column(), &why)
                                                   : EditBuffer::Value();
    if (!why.isEmpty()) {
        emit editRefused(why);
        return false;
    }
    setEdited(index, edited);
    return true;
}

void ResultModel::setEdited(const QModelIndex &index, const EditBuffer::Value &value)
{
    const bool wasPending = hasPendingEdits();
    if (index.row() >= m_shownRows)
        m_edits.setNewCell(index.row() - m_shownRows, index.column(), value);
    else
        m_edits.setCell(storedRow(index.row()), index.column(), value);
    emit dataChanged(index, index);
    if (!wasPending)
        emit pendingEditsChanged(true);
}

int ResultModel::insertPendingRow()
{
    if (!isEditable()) {
        emit editRefused(readOnlyReason());
        return -1;
    }
    const bool wasPending = hasPendingEdits();
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_edits.addRow();
    endInsertRows();
    if (!wasPending)
        emit pendingEditsChanged(true);
    return row;
}

void ResultModel::markRowsDeleted(QList<int> rows)
{
    if (!isEditable()) {
        emit editRefused(readOnlyReason());
        return;
    }
    const bool wasPending = hasPendingEdits();
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (row < 0 || row >= rowCount())
            continue;
        if (row >= m_shownRows) {
            beginRemoveRows({}, row, row);
            m_edits.removeNewRow(row - m_shownRows);
            endRemoveRows();
            continue;
        }
        m_edits.markDeleted(storedRow(row));
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
    if (wasPending != hasPendingEdits())
        emit pendingEditsChanged(hasPendingEdits());
}

void ResultModel::discardEdits()
{
    if (!hasPendingEdits())
        return;
    if (m_applying) {
        emit editRefused(readOnlyReason());
        return;
    }
    if (const int added = m_edits.newRowCount()) {
        beginRemoveRows({}, m_shownRows, m_shownRows + added - 1);
        m_edits = EditBuffer();
        endRemoveRows();
    }
    m_edits.clear();
    if (m_shownRows > 0)
        emit dataChanged(index(0, 0), index(m_shownRows - 1, columnCount() - 1));
    emit pendingEditsChanged(false);
}

QList<EditBuffer::Change> ResultModel::pendingChanges() const
{
    if (!m_target.isEditable())
        return {};
    return m_edits.changes(m_rows, m_columns, m_target);
}

void ResultModel::editsCommitted(const std::vector<std::shared_ptr<RowStore>> &inserted,
                                 const QHash<int, std::shared_ptr<RowStore>> &updated)
{
    const int columns = int(m_columns.size());
    std::vector<const char *> cells(static_cast<size_t>(columns));
    std::vector<unsigned long> sizes(static_cast<size_t>(columns));
    auto append = [&](const std::vector<EditBuffer::Value> &values) {
        for (int c = 0; c < columns; ++c) {
            cells[size_t(c)] = values[size_t(c)] ? values[size_t(c)]->constData() : nullptr;
            sizes[size_t(c)] = values[size_t(c)] ? (unsigned long)values[size_t(c)]->size() : 0;
        }
        m_rows.appendRow(cells.data(), sizes.data(), columns);
        return int(m_rows.rowCount() - 1);
    };
    auto returned = [columns](const std::shared_ptr<RowStore> &store) {
        std::vector<EditBuffer::Value> values;
        if (!store || store->rowCount() != 1 || store->columnCount() != columns)
            return values;
        for (int c = 0; c < columns; ++c) {
            const RowStore::Cell cell = store->cell(0, c);
            values.push_back(cell.isNull ? EditBuffer::Value() : QByteArray(cell.data, cell.size));
        }
        return values;
    };
    QHash<int, int> replaced;
    QSet<int> removed;
    for (const int row : m_edits.deletedRows())
        removed.insert(row);
    for (const int row : m_edits.editedRows()) {
        if (removed.contains(row))
            continue;
        const std::vector<EditBuffer::Value> stored = returned(updated.value(row));
        replaced.insert(row, append(stored.empty() ? m_edits.editedRow(m_rows, row) : stored));
    }
    std::vector<int> added;
    for (const std::shared_ptr<RowStore> &store : inserted) {
        const std::vector<EditBuffer::Value> values = returned(store);
        if (!values.empty())
            added.push_back(append(values));
    }
    if (const int pendingRows = m_edits.newRowCount()) {
        beginRemoveRows({}, m_shownRows, m_shownRows + pendingRows - 1);
        for (int n = pendingRows - 1; n >= 0; --n)
            m_edits.removeNewRow(n);
        endRemoveRows();
    }
    m_edits.clear();
    changeStoredRows(replaced, removed, added);
    emit pendingEditsChanged(false);
}

void ResultModel::changeStoredRows(const QHash<int, int> &replaced, const QSet<int> &removed,
                                   const std::vector<int> &added)
{
    if (m_base.empty()) {
        m_base.resize(size_t(m_shownRows));
        std::iota(m_base.begin(), m_base.end(), 0);
    }
    for (std::vector<int> *rows : { &m_base, &m_order }) {
        for (int &row : *rows)
            row = replaced.value(row, row);
    }
    if (m_shownRows > 0)
        emit dataChanged(index(0, 0), index(m_shownRows - 1, columnCount() - 1));
    // The rows shown are m_order while sorted, else m_base; the other one
    // follows without telling the view.
    std::vector<int> &shown = m_order.empty() ? m_base : m_order;
    if (!m_order.empty())
        m_base.erase(std::remove_if(m_base.begin(), m_base.end(),
                                    [&](int row) { return removed.contains(row); }),
                     m_base.end());
    for (int r = m_shownRows - 1; r >= 0 && !removed.isEmpty(); --r) {
        if (!removed.contains(shown[size_t(r)]))
            continue;
        int first = r;
        while (first > 0 && removed.contains(shown[size_t(first - 1)]))
            --first;
        beginRemoveRows({}, first, r);
        shown.erase(shown.begin() + first, shown.begin() + r + 1);
        m_shownRows -= r - first + 1;
        endRemoveRows();
        r = first;
    }
    if (added.empty())
        return;
    beginInsertRows({}, m_shownRows, m_shownRows + int(added.size()) - 1);
    for (std::vector<int> *rows : { &m_base, &m_order }) {
        if (!rows->empty() || rows == &m_base)
            rows->insert(rows->end(), added.begin(), added.end());
    }
    m_shownRows += int(added.size());
    endInsertRows();
}
