#pragma once

#include "RowSource.h"
#include "RowStore.h"
#include "StatementResult.h"

#include <QAbstractTableModel>
#include <QPointer>

#include <memory>
#include <vector>

class QFontMetrics;

class DatabaseConnection;

// The grid's model for one query result. Rows arrive in batches from the
// database thread while the window stays responsive; rows it holds stay
// readable after the connection is gone.
class ResultModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Longest text a cell shows; the full value is longer only for huge
    // values that no cell could show anyway.
    static constexpr qsizetype MaxShownBytes = 4096;
    // Widest a column starts; longer values are elided.
    static constexpr int MaxColumnWidth = 320;

    ResultModel(const QList<ColumnInfo> &columns, std::shared_ptr<RowStore> firstRows,
                QObject *parent = nullptr);
    ~ResultModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Takes the rest of the rows from the connection's stream of this id.
    void follow(DatabaseConnection *connection, quint64 streamId);
    void endStream(const StreamEnd &end);
    bool isLoading() const { return m_loading; }
    bool loadFailed() const { return m_end.kind == StreamEnd::Failed; }
    const StreamEnd &streamEnd() const { return m_end; }

    // The whole value of a cell as the server sent it (hex for binary), and
    // whether it is SQL NULL.
    QString cellText(int row, int column) const;
    bool isNull(int row, int column) const;
    // A cell as the server sent it, by the row the grid shows it in.
    RowStore::Cell rawCell(int row, int column) const;
    const QList<ColumnInfo> &columns() const { return m_columns; }

    // Sorts the rows shown by one column (see RowOrder.h); a negative column
    // gives back the order the rows arrived in. The stored rows stay as
    // they are: the model keeps a permutation.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Width for a column that shows its widest value and header whole,
    // up to MaxColumnWidth, found without looking at every cell.
    int columnWidthHint(int column, const QFontMetrics &metrics) const;
    // Changes whenever some column's hint may have grown.
    quint64 widthVersion() const { return m_rows.widestVersion(); }

signals:
    void loadingFinished();

private:
    void publishRows();
    void takePendingRows();
    QString displayText(const RowStore::Cell &cell, int column) const;
    int storedRow(int row) const
    {
        return size_t(row) < m_order.size() ? m_order[size_t(row)] : row;
    }

    QList<ColumnInfo> m_columns;
    RowStore m_rows;
    int m_shownRows = 0;
    bool m_loading = false;
    std::vector<std::shared_ptr<RowStore>> m_pending;
    QPointer<DatabaseConnection> m_connection;
    StreamEnd m_end;
    // Shown row -> stored row while sorted; empty in arrival order. Rows
    // that arrive after a sort follow the sorted ones.
    std::vector<int> m_order;
    std::pair<int, Qt::SortOrder> m_pendingSort{ -1, Qt::AscendingOrder };
};
