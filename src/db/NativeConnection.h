#pragma once

#include "ConnectionParams.h"
#include "DbError.h"

#include <QStringList>

class QSqlDatabase;
typedef struct st_mysql MYSQL;

// The few things Qt's SQL module cannot do for us, done on MariaDB
// Connector/C's own handle. Only the database layer calls these.
class NativeConnection
{
public:
    // The client handle behind an open QMYSQL/QMARIADB connection, or null.
    static MYSQL *handle(const QSqlDatabase &db);
    static DbError lastError(MYSQL *mysql);

    // After a bounded open: statements themselves may run for as long as
    // they need, so the read and write limits used while opening are lifted.
    static void liftIoTimeouts(MYSQL *mysql);
    // One statement per round trip: a text of several is a syntax error at
    // the server instead of statements we never looked at.
    static bool disableMultiStatements(MYSQL *mysql);
    static bool inTransaction(MYSQL *mysql);
    static unsigned long threadId(MYSQL *mysql);
    // The first `max` rows of SHOW WARNINGS as "Level Code: Message", and
    // the codes of all of them.
    static QStringList warnings(MYSQL *mysql, int max, QList<int> *codes = nullptr);
    // Shuts the socket down under whoever is reading it. Safe from another
    // thread while the handle is alive; the handle still has to be closed.
    static void abort(MYSQL *mysql);

    // A handle of our own, connected with the parameters (TLS, socket)
    // and without a database, in UTF-8 (utf8mb4); null with *error set when
    // it cannot be opened or the session is not what the TLS mode demands.
    static MYSQL *open(const ConnectionParams &params, int connectTimeoutSeconds,
                       int readTimeoutSeconds, DbError *error);

    // Sends KILL QUERY for the given server thread over a short-lived second
    // connection with the same parameters.
    static DbError killQuery(const ConnectionParams &params, unsigned long threadId,
                             int timeoutSeconds);
};
