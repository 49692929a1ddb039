#pragma once

#include "DbError.h"
#include "RowSource.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <memory>

class RowStore;

// What running one statement gave. For a result set, the first rows come
// with it and the rest follows as a stream (see DatabaseConnection).
struct StatementResult
{
    enum Kind { Rows, NoResultSet, Failed, Cancelled };
    Kind kind = Failed;
    qint64 affectedRows = -1;
    // For an UPDATE, the rows its WHERE found, changed or not; else -1.
    qint64 matchedRows = -1;
    int warningCount = 0;
    QStringList warnings; // "Level Code: Message", the first few
    DbError error;
    // The server still holds a transaction open after the statement.
    bool inTransaction = false;
    // A BEGIN went out just before it (a script's first change, or its first
    // change after a statement that committed by itself).
    bool begun = false;
    // The BEGIN before it failed, so it was not sent at all.
    bool beginFailed = false;
    qint64 elapsedMs = 0; // until this outcome: for rows, the first rows

    QList<ColumnInfo> columns;
    std::shared_ptr<RowStore> firstRows;
    quint64 streamId = 0; // non-zero: more rows follow on this stream
};

// How a stream of rows ended.
struct StreamEnd
{
    enum Kind { Complete, Failed, Cancelled, Cut };
    Kind kind = Complete;
    DbError error;
    qint64 rows = 0;
    qint64 totalMs = 0;
    bool inTransaction = false; // after the statement's last result
};

// One statement of a script as the database thread takes it: a change is
// run inside a transaction, which is begun for it when none is open.
struct ScriptStatement
{
    QString sql;
    bool change = false;
};

// Gives the database thread a script's statements one at a time, so a script
// read from a file is never held whole. Called on the database thread only;
// false when there are no more (a source that failed keeps its reason).
using StatementFeed = std::function<bool(ScriptStatement &next)>;

// How a script ended on the database thread.
struct ScriptEnd
{
    int good = 0; // statements that ran to a good end, before the first that did not
    bool inTransaction = false;
};

// What a BEGIN, COMMIT or ROLLBACK gave.
struct TransactionOutcome
{
    bool ok = false;
    DbError error;
    // A rollback that left non-transactional tables changed (warning 1196).
    bool partial = false;
};
