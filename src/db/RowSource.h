#pragma once

#include "DbError.h"

#include <QList>
#include <QString>

class RowStore;

struct ColumnInfo
{
    QString name;
    bool binary = false;  // shown as hexadecimal
    bool numeric = false; // aligned to the right
    // Where the column comes from, as the server describes it: empty for
    // an expression. `table` is the name the statement gave (an alias),
    // `origin…` the real table and column.
    QString database;
    QString table;
    QString originTable;
    QString originName;
};

// Where the rows of one executed statement come from. A source may still be
// reading from the connection: it must be read to the end (or destroyed)
// before the connection runs anything else or goes away.
class RowSource
{
public:
    virtual ~RowSource();

    virtual QList<ColumnInfo> columns() const = 0;
    // Appends at most maxRows rows; returns how many it appended.
    virtual int fetch(RowStore &store, int maxRows) = 0;
    virtual bool atEnd() const = 0;
    // Set when reading stopped on an error (the connection died, say).
    virtual DbError error() const = 0;
};
