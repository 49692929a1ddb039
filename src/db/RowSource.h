#pragma once

#include <QList>
#include <QString>

#include <memory>

class QSqlDatabase;
class RowStore;

struct ColumnInfo
{
    QString name;
    bool binary = false;  // shown as hexadecimal
    bool numeric = false; // aligned to the right
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
    // True when reading stopped on an error (the connection died, say).
    virtual bool failed() const = 0;
};

// What running one statement gave.
struct StatementOutcome
{
    enum Kind { Rows, NoResultSet, Failed };
    Kind kind = Failed;
    qint64 affectedRows = -1;
    std::unique_ptr<RowSource> rows;
};

// Runs a statement on an open connection. MySQL and MariaDB connections
// stream rows straight from the client library; any other driver goes
// through QSqlQuery.
StatementOutcome runStatement(const QSqlDatabase &db, const QString &sql);
