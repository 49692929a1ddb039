#pragma once

#include "RowSource.h"
#include "RowStore.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class EditTarget;

// The grid's pending changes to one result, and the statements that make
// them: an UPDATE per edited row naming only the columns edited, an INSERT
// per new row naming only the columns given, a DELETE per deleted row. Each
// finds its row by the key's values as they were read, never by what is
// shown, so an edited key still finds its row. Rows are the result's
// stored rows; new rows are counted from 0.
class EditBuffer
{
public:
    // The bytes of a value (UTF-8 text, or the raw bytes of a binary
    // column); none is SQL NULL.
    using Value = std::optional<QByteArray>;

    struct Change
    {
        enum Kind { Delete, Update, Insert };
        Kind kind = Update;
        int row = -1;    // stored row, or new row for an Insert
        QString sql;
        QString rowName; // the key as read: "id=3"; for a new row its number
        // For an Update: reads the row back by its key as edited, so the grid
        // shows what the server stored (ON UPDATE columns, conversions).
        QString readBack;
    };

    bool isEmpty() const { return m_edits.isEmpty() && m_deleted.isEmpty() && m_newRows.empty(); }
    void clear();

    void setCell(int row, int column, const Value &value) { m_edits[row][column] = value; }
    // The edited value, or null when the cell was not edited.
    const Value *edited(int row, int column) const;
    bool isEdited(int row) const { return m_edits.contains(row); }
    void markDeleted(int row) { m_deleted.insert(row); }
    bool isDeleted(int row) const { return m_deleted.contains(row); }

    int addRow();
    void removeNewRow(int newRow);
    int newRowCount() const { return int(m_newRows.size()); }
    void setNewCell(int newRow, int column, const Value &value);
    const Value *newCell(int newRow, int column) const;

    // Deletes first, so a new row may take a deleted row's key.
    QList<Change> changes(const RowStore &rows, const QList<ColumnInfo> &columns,
                          const EditTarget &target) const;
    // An edited row whole: its cells as read with the edits laid over them.
    std::vector<Value> editedRow(const RowStore &rows, int row) const;
    QList<int> editedRows() const;
    QList<int> deletedRows() const;

    // How a value goes into a statement, whatever the session's sql_mode:
    // numbers bare, text quoted with '' doubled, anything with a backslash
    // or a control character as _utf8mb4 X'…', binary as X'…'.
    static QString literal(const Value &value, const ColumnInfo &column);
    // What the user typed for a binary column: 0x followed by hex digits.
    static std::optional<QByteArray> parseHex(const QString &text);

private:
    // The key's values as read, or with `edited` as they will be after the
    // row's UPDATE.
    QString keyCondition(const RowStore &rows, int row, const QList<ColumnInfo> &columns,
                         const EditTarget &target, QString *rowName, bool edited = false) const;

    QHash<int, QMap<int, Value>> m_edits;
    QSet<int> m_deleted;
    std::vector<QMap<int, Value>> m_newRows;
};
