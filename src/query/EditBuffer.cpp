#include "EditBuffer.h"

#include "EditTarget.h"

#include <algorithm>

namespace {

bool isNumberText(const QByteArray &text)
{
    // What a server writes for a number: sign, digits, point, exponent.
    qsizetype i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    bool digits = false;
    while (i < text.size() && (std::isdigit(uchar(text[i])) || text[i] == '.')) {
        digits = digits || text[i] != '.';
        ++i;
    }
    if (digits && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            ++i;
        if (i == text.size())
            return false;
        while (i < text.size() && std::isdigit(uchar(text[i])))
            ++i;
    }
    return digits && i == text.size() && text.count('.') <= 1;
}

bool quotesSafely(const QByteArray &text)
{
    return std::none_of(text.cbegin(), text.cend(), [](char c) {
        return c == '\\' || (uchar(c) < 0x20 && c != '\t' && c != '\n' && c != '\r');
    });
}

EditBuffer::Value storedValue(const RowStore &rows, int row, int column)
{
    const RowStore::Cell cell = rows.cell(row, column);
    if (cell.isNull)
        return std::nullopt;
    return QByteArray(cell.data, cell.size);
}

} // namespace

void EditBuffer::clear()
{
    m_edits.clear();
    m_deleted.clear();
    m_newRows.clear();
}

const EditBuffer::Value *EditBuffer::edited(int row, int column) const
{
    const auto it = m_edits.constFind(row);
    if (it == m_edits.constEnd())
        return nullptr;
    const auto cell = it->constFind(column);
    return cell == it->constEnd() ? nullptr : &*cell;
}

int EditBuffer::addRow()
{
    m_newRows.emplace_back();
    return int(m_newRows.size()) - 1;
}

void EditBuffer::removeNewRow(int newRow)
{
    if (newRow >= 0 && size_t(newRow) < m_newRows.size())
        m_newRows.erase(m_newRows.begin() + newRow);
}

void EditBuffer::setNewCell(int newRow, int column, const Value &value)
{
    m_newRows[size_t(newRow)][column] = value;
}

const EditBuffer::Value *EditBuffer::newCell(int newRow, int column) const
{
    const QMap<int, Value> &cells = m_newRows[size_t(newRow)];
    const auto it = cells.constFind(column);
    return it == cells.constEnd() ? nullptr : &*it;
}

QString EditBuffer::literal(const Value &value, const ColumnInfo &column)
{
    if (!value)
        return QStringLiteral("NULL");
    const QByteArray &bytes = *value;
    if (column.binary)
        return QStringLiteral("X'") + QString::fromLatin1(bytes.toHex().toUpper()) + QLatin1Char('\'');
    // A DECIMAL compared with a quoted string would be compared as a double.
    if (column.numeric && isNumberText(bytes))
        return QString::fromLatin1(bytes);
    if (!quotesSafely(bytes)) {
        // Backslashes mean different things under NO_BACKSLASH_ESCAPES.
        return QStringLiteral("_utf8mb4 X'") + QString::fromLatin1(bytes.toHex().toUpper())
            + QLatin1Char('\'');
    }
    QString text = QString::fromUtf8(bytes);
    return QLatin1Char('\'') + text.replace(QStringLiteral("'"), QStringLiteral("''"))
        + QLatin1Char('\'');
}

std::optional<QByteArray> EditBuffer::parseHex(const QString &text)
{
    const QString digits = text.trimmed();
    if (!digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) || digits.size() % 2 != 0)
        return std::nullopt;
    const QByteArray hex = digits.mid(2).toLatin1();
    if (!std::all_of(hex.cbegin(), hex.cend(), [](char c) { return std::isxdigit(uchar(c)); }))
        return std::nullopt;
    return QByteArray::fromHex(hex);
}

QString EditBuffer::keyCondition(const RowStore &rows, int row, const QList<ColumnInfo> &columns,
                                 const EditTarget &target, QString *rowName, bool edited) const
{
    QStringList conditions, names;
    for (const int c : target.keyColumns()) {
        const Value *edit = edited ? this->edited(row, c) : nullptr;
        const Value value = edit ? *edit : storedValue(rows, row, c);
        const QString shown = literal(value, columns[c]);
        conditions << target.columnName(c) + (value ? QStringLiteral(" = ") + shown
                                                    : QStringLiteral(" IS NULL"));
        names << columns[c].name + QLatin1Char('=') + shown;
    }
    if (rowName)
        *rowName = names.join(QStringLiteral(", "));
    return conditions.join(QStringLiteral(" AND "));
}

QList<EditBuffer::Change> EditBuffer::changes(const RowStore &rows, const QList<ColumnInfo> &columns,
                                              const EditTarget &target) const
{
    QList<Change> out;
    const QString table = target.qualifiedTable();
    QStringList all;
    for (int c = 0; c < target.columnCount(); ++c)
        all << target.columnName(c);
    for (const int row : deletedRows()) {
        Change change{ Change::Delete, row, {}, {} };
        change.sql = QStringLiteral("DELETE FROM %1 WHERE %2")
                         .arg(table, keyCondition(rows, row, columns, target, &change.rowName));
        out << change;
    }
    for (const int row : editedRows()) {
        if (m_deleted.contains(row))
            continue;
        Change change{ Change::Update, row, {}, {} };
        QStringList sets;
        const QMap<int, Value> &cells = m_edits[row];
        for (auto it = cells.cbegin(); it != cells.cend(); ++it)
            sets << target.columnName(it.key()) + QStringLiteral(" = ") + literal(*it, columns[it.key()]);
        change.sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                         .arg(table, sets.join(QStringLiteral(", ")),
                              keyCondition(rows, row, columns, target, &change.rowName));
        change.readBack = QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                              .arg(all.join(QStringLiteral(", ")), table,
                                   keyCondition(rows, row, columns, target, nullptr, true));
        out << change;
    }
    for (size_t n = 0; n < m_newRows.size(); ++n) {
        QStringList names, values;
        for (auto it = m_newRows[n].cbegin(); it != m_newRows[n].cend(); ++it) {
            names << target.columnName(it.key());
            values << literal(*it, columns[it.key()]);
        }
        // RETURNING gives the row as stored, defaults and AUTO_INCREMENT included.
        out << Change{ Change::Insert, int(n),
                       QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING %4")
                           .arg(table, names.join(QStringLiteral(", ")),
                                values.join(QStringLiteral(", ")), all.join(QStringLiteral(", "))),
                       QStringLiteral("追加した行 %1").arg(n + 1) };
    }
    return out;
}

std::vector<EditBuffer::Value> EditBuffer::editedRow(const RowStore &rows, int row) const
{
    std::vector<Value> values;
    for (int c = 0; c < rows.columnCount(); ++c) {
        const Value *edit = edited(row, c);
        values.push_back(edit ? *edit : storedValue(rows, row, c));
    }
    return values;
}

QList<int> EditBuffer::editedRows() const
{
    QList<int> rows = m_edits.keys();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QList<int> EditBuffer::deletedRows() const
{
    QList<int> rows = m_deleted.values();
    std::sort(rows.begin(), rows.end());
    return rows;
}
