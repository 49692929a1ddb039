#include "ResultExporter.h"

#include "ResultModel.h"
#include "SafeFile.h"

#include <QIODevice>
#include <QItemSelection>

#include <array>

namespace {

constexpr qsizetype FlushBytes = 1 << 20;
constexpr qint64 RowsPerProgress = 8192;

using ByteSet = std::array<bool, 256>;

ByteSet bytesOf(const char *chars)
{
    ByteSet set{};
    for (; *chars; ++chars)
        set[quint8(*chars)] = true;
    return set;
}

// Spreadsheets read a field in double quotes whole, whatever it holds.
const ByteSet TsvSpecial = bytesOf("\t\r\n\"");
const ByteSet CsvSpecial = bytesOf(",\r\n\"");

bool holdsAny(const RowStore::Cell &cell, const ByteSet &set)
{
    for (qsizetype i = 0; i < cell.size; ++i) {
        if (set[quint8(cell.data[i])])
            return true;
    }
    return false;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Servers write numbers JSON cannot read as numbers now and then: YEAR
// '0000', ZEROFILL columns. Those go out as strings.
bool isJsonNumber(const char *at, qsizetype size)
{
    const char *const end = at + size;
    if (at < end && *at == '-')
        ++at;
    if (at == end || !isDigit(*at))
        return false;
    if (*at == '0' && at + 1 < end && isDigit(at[1]))
        return false;
    while (at < end && isDigit(*at))
        ++at;
    if (at < end && *at == '.') {
        if (++at == end || !isDigit(*at))
            return false;
        while (at < end && isDigit(*at))
            ++at;
    }
    if (at < end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at < end && (*at == '+' || *at == '-'))
            ++at;
        if (at == end || !isDigit(*at))
            return false;
        while (at < end && isDigit(*at))
            ++at;
    }
    return at == end;
}

bool isSqlNumber(const char *at, qsizetype size)
{
    const char *const end = at + size;
    if (at < end && (*at == '-' || *at == '+'))
        ++at;
    bool digits = false;
    for (; at < end && (isDigit(*at) || *at == '.' || *at == 'e' || *at == 'E'
                        || ((*at == '-' || *at == '+') && (at[-1] == 'e' || at[-1] == 'E')));
         ++at)
        digits = digits || isDigit(*at);
    return digits && at == end;
}

QByteArray quotedIdentifier(const QString &name)
{
    QByteArray id = name.toUtf8();
    id.replace('`', "``");
    return '`' + id + '`';
}

} // namespace

class ResultExporter::Writer
{
public:
    Writer(const ResultExporter &exporter, QIODevice *device)
        : m_model(exporter.m_model)
        , m_options(exporter.m_options)
        , m_columns(exporter.m_columns)
        , m_device(device)
    {
        m_out.reserve(device ? FlushBytes + (64 << 10) : 0);
        for (const ColumnInfo &info : m_model.columns()) {
            m_binary.push_back(info.binary);
            m_numeric.push_back(info.numeric);
        }
    }

    Outcome run(const ResultExporter &exporter, const Progress &progress)
    {
        const qint64 total = exporter.rowsChosen();
        begin();
        for (qint64 i = 0; i < total; ++i) {
            row(exporter.m_allRows ? int(i) : exporter.m_rows[size_t(i)], i == 0);
            if ((i + 1) % RowsPerProgress == 0) {
                if (progress && !progress(i + 1, total))
                    return Outcome::Cancelled;
                if (!flush(false))
                    return Outcome::Failed;
            }
        }
        end();
        if (progress)
            progress(total, total);
        return flush(true) ? Outcome::Written : Outcome::Failed;
    }

    QByteArray take() { return std::move(m_out); }

private:
    bool flush(bool all)
    {
        if (!m_device || (!all && m_out.size() < FlushBytes))
            return true;
        const bool ok = m_device->write(m_out) == m_out.size();
        m_out.clear();
        return ok;
    }

