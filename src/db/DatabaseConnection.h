#pragma once

#include "ConnectionParams.h"
#include "ConnectionWorker.h"
#include "StatementResult.h"
#include "TlsSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <future>

class QThread;
class RowStore;

// The one database connection, registered as "MySQL" exactly while the
// program holds it. Everything that talks to the server runs on a thread
// of its own, one request after another; the window's thread only posts
// requests and gets the outcomes back as callbacks, so it never waits on
// the network. A streamed result is always read to its end, or stopped and
// drained, before the next request touches the connection.
class DatabaseConnection : public QObject
{
    Q_OBJECT

public:
    enum State { Closed, Opening, Open };
    enum TransactionOp { Begin, Commit, Rollback };

    static QString connectionName();
    // A quarter of physical memory: the default ceiling for one result.
    static qint64 defaultRowMemoryLimit();

    explicit DatabaseConnection(QObject *parent = nullptr);
    ~DatabaseConnection() override;

    State state() const { return m_state; }
    // A request is on its way, or rows are still streaming.
    bool isBusy() const { return m_finished < m_posted; }
    bool isStreaming() const { return m_streamId != 0; }
    ConnectionParams params() const { return m_params; }
    // The open session's encryption; nothing while not open.
    TlsSession session() const { return m_session; }

    // Opening gives up after this long in all, whatever stage it hangs in.
    void setConnectTimeout(int seconds) { m_connectTimeout = seconds; }
    void setRowMemoryLimit(qint64 bytes);
    qint64 rowMemoryLimit() const { return m_memoryLimit; }
    // How long a cancelled statement may take to stop before the connection
    // is dropped.
    void setCancelGrace(int millis) { m_cancelGrace = millis; }

    void open(const ConnectionParams &params, std::function<void(const DbError &)> done);
    // Closes now: whatever runs or streams is cut off first.
    void close();
    void run(const QString &sql, bool collectWarnings,
             std::function<void(const StatementResult &)> done);
    // Runs statements one after another on the database thread, as the
    // feed gives them there, stopping at the first that fails. A change
    // runs in a transaction, begun for it when none is open. `each` hears
    // every statement's outcome (rows stream as for run()); `done` how the
    // script ended.
    void runScript(StatementFeed feed,
                   std::function<void(int index, const StatementResult &)> each,
                   std::function<void(const ScriptEnd &end)> done);
    void transaction(TransactionOp op, std::function<void(const TransactionOutcome &)> done);

    // Stops what runs now: an opening, a statement or a stream. Rows that
    // arrived stay. A statement that does not stop within the grace period
    // loses its connection (and the server rolls back).
    void cancel();

signals:
    void rowsArrived(quint64 streamId, std::shared_ptr<RowStore> batch);
    void streamEnded(quint64 streamId, const StreamEnd &end);
    void busyChanged(bool busy);
    // The connection is being dropped because a cancelled statement would
    // not stop; closed() follows.
    void dropped();
    // close() ran: whatever was on its way will not be answered.
    void closed();

private:
    quint64 post(std::function<void()> job);
    void finished(quint64 ticket);
    std::shared_ptr<ConnectionWorker::Sink> makeSink(quint64 ticket, bool finishesJob,
                                                     std::function<void(const StatementResult &)> done);
    // Outcomes reach the window's thread only while this object lives.
    struct Mailbox
    {
        std::mutex lock;
        DatabaseConnection *target = nullptr;
    };
    template<typename F>
    static void deliver(const std::shared_ptr<Mailbox> &mailbox, quint64 generation, F &&f);
    void escalateCancel(quint64 ticket);

    std::shared_ptr<Mailbox> m_mailbox;
    QThread *m_thread;
    ConnectionWorker *m_worker;
    State m_state = Closed;
    ConnectionParams m_params;
    unsigned long m_threadId = 0;
    TlsSession m_session;
    quint64 m_posted = 0;
    quint64 m_finished = 0;
    quint64 m_generation = 0; // outcomes of an earlier generation are dropped
    quint64 m_streamId = 0;
    // The rows the stream has handed over, and since when: close() reports
    // them for a stream it cuts off.
    qint64 m_streamRows = 0;
    qint64 m_streamFirstMs = 0;
    QElapsedTimer m_streamClock;
    int m_connectTimeout = 10;
    int m_cancelGrace = 5000;
    qint64 m_memoryLimit;
    QTimer m_openDeadline;
    std::function<void(const DbError &)> m_openDone;
    // The last KILL QUERY on its way. The next request waits for it, so a
    // late kill cannot stop a statement that was not meant.
    std::shared_future<void> m_kill;
};
