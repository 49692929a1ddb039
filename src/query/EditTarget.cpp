#include "EditTarget.h"

#include "RowStore.h"
#include "SqlLexer.h"
#include "SqlWords.h"

#include <QMap>

#include <algorithm>
#include <vector>

namespace {

struct Token
{
    SqlToken::Kind kind;
    QString text; // a quoted name without its quotes
};

bool isWord(const Token &t, const char *word)
{
    return t.kind == SqlToken::Identifier && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isPunct(const Token &t, char16_t c)
{
    return t.kind == SqlToken::Operator && t.text.size() == 1 && t.text.at(0) == c;
}

QString unquoted(QStringView quoted)
{
    QString name = quoted.mid(1, quoted.size() - 2).toString();
    return name.replace(QStringLiteral("``"), QStringLiteral("`"));
}

// What the statement says, read as a short grammar over the lexer's tokens:
// SELECT [options] (* | name[.name…][ [AS] alias], …) FROM name[.name][ [AS] alias]
// followed by clauses that only filter, order or limit rows.
class SelectReader
{
public:
    explicit SelectReader(const QString &statement)
    {
        SqlLexer lexer(statement, {}, false);
        SqlToken t;
        while (lexer.next(t)) {
            if (t.kind == SqlToken::Comment) {
                // The server runs what such a comment holds; we would not see it.
                if (t.executable)
                    m_reason = QStringLiteral("実行されるコメント（/*! … */）を含みます");
                continue;
            }
            const QStringView s = QStringView(statement).mid(t.start, t.length);
            m_tokens.push_back({ t.kind, t.kind == SqlToken::QuotedIdentifier && !t.unterminated
                                             ? unquoted(s)
                                             : s.toString() });
        }
    }

    QString read()
    {
        if (!m_reason.isEmpty())
            return m_reason;
        if (!isWord(at(0), "select"))
            return QStringLiteral("SELECT 文の結果ではありません");
        m_pos = 1;
        if (const QString why = readOptions(); !why.isEmpty())
            return why;
        if (const QString why = readColumns(); !why.isEmpty())
            return why;
        if (const QString why = readTable(); !why.isEmpty())
            return why;
        return readRest();
    }

    QString database;
    QString table;

private:
    const Token &at(size_t i) const
    {
        static const Token end{ SqlToken::StatementEnd, QString() };
        return i < m_tokens.size() ? m_tokens[i] : end;
    }
    const Token &peek() const { return at(m_pos); }
    bool atName() const
    {
        const Token &t = peek();
        return t.kind == SqlToken::QuotedIdentifier
            || (t.kind == SqlToken::Identifier && !isReservedWord(t.text));
    }
    // An alias after a column or the table: [AS] name, or a string for a column.
    void skipAlias(bool stringAllowed)
    {
        if (isWord(peek(), "as"))
            ++m_pos;
        if (atName() || (stringAllowed && peek().kind == SqlToken::String))
            ++m_pos;
    }

    QString readOptions()
    {
        static const char *const harmless[] = { "all", "sql_no_cache", "sql_cache",
                                                "sql_calc_found_rows", "high_priority",
                                                "sql_small_result", "sql_big_result",
                                                "sql_buffer_result" };
        for (;; ++m_pos) {
            if (isWord(peek(), "distinct") || isWord(peek(), "distinctrow"))
                return QStringLiteral("DISTINCT の結果です");
            if (std::none_of(std::begin(harmless), std::end(harmless),
                             [this](const char *w) { return isWord(peek(), w); }))
                return QString();
        }
    }

    QString readColumns()
    {
        static const QString expression =
            QStringLiteral("式の列を含みます（列名か * だけなら編集できます）");
        for (;;) {
            if (isPunct(peek(), u'*')) {
                ++m_pos;
            } else if (atName()) {
                ++m_pos;
                bool star = false;
                while (!star && isPunct(peek(), u'.')) {
                    ++m_pos;
                    star = isPunct(peek(), u'*');
                    if (!star && !atName())
                        return expression;
                    ++m_pos;
                }
                if (!star)
                    skipAlias(true);
            } else {
                return expression;
            }
            if (isWord(peek(), "from")) {
                ++m_pos;
                return QString();
            }
            if (!isPunct(peek(), u','))
                return expression;
            ++m_pos;
        }
    }

    QString readTable()
    {
        if (!atName())
            return QStringLiteral("表ではなく副問い合わせなどから選んだ結果です");
        table = peek().text;
        ++m_pos;
        if (isPunct(peek(), u'.')) {
            ++m_pos;
            if (!atName())
                return QStringLiteral("表ではなく副問い合わせなどから選んだ結果です");
            database = table;
            table = peek().text;
            ++m_pos;
        }
        skipAlias(false);
        return QString();
    }

    QString readRest()
    {
        int depth = 0;
        bool inClauses = false; // past WHERE, ORDER BY or LIMIT, where commas are harmless
        for (; m_pos < m_tokens.size(); ++m_pos) {
            const Token &t = peek();
            if (isPunct(t, u'('))
                ++depth;
            else if (isPunct(t, u')'))
                --depth;
            if (depth != 0)
                continue;
            if (t.kind == SqlToken::StatementEnd)
                return m_pos + 1 < m_tokens.size() ? QStringLiteral("複数の文です") : QString();
            if (isPunct(t, u',') && !inClauses)
                return QStringLiteral("複数の表を結合した結果です");
            if (t.kind != SqlToken::Identifier)
                continue;
            if (isWord(t, "join") || isWord(t, "straight_join"))
                return QStringLiteral("複数の表を結合した結果です");
            if (isWord(t, "group") || isWord(t, "having") || isWord(t, "window"))
                return QStringLiteral("GROUP BY などで集計した結果です");
            if (isWord(t, "union") || isWord(t, "intersect") || isWord(t, "except")
                || isWord(t, "minus"))
                return QStringLiteral("UNION などで組み合わせた結果です");
            if (isWord(t, "into") || isWord(t, "procedure"))
                return QStringLiteral("行を返す SELECT ではありません");
            if (isWord(t, "for") && isWord(at(m_pos + 1), "system_time"))
                return QStringLiteral("表の過去の版（FOR SYSTEM_TIME）の結果です");
            if (isWord(t, "where") || isWord(t, "order") || isWord(t, "limit")
                || isWord(t, "for") || isWord(t, "lock"))
                inClauses = true;
        }
        return QString();
    }

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    QString m_reason;
};

// The metadata agrees with the text: every column a real column of the one
// table the statement names.
QString checkColumns(const QList<ColumnInfo> &columns, const SelectReader &select)
{
    if (columns.isEmpty())
        return QStringLiteral("列がありません");
    const ColumnInfo &first = columns.first();
    QStringList seen;
    for (const ColumnInfo &c : columns) {
        if (c.originTable.isEmpty() || c.originName.isEmpty())
            return QStringLiteral("式の列を含みます（列名か * だけなら編集できます）");
        if (c.database != first.database || c.originTable != first.originTable
            || c.table != first.table)
            return QStringLiteral("複数の表を結合した結果です");
        if (seen.contains(c.originName, Qt::CaseInsensitive))
            return QStringLiteral("同じ列 %1 が 2 回あります").arg(c.originName);
        seen << c.originName;
    }
    if (first.originTable.compare(select.table, Qt::CaseInsensitive) != 0
        || (!select.database.isEmpty()
            && first.database.compare(select.database, Qt::CaseInsensitive) != 0))
        return QStringLiteral("列の元の表が文の表と違います（ビューなど）");
    return QString();
}

QString cellText(const RowStore &rows, qsizetype row, int column)
{
    const RowStore::Cell cell = rows.cell(row, column);
    return cell.isNull ? QString() : QString::fromUtf8(cell.data, cell.size);
}

} // namespace

EditTarget EditTarget::readOnly(const QString &reason)
{
    EditTarget target;
    target.m_reason = reason;
    return target;
}

EditTarget EditTarget::fromResult(const QString &statement, const QList<ColumnInfo> &columns)
{
    SelectReader select(statement);
    EditTarget target;
    target.m_reason = select.read();
    if (target.m_reason.isEmpty())
        target.m_reason = checkColumns(columns, select);
    if (!target.m_reason.isEmpty())
        return target;
    target.m_database = columns.first().database;
    target.m_table = columns.first().originTable;
    for (const ColumnInfo &c : columns)
        target.m_columns << c.originName;
    return target;
}

QString EditTarget::quoteName(const QString &name)
{
    QString quoted = name;
    return QLatin1Char('`') + quoted.replace(QStringLiteral("`"), QStringLiteral("``"))
        + QLatin1Char('`');
}

QString EditTarget::qualifiedTable() const
{
    return quoteName(m_database) + QLatin1Char('.') + quoteName(m_table);
}

QString EditTarget::columnName(int column) const
{
    return quoteName(m_columns.value(column));
}

QString EditTarget::keyQuery() const
{
    return QStringLiteral("SHOW INDEX FROM ") + qualifiedTable();
}

void EditTarget::chooseKey(const RowStore &indexRows)
{
    // SHOW INDEX: Non_unique, Key_name, Seq_in_index, Column_name, …, Null.
    enum { NonUnique = 1, KeyName = 2, ColumnName = 4, Nullable = 9 };
    struct Key
    {
        QList<int> columns;
        bool usable = true;
    };
    QMap<QString, Key> keys;
    QStringList order;
    for (qsizetype r = 0; r < indexRows.rowCount() && indexRows.columnCount() > Nullable; ++r) {
        if (cellText(indexRows, r, NonUnique) != QLatin1String("0"))
            continue;
        const QString name = cellText(indexRows, r, KeyName);
        if (!keys.contains(name))
            order << name;
        Key &key = keys[name];
        const QString columnName = cellText(indexRows, r, ColumnName);
        const auto found = std::find_if(m_columns.cbegin(), m_columns.cend(), [&](const QString &c) {
            return c.compare(columnName, Qt::CaseInsensitive) == 0;
        });
        const int column = found == m_columns.cend() ? -1 : int(found - m_columns.cbegin());
        if (column < 0 || cellText(indexRows, r, Nullable) == QLatin1String("YES"))
            key.usable = false;
        key.columns << column;
    }
    if (order.removeOne(QStringLiteral("PRIMARY")))
        order.prepend(QStringLiteral("PRIMARY"));
    for (const QString &name : order) {
        if (keys[name].usable) {
            m_key = keys[name].columns;
            return;
        }
    }
    m_reason = order.isEmpty()
        ? QStringLiteral("主キーも NOT NULL の一意キーもない表（またはビュー）です")
        : QStringLiteral("主キー（または NOT NULL の一意キー）の列がすべては結果にありません");
}