    void begin()
    {
        const QList<ColumnInfo> &info = m_model.columns();
        switch (m_options.format) {
        case Format::Csv:
            if (m_options.byteOrderMark)
                m_out.append("\xEF\xBB\xBF");
            [[fallthrough]];
        case Format::Tsv:
            if (m_options.header) {
                for (qsizetype i = 0; i < m_columns.size(); ++i) {
                    if (i > 0)
                        m_out.append(separator());
                    const QByteArray name = info[m_columns[i]].name.toUtf8();
                    delimited(RowStore::Cell{ name.constData(), name.size(), false }, false);
                }
                m_out.append(lineEnd());
            }
            break;
        case Format::Json:
            m_out.append("[");
            for (int c : std::as_const(m_columns)) {
                const QByteArray name = info[c].name.toUtf8();
                QByteArray key;
                jsonString(key, name.constData(), name.size());
                m_keys.push_back(key + ':');
            }
            break;
        case Format::SqlInsert: {
            m_insert = "INSERT INTO " + quotedIdentifier(m_options.table) + " (";
            for (qsizetype i = 0; i < m_columns.size(); ++i)
                m_insert += (i > 0 ? ", " : "") + quotedIdentifier(info[m_columns[i]].name);
            m_insert += ") VALUES (";
            break;
        }
        }
    }

    void end()
    {
        if (m_options.format == Format::Json)
            m_out.append("\n]\n");
    }

    const char *separator() const { return m_options.format == Format::Csv ? "," : "\t"; }
    const char *lineEnd() const { return m_options.format == Format::Csv ? "\r\n" : "\n"; }

    void row(int r, bool first)
    {
        switch (m_options.format) {
        case Format::Tsv:
        case Format::Csv:
            for (qsizetype i = 0; i < m_columns.size(); ++i) {
                if (i > 0)
                    m_out.append(separator());
                const int c = m_columns[i];
                delimited(m_model.rawCell(r, c), m_binary[c]);
            }
            m_out.append(lineEnd());
            break;
        case Format::Json:
            m_out.append(first ? "\n{" : ",\n{");
            for (qsizetype i = 0; i < m_columns.size(); ++i) {
                if (i > 0)
                    m_out.append(',');
                m_out.append(m_keys[size_t(i)]);
                jsonValue(m_model.rawCell(r, m_columns[i]), m_columns[i]);
            }
            m_out.append('}');
            break;
        case Format::SqlInsert:
            m_out.append(m_insert);
            for (qsizetype i = 0; i < m_columns.size(); ++i) {
                if (i > 0)
                    m_out.append(", ");
                sqlValue(m_model.rawCell(r, m_columns[i]), m_columns[i]);
            }
            m_out.append(");\n");
            break;
        }
    }

    void hex(const RowStore::Cell &cell)
    {
        static const char digits[] = "0123456789ABCDEF";
        const qsizetype at = m_out.size();
        m_out.resize(at + 2 * cell.size);
        char *out = m_out.data() + at;
        for (qsizetype i = 0; i < cell.size; ++i) {
            *out++ = digits[quint8(cell.data[i]) >> 4];
            *out++ = digits[quint8(cell.data[i]) & 15];
        }
    }

    // TSV and CSV: NULL is an empty field, the empty string "" (unless the
    // text is for pasting), anything holding a delimiter is quoted.
    void delimited(const RowStore::Cell &cell, bool binary)
    {
        if (cell.isNull)
            return;
        if (binary) {
            m_out.append("0x");
            hex(cell);
            return;
        }
        const bool csv = m_options.format == Format::Csv;
        if (cell.size == 0) {
            if (csv || m_options.quoteEmpty)
                m_out.append("\"\"");
            return;
        }
        // LOAD DATA ... ENCLOSED BY '"' reads a bare NULL as SQL NULL: the
        // text "NULL" stays text only in quotes.
        const bool nullWord = csv && QByteArrayView(cell.data, cell.size).compare("NULL", Qt::CaseInsensitive) == 0;
        if (!nullWord && !holdsAny(cell, csv ? CsvSpecial : TsvSpecial)) {
            m_out.append(cell.data, cell.size);
            return;
        }
        m_out.append('"');
        for (qsizetype i = 0; i < cell.size; ++i) {
            if (cell.data[i] == '"')
                m_out.append('"');
            m_out.append(cell.data[i]);
        }
        m_out.append('"');
    }

