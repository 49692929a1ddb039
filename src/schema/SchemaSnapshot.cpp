#include "SchemaSnapshot.h"

void SchemaSnapshot::index()
{
    m_exact.clear();
    m_folded.clear();
    m_exact.reserve(qsizetype(tables.size()));
    for (int i = 0; i < int(tables.size()); ++i) {
        m_exact.insert(tables[size_t(i)].name, i);
        m_folded.insert(tables[size_t(i)].name.toCaseFolded(), i);
    }
}

int SchemaSnapshot::tableIndex(const QString &name) const
{
    const auto exact = m_exact.constFind(name);
    if (exact != m_exact.constEnd())
        return exact.value();
    return m_folded.value(name.toCaseFolded(), -1);
}
