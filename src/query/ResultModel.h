#pragma once

#include "RowSource.h"
#include "RowStore.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <memory>

// The grid's model for one query result. It owns the statement's row source
// and reads it in slices from the event loop, so the first screen shows at
// once and the window stays responsive while the rest arrives. Rows it has
// read stay readable after the connection is gone.
class ResultModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Longest text a cell shows; the full value is longer only for huge
    // values that no cell could show anyway.
    static constexpr qsizetype MaxShownBytes = 4096;

    explicit ResultModel(std::unique_ptr<RowSource> source, QObject *parent = nullptr);
    ~ResultModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Reads at least this many rows now (fewer if the result is shorter),
    // then goes on in the background.
    void loadFirstRows(int rows);
    // Reads everything that is left, now. Afterwards the model no longer
    // touches the connection.
    void finishLoading();
    bool isLoading() const { return m_source != nullptr; }
    bool loadFailed() const { return m_failed; }

    // The whole value of a cell as the server sent it (hex for binary), and
    // whether it is SQL NULL.
    QString cellText(int row, int column) const;
    bool isNull(int row, int column) const;

signals:
    void loadingFinished();
    void loadingFailed();

private:
    void loadSlice();
    void readRows(int maxRows);
    void publishRows();
    void endOfSource();
    QString displayText(const RowStore::Cell &cell, int column) const;

    std::unique_ptr<RowSource> m_source;
    QList<ColumnInfo> m_columns;
    RowStore m_rows;
    int m_shownRows = 0;
    bool m_failed = false;
    QTimer m_slices;
};
