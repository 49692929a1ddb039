#include "ConnectionWorker.h"

#include "MysqlRowSource.h"
#include "NativeConnection.h"
#include "QueryRowSource.h"
#include "RowStore.h"
#include "TlsPolicy.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <mysql.h>
#include <mysqld_error.h>
#include <errmsg.h>

namespace {

constexpr int FirstRows = 256;
constexpr int RowsPerFetch = 64;
// A batch goes to the window this often, or when it is this large.
constexpr qint64 BatchMillis = 20;
constexpr size_t BatchBytes = 1 << 20;
constexpr int MaxWarnings = 10;
constexpr int KillTimeoutSeconds = 5;

DbError qtError(const QSqlError &error)
{
    return DbError{ error.nativeErrorCode().toInt(), QString(),
                    error.databaseText().isEmpty() ? error.driverText() : error.databaseText() };
}

bool isMysqlDriver(const QString &driver)
{
    return driver == QLatin1String("QMYSQL") || driver == QLatin1String("QMARIADB")
        || driver == QLatin1String("QMYSQL3");
}

// A CALL answers with more than one result; only the first is shown, and
// the rest must be read before the connection takes the next command. A
// procedure that fails after returning rows reports it here: the failure is
// the statement's.
DbError dropFurtherResults(MYSQL *mysql)
{
    while (mysql_more_results(mysql)) {
        const int status = mysql_next_result(mysql);
        if (status > 0)
            return NativeConnection::lastError(mysql);
        if (status != 0)
            break;
        if (MYSQL_RES *extra = mysql_use_result(mysql))
            mysql_free_result(extra);
        else if (mysql_field_count(mysql) != 0)
            return NativeConnection::lastError(mysql);
    }
    return {};
}

// "Rows matched: 3  Changed: 1  Warnings: 0" after an UPDATE: the affected
// count leaves out rows that already held the new values.
qint64 matchedRows(const char *info)
{
    static const char prefix[] = "Rows matched: ";
    if (!info || qstrncmp(info, prefix, sizeof prefix - 1) != 0)
        return -1;
    bool ok = false;
    const QByteArray digits = QByteArray(info + sizeof prefix - 1).split(' ').value(0);
    const qint64 rows = digits.toLongLong(&ok);
    return ok ? rows : -1;
}

bool isLostConnection(int code)
{
    return code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST
        || code == ER_CONNECTION_KILLED;
}

} // namespace

ConnectionWorker::ConnectionWorker(QString name)
    : m_name(std::move(name))
{
}

ConnectionWorker::~ConnectionWorker() = default;

DbError ConnectionWorker::open(const ConnectionParams &params, int timeoutSeconds,
                               unsigned long *threadId)
{
    m_params = params;
    DbError error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(params.driver, m_name);
        qDebug().noquote() << params.driver;
        if (!db.isValid()) {
            // Qt registers even a connection it has no driver for.
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            return DbError{ 0, QString(),
                            QStringLiteral("driver not available: %1").arg(params.driver) };
        }
        error = openDriver(db, params, timeoutSeconds);
        if (error.isSet())
            db.close();
    }
    if (error.isSet()) {
        QSqlDatabase::removeDatabase(m_name);
        return error;
    }
    m_open = true;
    m_session = TlsSession();
    if (m_mysql) {
        NativeConnection::liftIoTimeouts(m_mysql);
        NativeConnection::disableMultiStatements(m_mysql);
        // The driver speaks UTF-8; make sure the server answers in kind, with
        // 4-byte characters included. The outcome is not examined.
        static const char names[] = "SET NAMES utf8mb4";
        mysql_real_query(m_mysql, names, sizeof names - 1);
        m_threadId = NativeConnection::threadId(m_mysql);
        m_session = TlsPolicy::session(m_mysql);
    }
    if (threadId)
        *threadId = m_threadId;
    return error;
}

DbError ConnectionWorker::openDriver(QSqlDatabase &db, const ConnectionParams &params,
                                     int timeoutSeconds)
{
    qDebug().noquote() << params.host;
    // A socket path is no host name: the driver is given it apart.
    const bool mysql = isMysqlDriver(params.driver);
    db.setHostName(mysql && params.viaSocket() ? QString() : params.host);
    db.setDatabaseName(params.database);
    qDebug().noquote() << params.database;
    db.setPort(mysql && params.viaSocket() ? -1 : params.port);
    const QString refused = mysql ? TlsPolicy::problem(params) : QString();
    if (!refused.isEmpty())
        return DbError{ 0, QString(), refused };
    std::unique_ptr<QTemporaryDir> aliases;
    if (mysql) {
        // Bounds every stage of opening: the TCP connect, the handshake,
        // and a peer that goes silent after the login.
        const QString tls = TlsPolicy::driverOptions(params, aliases);
        db.setConnectOptions(QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=%1;"
                                            "MYSQL_OPT_READ_TIMEOUT=%1;"
                                            "MYSQL_OPT_WRITE_TIMEOUT=%1")
                                 .arg(timeoutSeconds)
                             + (tls.isEmpty() ? QString() : QLatin1Char(';') + tls));
    }
    if (!db.open(params.user, params.password)) {
        DbError error = qtError(db.lastError());
        if (!error.isSet())
            error.message = QStringLiteral("the connection could not be opened");
        return error;
    }
    MYSQL *handle = NativeConnection::handle(db);
    // Refused before any statement runs, SET NAMES included.
    const DbError error = handle ? TlsPolicy::checkSession(handle, params) : DbError();
    if (!error.isSet()) {
        std::lock_guard<std::mutex> lock(m_handleLock);
        m_mysql = handle;
    }
    return error;
}

