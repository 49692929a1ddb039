#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

struct SchemaColumn
{
    QString name;
    QString type;
};

struct SchemaTable
{
    QString name;
    bool view = false;
    QList<SchemaColumn> columns; // in table order
};

// What the server held when it was last read: built on the metadata thread,
// then shared read-only by the tree and completion.
struct SchemaSnapshot
{
    QStringList databases;   // those the user sees, system schemas left out, sorted
    QString database;        // the current one; its tables are below
    std::vector<SchemaTable> tables; // sorted by name
    bool columnsLoaded = false;
    QStringList keywords;    // in capitals
    QStringList functions;   // in capitals

    // Builds the look-up that tableIndex() uses; call once the tables are in.
    void index();
    // The table of that name: exact first, then in any case; -1 if none.
    int tableIndex(const QString &name) const;

private:
    QHash<QString, int> m_exact;
    QHash<QString, int> m_folded;
};
