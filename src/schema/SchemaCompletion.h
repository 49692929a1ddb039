#pragma once

#include "CompletionSite.h"
#include "SchemaSnapshot.h"

#include <memory>

// The names completion offers at a site, from the last snapshot: a table's
// columns after `table.` or `alias.`; tables first after FROM and its like;
// keywords and functions too wherever no qualifier stands.
class SchemaCompletion
{
public:
    static constexpr int MaxEntries = 200;

    void setSnapshot(std::shared_ptr<const SchemaSnapshot> snapshot)
    {
        m_snapshot = std::move(snapshot);
    }
    QStringList entries(const CompletionSite &site) const;

    // The name as it must be typed: in backquotes when it is a reserved
    // word, starts with a digit, or holds anything but letters, digits, _
    // and $ (any character from U+0080 to U+FFFF counts as a letter).
    static QString quoted(const QString &name);

private:
    void addColumns(int table, const QString &prefix, QStringList &out) const;
    void addTables(const QString &prefix, QStringList &out) const;

    std::shared_ptr<const SchemaSnapshot> m_snapshot;
};
