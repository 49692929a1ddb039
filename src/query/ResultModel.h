#pragma once

#include "RowSource.h"
#include "RowStore.h"
#include "StatementResult.h"

#include <QAbstractTableModel>

#include <memory>

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
    void appendRows(RowStore &&batch);
    void endStream(const StreamEnd &end);
    bool isLoading() const { return m_loading; }
    bool loadFailed() const { return m_end.kind == StreamEnd::Failed; }
    const StreamEnd &streamEnd() const { return m_end; }

    // The whole value of a cell as the server sent it (hex for binary), and
    // whether it is SQL NULL.
    QString cellText(int row, int column) const;
    bool isNull(int row, int column) const;

signals:
    void loadingFinished();
    void loadingFailed();

private:
    void publishRows();
    QString displayText(const RowStore::Cell &cell, int column) const;

    QList<ColumnInfo> m_columns;
    RowStore m_rows;
    int m_shownRows = 0;
    bool m_loading = false;
    StreamEnd m_end;
};
