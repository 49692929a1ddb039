#include "SchemaCompletion.h"

#include "SqlWords.h"

#include <algorithm>

namespace {

bool plainNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_'
        || u == '$' || (u >= 0x80 && !c.isSurrogate());
}

bool startsWith(const QString &name, const QString &prefix)
{
    return name.startsWith(prefix, Qt::CaseInsensitive);
}

void addWords(const QStringList &words, const QString &prefix, QStringList &out)
{
    for (const QString &word : words) {
        if (out.size() >= SchemaCompletion::MaxEntries)
            return;
        if (startsWith(word, prefix) && !out.contains(word))
            out.append(word);
    }
}

} // namespace

QString SchemaCompletion::quoted(const QString &name)
{
    bool plain = !name.isEmpty() && !name.at(0).isDigit() && !isReservedWord(name);
    for (qsizetype i = 0; plain && i < name.size(); ++i)
        plain = plainNameChar(name.at(i));
    if (plain)
        return name;
    QString out = name;
    out.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + out + QLatin1Char('`');
}

void SchemaCompletion::addColumns(int table, const QString &prefix, QStringList &out) const
{
    if (table < 0)
        return;
    for (const SchemaColumn &column : m_snapshot->tables[size_t(table)].columns) {
        if (out.size() >= MaxEntries)
            return;
        const QString entry = quoted(column.name);
        if (startsWith(column.name, prefix) && !out.contains(entry))
            out.append(entry);
    }
}

void SchemaCompletion::addTables(const QString &prefix, QStringList &out) const
{
    // The tables are sorted without regard to case, so those that start
    // with the prefix stand together.
    const auto &tables = m_snapshot->tables;
    auto it = std::lower_bound(tables.begin(), tables.end(), prefix,
                               [](const SchemaTable &t, const QString &p) {
                                   return t.name.compare(p, Qt::CaseInsensitive) < 0;
                               });
    for (; it != tables.end() && startsWith(it->name, prefix) && out.size() < MaxEntries; ++it)
        out.append(quoted(it->name));
}

QStringList SchemaCompletion::entries(const CompletionSite &site) const
{
    QStringList out;
    if (!m_snapshot || site.place == CompletionSite::None)
        return out;
    if (site.place == CompletionSite::Column) {
        addColumns(m_snapshot->tableIndex(site.table), site.prefix, out);
        return out;
    }
    if (site.prefix.isEmpty())
        return out;
    if (site.place == CompletionSite::Anywhere) {
        for (const QString &table : site.tables)
            addColumns(m_snapshot->tableIndex(table), site.prefix, out);
    }
    addTables(site.prefix, out);
    addWords(m_snapshot->keywords, site.prefix, out);
    addWords(m_snapshot->functions, site.prefix, out);
    return out;
}
