#include "CompletionSite.h"

#include "SqlLexer.h"
#include "StatementSplitter.h"

#include <vector>

namespace {

// Past this size only the cursor's line is read: splitting megabytes on
// every keystroke would make typing lag.
constexpr qsizetype MaxSplitText = 1 << 20;

struct Range
{
    qsizetype from = 0;
    qsizetype to = 0;
};

Range statementRange(const QString &text, qsizetype cursor)
{
    if (text.size() <= MaxSplitText) {
        const std::optional<SqlStatement> statement = statementAt(text, cursor);
        if (statement && statement->start <= cursor && cursor <= statement->end)
            return Range{ statement->start, statement->end };
    }
    const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n'), cursor - 1) + 1;
    qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), cursor);
    return Range{ lineStart, lineEnd < 0 ? text.size() : lineEnd };
}

// The start of a name that begins with digits (2024_sales) lexes as a number.
bool isDigits(QStringView word)
{
    for (QChar c : word) {
        if (!c.isDigit())
            return false;
    }
    return true;
}

bool isName(const SqlToken &t)
{
    return t.kind == SqlToken::Identifier || t.kind == SqlToken::QuotedIdentifier;
}

// The statement's tokens and what the reader has seen of its tables.
class TableScan
{
public:
    TableScan(QStringView text, const std::vector<SqlToken> &tokens)
        : m_text(text), m_tokens(tokens)
    {
        m_expectsTable.assign(tokens.size(), false);
        for (size_t i = 0; i < tokens.size(); ++i)
            step(i);
    }

    QString word(size_t i) const
    {
        const SqlToken &t = m_tokens[i];
        QString w = m_text.mid(t.start, t.length).toString();
        if (t.kind != SqlToken::QuotedIdentifier)
            return w;
        w = w.mid(1, w.size() - (t.unterminated ? 1 : 2));
        return w.replace(QStringLiteral("``"), QStringLiteral("`"));
    }
    bool expectsTable(size_t i) const { return m_expectsTable[i]; }
    QString tableOf(const QString &qualifier) const
    {
        const auto it = m_aliases.constFind(qualifier.toCaseFolded());
        return it == m_aliases.constEnd() ? qualifier : it.value();
    }
    QStringList tables() const { return m_tables; }

private:
    enum State { Out, ExpectTable, AfterTable, ExpectAlias };

    QString keyword(size_t i) const
    {
        return m_tokens[i].kind == SqlToken::Keyword ? word(i).toUpper() : QString();
    }
    bool isOperator(size_t i, char c) const
    {
        return m_tokens[i].kind == SqlToken::Operator && m_text[m_tokens[i].start] == QLatin1Char(c);
    }
    void step(size_t i);
    void stepOut(const QString &kw);
    void addTable(size_t i);

    QStringView m_text;
    const std::vector<SqlToken> &m_tokens;
    std::vector<bool> m_expectsTable;
    QHash<QString, QString> m_aliases; // case-folded alias or name -> table
    QStringList m_tables;
    QString m_lastTable;
    State m_state = Out;
    bool m_list = false; // a comma goes on to another table
    size_t m_skipUntil = 0;
};

void TableScan::stepOut(const QString &kw)
{
    static const QStringList starts = { QStringLiteral("FROM"), QStringLiteral("JOIN"),
                                        QStringLiteral("UPDATE"), QStringLiteral("INTO"),
                                        QStringLiteral("TABLE") };
    m_state = starts.contains(kw) ? ExpectTable : Out;
    if (m_state == ExpectTable)
        m_list = kw != QLatin1String("INTO") && kw != QLatin1String("TABLE");
}

void TableScan::addTable(size_t i)
{
    // db.table names the table after the dot.
    size_t last = i;
    if (i + 2 < m_tokens.size() && isOperator(i + 1, '.') && isName(m_tokens[i + 2]))
        last = i + 2;
    m_skipUntil = last + 1;
    m_lastTable = word(last);
    if (!m_tables.contains(m_lastTable))
        m_tables.append(m_lastTable);
    m_aliases.insert(m_lastTable.toCaseFolded(), m_lastTable);
    m_state = AfterTable;
}

