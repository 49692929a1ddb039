#include "QueryRowSource.h"

#include "RowStore.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>

#include <vector>

namespace {

bool isNumeric(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

} // namespace

QueryRowSource::QueryRowSource(QSqlQuery &&query)
    : m_query(std::move(query))
{
    const QSqlRecord record = m_query.record();
    for (int c = 0; c < record.count(); ++c) {
        const QSqlField field = record.field(c);
        ColumnInfo column;
        column.name = field.name();
        column.binary = field.metaType().id() == QMetaType::QByteArray;
        column.numeric = isNumeric(field.metaType());
        m_columns.append(column);
    }
}

int QueryRowSource::fetch(RowStore &store, int maxRows)
{
    const int columns = int(m_columns.size());
    const auto width = static_cast<size_t>(columns);
    std::vector<QByteArray> bytes(width);
    std::vector<const char *> cells(width);
    std::vector<unsigned long> sizes(width);

    int appended = 0;
    while (!m_atEnd && appended < maxRows) {
        if (!m_query.next()) {
            const QSqlError error = m_query.lastError();
            if (error.isValid())
                m_error = DbError{ error.nativeErrorCode().toInt(), QString(), error.databaseText() };
            m_atEnd = true;
            m_query = QSqlQuery(); // lets go of the connection
            break;
        }
        for (int c = 0; c < columns; ++c) {
            const QVariant value = m_query.value(c);
            bytes[size_t(c)] = m_columns[c].binary ? value.toByteArray() : value.toString().toUtf8();
            cells[size_t(c)] = value.isNull() ? nullptr : bytes[size_t(c)].constData();
            sizes[size_t(c)] = static_cast<unsigned long>(bytes[size_t(c)].size());
        }
        store.appendRow(cells.data(), sizes.data(), columns);
        ++appended;
    }
    return appended;
}