void ConnectionWorker::close()
{
    if (!QSqlDatabase::contains(m_name))
        return;
    {
        std::lock_guard<std::mutex> lock(m_handleLock);
        m_mysql = nullptr;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_open = false;
    m_inGenericTransaction = false;
    m_threadId = 0;
    m_session = TlsSession();
}

void ConnectionWorker::abortIo()
{
    std::lock_guard<std::mutex> lock(m_handleLock);
    if (m_mysql)
        NativeConnection::abort(m_mysql);
}

bool ConnectionWorker::inTransaction() const
{
    return m_mysql ? NativeConnection::inTransaction(m_mysql) : m_inGenericTransaction;
}

ScriptEnd ConnectionWorker::runScript(const StatementFeed &feed, quint64 ticket, const Sink &sink)
{
    ScriptEnd end;
    bool failed = false;
    bool begun = false;
    Sink watched = sink;
    watched.outcome = [&](StatementResult result) {
        failed = result.kind == StatementResult::Failed || result.kind == StatementResult::Cancelled;
        result.begun = begun;
        sink.outcome(std::move(result));
    };
    watched.end = [&](StreamEnd streamEnd) {
        failed = streamEnd.kind != StreamEnd::Complete;
        sink.end(std::move(streamEnd));
    };
    ScriptStatement next;
    bool ours = false; // a transaction this script began is open
    while (!stopRequested(ticket) && feed(next)) {
        begun = false;
        ours = ours && inTransaction();
        // Never a change in autocommit, and never one inside a transaction
        // the script did not begin (BEGIN ends that one, or is refused).
        if (next.change && !ours) {
            const TransactionOutcome started = transact(Begin);
            if (!started.ok) {
                StatementResult refused;
                refused.error = started.error;
                refused.beginFailed = true;
                sink.outcome(std::move(refused));
                break;
            }
            begun = ours = true;
        }
        run(next.sql, true, ticket, (ticket << 20) | quint64(end.good + 1), watched);
        if (failed)
            break;
        ++end.good;
    }
    end.inTransaction = inTransaction();
    return end;
}

void ConnectionWorker::run(const QString &sql, bool collectWarnings, quint64 ticket,
                           quint64 streamId, const Sink &sink)
{
    if (!m_mysql) {
        runGeneric(sql, ticket, streamId, sink);
        return;
    }
    QElapsedTimer clock;
    clock.start();
    StatementResult result;
    const QByteArray text = sql.toUtf8();
    if (stopRequested(ticket) || mysql_real_query(m_mysql, text.constData(), text.size()) != 0) {
        result.error = stopRequested(ticket) && !mysql_errno(m_mysql)
            ? DbError{ ER_QUERY_INTERRUPTED, QStringLiteral("70100"),
                       QStringLiteral("Query execution was interrupted") }
            : NativeConnection::lastError(m_mysql);
        result.kind = result.error.code == ER_QUERY_INTERRUPTED ? StatementResult::Cancelled
                                                                : StatementResult::Failed;
        // A connection that is gone holds no transaction.
        result.inTransaction = !isLostConnection(result.error.code)
            && NativeConnection::inTransaction(m_mysql);
        result.elapsedMs = clock.elapsed();
        sink.outcome(result);
        return;
    }

    MYSQL_RES *native = mysql_use_result(m_mysql);
    if (!native) {
        if (mysql_field_count(m_mysql) != 0) {
            result.error = NativeConnection::lastError(m_mysql);
        } else {
            const my_ulonglong affected = mysql_affected_rows(m_mysql);
            result.kind = StatementResult::NoResultSet;
            result.affectedRows = affected == my_ulonglong(~0ULL) ? -1 : qint64(affected);
            result.matchedRows = matchedRows(mysql_info(m_mysql));
            result.warningCount = int(mysql_warning_count(m_mysql));
            const DbError later = dropFurtherResults(m_mysql);
            result.inTransaction = NativeConnection::inTransaction(m_mysql);
            if (later.isSet()) {
                result.kind = StatementResult::Failed;
                result.error = later;
            } else if (collectWarnings && result.warningCount > 0) {
                result.warnings = NativeConnection::warnings(m_mysql, MaxWarnings);
            }
        }
        result.elapsedMs = clock.elapsed();
        sink.outcome(result);
        return;
    }
    MysqlRowSource source(m_mysql, native);
    stream(source, ticket, streamId, clock, sink);
}

void ConnectionWorker::runGeneric(const QString &sql, quint64 ticket, quint64 streamId,
                                  const Sink &sink)
{
    QElapsedTimer clock;
    clock.start();
    StatementResult result;
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    query.setForwardOnly(true);
    query.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!query.exec(sql)) {
        result.error = qtError(query.lastError());
        result.inTransaction = m_inGenericTransaction;
        result.elapsedMs = clock.elapsed();
        sink.outcome(result);
        return;
    }
    if (!query.isSelect()) {
        result.kind = StatementResult::NoResultSet;
        result.affectedRows = query.numRowsAffected();
        result.inTransaction = m_inGenericTransaction;
        result.elapsedMs = clock.elapsed();
        sink.outcome(result);
        return;
    }
    QueryRowSource source(std::move(query));
    stream(source, ticket, streamId, clock, sink);
}