void TableScan::step(size_t i)
{
    m_expectsTable[i] = m_state == ExpectTable;
    if (i < m_skipUntil || m_tokens[i].kind == SqlToken::Comment)
        return;
    static const QStringList joinWords = { QStringLiteral("LEFT"),    QStringLiteral("RIGHT"),
                                           QStringLiteral("INNER"),   QStringLiteral("OUTER"),
                                           QStringLiteral("CROSS"),   QStringLiteral("NATURAL"),
                                           QStringLiteral("STRAIGHT_JOIN") };
    const QString kw = keyword(i);
    switch (m_state) {
    case ExpectTable:
        if (isName(m_tokens[i]))
            return addTable(i);
        break;
    case AfterTable:
    case ExpectAlias:
        if (m_state == AfterTable && kw == QLatin1String("AS")) {
            m_state = ExpectAlias;
            return;
        }
        if (m_tokens[i].kind == SqlToken::Identifier
            || (m_state == ExpectAlias && isName(m_tokens[i]))) {
            m_aliases.insert(word(i).toCaseFolded(), m_lastTable);
            m_state = AfterTable;
            return;
        }
        if (isOperator(i, ',') && m_list) {
            m_state = ExpectTable;
            return;
        }
        if (joinWords.contains(kw))
            return;
        break;
    case Out:
        break;
    }
    stepOut(kw);
}

} // namespace

CompletionSite CompletionSite::at(const QString &text, qsizetype cursor)
{
    CompletionSite site;
    cursor = qBound<qsizetype>(0, cursor, text.size());
    const Range range = statementRange(text, cursor);
    const QStringView part = QStringView(text).mid(range.from, range.to - range.from);
    const qsizetype c = cursor - range.from;
    std::vector<SqlToken> tokens;
    SqlLexer lexer(part);
    for (SqlToken t; lexer.next(t);)
        tokens.push_back(t);

    size_t k = 0;
    while (k < tokens.size() && !(tokens[k].start < c && c <= tokens[k].end()))
        ++k;
    if (k == tokens.size())
        return site;
    const SqlToken &typed = tokens[k];
    const TableScan scan(part, tokens);
    const bool dot = typed.kind == SqlToken::Operator && part[typed.start] == QLatin1Char('.')
        && c == typed.end();
    size_t before = k; // the token before the name: a dot makes a qualifier
    if (dot) {
        site.start = site.end = cursor;
    } else if (typed.kind == SqlToken::Identifier || typed.kind == SqlToken::Keyword
               || (typed.kind == SqlToken::Number && isDigits(part.mid(typed.start, typed.length)))
               || (typed.kind == SqlToken::QuotedIdentifier
                   && (typed.unterminated || c < typed.end()))) {
        site.start = range.from + typed.start;
        site.end = cursor;
        site.prefix = scan.word(k).left(c - typed.start - (typed.kind == SqlToken::QuotedIdentifier));
        if (k > 0 && tokens[k - 1].end() == typed.start && tokens[k - 1].kind == SqlToken::Operator
            && part[tokens[k - 1].start] == QLatin1Char('.'))
            before = k - 1;
    } else {
        return site;
    }
    site.tables = scan.tables();
    if (before != k || dot) {
        const size_t dotIndex = dot ? k : before;
        if (dotIndex == 0 || !isName(tokens[dotIndex - 1])
            || tokens[dotIndex - 1].end() != tokens[dotIndex].start)
            return CompletionSite{};
        site.qualifier = scan.word(dotIndex - 1);
        site.table = scan.tableOf(site.qualifier);
        site.place = Column;
        return site;
    }
    site.place = scan.expectsTable(k) ? Table : Anywhere;
    return site;
}