    static void jsonString(QByteArray &out, const char *data, qsizetype size)
    {
        static const char digits[] = "0123456789abcdef";
        out.append('"');
        for (qsizetype i = 0; i < size; ++i) {
            const char c = data[i];
            switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            default:
                if (quint8(c) < 0x20) {
                    const char escaped[] = { '\\', 'u', '0', '0', digits[quint8(c) >> 4],
                                             digits[quint8(c) & 15] };
                    out.append(escaped, sizeof escaped);
                } else {
                    out.append(c);
                }
            }
        }
        out.append('"');
    }

    void jsonValue(const RowStore::Cell &cell, int column)
    {
        if (cell.isNull) {
            m_out.append("null");
        } else if (m_binary[column]) {
            m_out.append("\"0x");
            hex(cell);
            m_out.append('"');
        } else if (m_numeric[column] && isJsonNumber(cell.data, cell.size)) {
            m_out.append(cell.data, cell.size);
        } else {
            jsonString(m_out, cell.data, cell.size);
        }
    }

    // Escaped as mysqldump does, which every MySQL and MariaDB reads in
    // the default SQL mode.
    void sqlValue(const RowStore::Cell &cell, int column)
    {
        if (cell.isNull) {
            m_out.append("NULL");
        } else if (m_binary[column]) {
            // X'' reads back, but not on every server a dump may go to.
            if (cell.size == 0) {
                m_out.append("''");
            } else {
                m_out.append("X'");
                hex(cell);
                m_out.append('\'');
            }
        } else if (m_numeric[column] && isSqlNumber(cell.data, cell.size)) {
            m_out.append(cell.data, cell.size);
        } else {
            m_out.append('\'');
            for (qsizetype i = 0; i < cell.size; ++i) {
                const char c = cell.data[i];
                switch (c) {
                case '\0': m_out.append("\\0"); break;
                case '\n': m_out.append("\\n"); break;
                case '\r': m_out.append("\\r"); break;
                case '\\': m_out.append("\\\\"); break;
                case '\'': m_out.append("\\'"); break;
                case '\x1a': m_out.append("\\Z"); break;
                default: m_out.append(c);
                }
            }
            m_out.append('\'');
        }
    }

    const ResultModel &m_model;
    const Options &m_options;
    const QList<int> &m_columns;
    QIODevice *m_device;
    QByteArray m_out;
    std::vector<bool> m_binary, m_numeric;
    std::vector<QByteArray> m_keys;
    QByteArray m_insert;
};

ResultExporter::ResultExporter(const ResultModel &model, const Options &options)
    : m_model(model)
    , m_options(options)
{
    for (int c = 0; c < model.columnCount(); ++c)
        m_columns.append(c);
}

void ResultExporter::select(std::vector<int> rows, QList<int> columns)
{
    m_rows = std::move(rows);
    m_columns = std::move(columns);
    m_allRows = false;
}

void ResultExporter::select(const QItemSelection &selection)
{
    std::vector<char> rowChosen(size_t(m_model.rowCount())), columnChosen(size_t(m_model.columnCount()));
    for (const QItemSelectionRange &range : selection) {
        std::fill(rowChosen.begin() + range.top(), rowChosen.begin() + range.bottom() + 1, 1);
        std::fill(columnChosen.begin() + range.left(), columnChosen.begin() + range.right() + 1, 1);
    }
    std::vector<int> rows;
    QList<int> columns;
    for (size_t r = 0; r < rowChosen.size(); ++r) {
        if (rowChosen[r])
            rows.push_back(int(r));
    }
    for (size_t c = 0; c < columnChosen.size(); ++c) {
        if (columnChosen[c])
            columns.append(int(c));
    }
    select(std::move(rows), std::move(columns));
}

qint64 ResultExporter::rowsChosen() const
{
    return m_allRows ? m_model.rowCount() : qint64(m_rows.size());
}

QByteArray ResultExporter::text(const Progress &progress, bool *complete) const
{
    Writer writer(*this, nullptr);
    const bool done = writer.run(*this, progress) == Outcome::Written;
    if (complete)
        *complete = done;
    return done ? writer.take() : QByteArray();
}

ResultExporter::Outcome ResultExporter::write(QIODevice &out, const Progress &progress) const
{
    Writer writer(*this, &out);
    return writer.run(*this, progress);
}

ResultExporter::Outcome ResultExporter::writeFile(const QString &path, const Progress &progress,
                                                  QString *error) const
{
    Outcome outcome = Outcome::Failed;
    const bool written = SafeFile::write(
        path,
        [&](QIODevice &out) {
            outcome = write(out, progress);
            return outcome == Outcome::Written;
        },
        {}, error);
    if (!written && outcome != Outcome::Cancelled)
        outcome = Outcome::Failed;
    return outcome;
}

ResultExporter::Format ResultExporter::formatForSuffix(const QString &suffix, bool *known)
{
    const QString s = suffix.toLower();
    Format format = Format::Csv;
    bool found = true;
    if (s == QLatin1String("tsv") || s == QLatin1String("txt") || s == QLatin1String("tab"))
        format = Format::Tsv;
    else if (s == QLatin1String("json"))
        format = Format::Json;
    else if (s == QLatin1String("sql"))
        format = Format::SqlInsert;
    else
        found = s == QLatin1String("csv");
    if (known)
        *known = found;
    return format;
}
