#pragma once

#include "ConnectionParams.h"
#include "StatementResult.h"
#include "TlsSession.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QSqlDatabase;
typedef struct st_mysql MYSQL;

// The half of DatabaseConnection that lives on the database thread. Qt's
// SQL connections belong to the thread that opened them, so the connection
// named "MySQL" is added, opened, used and removed only here. Every member
// function but the atomics and abortIo() runs on that thread.
class ConnectionWorker : public QObject
{
    Q_OBJECT

public:
    enum TransactionOp { Begin, Commit, Rollback };

    struct Sink
    {
        std::function<void(StatementResult)> outcome;
        std::function<void(std::shared_ptr<RowStore>)> rows;
        std::function<void(StreamEnd)> end;
    };

    explicit ConnectionWorker(QString name);
    ~ConnectionWorker() override;

    DbError open(const ConnectionParams &params, int timeoutSeconds, unsigned long *threadId);
    void close();
    // The encryption of the session open() opened.
    TlsSession session() const { return m_session; }
    // Runs one statement; rows, if any, stream out under streamId.
    void run(const QString &sql, bool collectWarnings, quint64 ticket, quint64 streamId,
             const Sink &sink);
    // Runs statements in order until one fails or is stopped. A change is
    // run in a transaction: BEGIN goes out first when none is open.
    ScriptEnd runScript(const StatementFeed &feed, quint64 ticket, const Sink &sink);
    TransactionOutcome transact(TransactionOp op);

    // Any thread: the job with this ticket (and every earlier one) stops
    // reading rows as soon as it can.
    void requestStop(quint64 ticket)
    {
        quint64 seen = m_stopTicket;
        while (seen < ticket && !m_stopTicket.compare_exchange_weak(seen, ticket)) {
        }
    }
    quint64 stopTicket() const { return m_stopTicket; }
    void setMemoryLimit(qint64 bytes) { m_memoryLimit = bytes; }
    // Any thread: pulls the socket away from a statement that will not end.
    void abortIo();

private:
    // Sets the registered connection up as the parameters say and opens it;
    // on success m_mysql is its handle.
    DbError openDriver(QSqlDatabase &db, const ConnectionParams &params, int timeoutSeconds);
    bool stopRequested(quint64 ticket) const { return m_stopTicket >= ticket; }
    bool inTransaction() const;
    void stream(RowSource &source, quint64 ticket, quint64 streamId, QElapsedTimer &clock,
                const Sink &sink);
    // Stops what the server still sends, and says how the stream ended.
    void endStream(RowSource &source, StreamEnd end, bool cut, bool stopped,
                   const QElapsedTimer &clock, const Sink &sink);
    void runGeneric(const QString &sql, quint64 ticket, quint64 streamId, const Sink &sink);

    const QString m_name;
    ConnectionParams m_params;
    unsigned long m_threadId = 0;
    TlsSession m_session;
    bool m_open = false;
    bool m_inGenericTransaction = false;
    std::mutex m_handleLock; // held while m_mysql changes, and by abortIo()
    MYSQL *m_mysql = nullptr;
    std::atomic<quint64> m_stopTicket{ 0 };
    std::atomic<qint64> m_memoryLimit{ 0 };
};