void ConnectionWorker::stream(RowSource &source, quint64 ticket, quint64 streamId,
                              QElapsedTimer &clock, const Sink &sink)
{
    StatementResult result;
    result.kind = StatementResult::Rows;
    result.columns = source.columns();
    result.streamId = streamId;
    result.inTransaction = m_mysql ? NativeConnection::inTransaction(m_mysql) : m_inGenericTransaction;
    result.firstRows = std::make_shared<RowStore>();
    StreamEnd end;
    bool cut = false;
    try {
        source.fetch(*result.firstRows, FirstRows);
    } catch (const std::bad_alloc &) {
        cut = true;
    }
    end.rows = result.firstRows->rowCount();
    qint64 held = qint64(result.firstRows->bytesUsed());
    result.elapsedMs = clock.elapsed();
    sink.outcome(result);
    result.firstRows.reset();

    auto batch = std::make_shared<RowStore>();
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    bool stopped = false;
    while (!source.atEnd() && !cut) {
        if (stopRequested(ticket)) {
            stopped = true;
            break;
        }
        const qint64 limit = m_memoryLimit;
        if (limit > 0 && held + qint64(batch->bytesUsed()) >= limit) {
            cut = true;
            break;
        }
        try {
            end.rows += source.fetch(*batch, RowsPerFetch);
        } catch (const std::bad_alloc &) {
            cut = true;
            break;
        }
        if (batch->rowCount() > 0
            && (sinceBatch.elapsed() >= BatchMillis || batch->bytesUsed() >= BatchBytes)) {
            held += qint64(batch->bytesUsed());
            sink.rows(std::move(batch));
            batch = std::make_shared<RowStore>();
            sinceBatch.restart();
        }
    }
    if (batch->rowCount() > 0)
        sink.rows(std::move(batch));
    batch.reset();
    endStream(source, end, cut, stopped, clock, sink);
}

void ConnectionWorker::endStream(RowSource &source, StreamEnd end, bool cut, bool stopped,
                                 const QElapsedTimer &clock, const Sink &sink)
{
    if (cut && !source.atEnd() && m_mysql)
        NativeConnection::killQuery(m_params, m_threadId, KillTimeoutSeconds);
    end.error = source.error();
    if (auto *native = dynamic_cast<MysqlRowSource *>(&source)) {
        native->close(); // drops what the server still sends
        if (!end.error.isSet())
            end.error = dropFurtherResults(m_mysql);
    }
    end.inTransaction = inTransaction();
    if (cut)
        end.kind = StreamEnd::Cut;
    else if (stopped || end.error.code == ER_QUERY_INTERRUPTED)
        end.kind = StreamEnd::Cancelled;
    else if (end.error.isSet())
        end.kind = StreamEnd::Failed;
    end.totalMs = clock.elapsed();
    sink.end(end);
}

TransactionOutcome ConnectionWorker::transact(TransactionOp op)
{
    TransactionOutcome outcome;
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    switch (op) {
    case Begin:
        outcome.ok = db.transaction();
        m_inGenericTransaction = outcome.ok;
        break;
    case Commit:
        outcome.ok = db.commit();
        m_inGenericTransaction = false;
        break;
    case Rollback:
        outcome.ok = db.rollback();
        m_inGenericTransaction = false;
        if (outcome.ok && m_mysql && mysql_warning_count(m_mysql) > 0) {
            QList<int> codes;
            NativeConnection::warnings(m_mysql, 0, &codes);
            outcome.partial = codes.contains(ER_WARNING_NOT_COMPLETE_ROLLBACK);
        }
        break;
    }
    if (!outcome.ok)
        outcome.error = m_mysql ? NativeConnection::lastError(m_mysql) : qtError(db.lastError());
    return outcome;
}
