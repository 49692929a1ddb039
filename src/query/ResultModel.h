#pragma once

#include "EditBuffer.h"
#include "EditTarget.h"
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

    // The whole value of a cell as shown, pending edits included (hex for
    // binary), and whether it is SQL NULL.
    QString cellText(int row, int column) const;
    bool isNull(int row, int column) const;
    // A cell as shown, by the row the grid shows it in: as the server sent
    // it, or as edited. The data stays valid until the next edit.
    RowStore::Cell rawCell(int row, int column) const;
    // A cell as the server sent it (or as last committed from the grid).
    RowStore::Cell readCell(int row, int column) const;

    // Editing (see EditTarget and EditBuffer). The statement the rows came
    // from is read once the last row is in; until the table's key is known,
    // and for ever when there is none, the result is read-only.
    void setStatement(const QString &statement) { m_statement = statement; }
    bool isEditable() const;
    // Why cells cannot be edited now; empty when they can.
    QString readOnlyReason() const;
    bool hasPendingEdits() const { return !m_edits.isEmpty(); }
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Qt::EditRole: a QString is the text (for a binary column 0x… hex), an
    // invalid QVariant is SQL NULL.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    // Adds an empty new row at the end; its shown row, or -1.
    int insertPendingRow();
    // Marks rows (as shown) for deletion; a new row simply goes.
    void markRowsDeleted(QList<int> rows);
    // Back to the rows as read: marks gone, new rows gone.
    void discardEdits();
    QList<EditBuffer::Change> pendingChanges() const;
    const EditTarget &editTarget() const { return m_target; }
    // No edits while a change is on its way to the server.
    void setApplying(bool applying) { m_applying = applying; }
    // The pending edits are committed: edited rows show the row the server
    // gave back (`updated`, by stored row; where none, the values as
    // edited), deleted rows go, and each new row is replaced by the row the
    // server returned for it (`inserted`, in order; null where none).
    void editsCommitted(const std::vector<std::shared_ptr<RowStore>> &inserted,
                        const QHash<int, std::shared_ptr<RowStore>> &updated = {});
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
    // The result turned out editable or read-only.
    void editabilityDecided();
    void editRefused(const QString &reason);
    void pendingEditsChanged(bool pending);

private:
    void publishRows();
    void takePendingRows();
    QString displayText(const RowStore::Cell &cell, int column) const;
    int storedRow(int row) const
    {
        if (size_t(row) < m_order.size())
            return m_order[size_t(row)];
        return size_t(row) < m_base.size() ? m_base[size_t(row)] : row;
    }
    void decideEditable();
    void lookUpKey();
    void keyFound(const RowStore *indexRows, const QString &failure);
    EditBuffer::Value valueFor(const QVariant &value, int column, QString *why) const;
    const EditBuffer::Value *editedValue(int row, int column) const;
    void setEdited(const QModelIndex &index, const EditBuffer::Value &value);
    void changeStoredRows(const QHash<int, int> &replaced, const QSet<int> &removed,
                          const std::vector<int> &added);

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
    // The rows shown in arrival order once committed edits replaced or
    // removed some; empty while that is every stored row in order.
    std::vector<int> m_base;

    QString m_statement;
    EditTarget m_target = EditTarget::readOnly(QStringLiteral("行を読み込んでいます"));
    EditBuffer m_edits;
    bool m_applying = false;
    quint64 m_keyStream = 0;
};
