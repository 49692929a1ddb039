#pragma once

#include "DbError.h"
#include "RowSource.h"

#include <QList>
#include <QStringList>

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
    // The connection is gone (the server died, or we had to drop it).
    bool connectionLost = false;
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
};

// What a BEGIN, COMMIT or ROLLBACK gave.
struct TransactionOutcome
{
    bool ok = false;
    DbError error;
    // A rollback that left non-transactional tables changed (warning 1196).
    bool partial = false;
};
