#include "DatabaseConnection.h"

#include "ConnectionWorker.h"
#include "NativeConnection.h"
#include "RowStore.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QDeadlineTimer>
#include <QThread>

#include <thread>

#include <unistd.h>

namespace {

constexpr int KillTimeoutSeconds = 5;

} // namespace

QString DatabaseConnection::connectionName()
{
    return QStringLiteral("MySQL");
}

qint64 DatabaseConnection::defaultRowMemoryLimit()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(1) << 30;
    return qint64(pages) * pageSize / 4;
}

DatabaseConnection::DatabaseConnection(QObject *parent)
    : QObject(parent)
    , m_mailbox(std::make_shared<Mailbox>())
    , m_thread(new QThread)
    , m_worker(new ConnectionWorker(connectionName()))
    , m_memoryLimit(defaultRowMemoryLimit())
{
    m_mailbox->target = this;
    m_thread->setObjectName(QStringLiteral("database"));
    m_worker->moveToThread(m_thread);
    m_worker->setMemoryLimit(m_memoryLimit);
    m_thread->start();
    m_openDeadline.setSingleShot(true);
    connect(&m_openDeadline, &QTimer::timeout, this, [this] {
        if (m_state == Opening)
            cancel();
    });
}

DatabaseConnection::~DatabaseConnection()
{
    blockSignals(true);
    close();
    {
        std::lock_guard<std::mutex> lock(m_mailbox->lock);
        m_mailbox->target = nullptr;
    }
    QThread *thread = m_thread;
    ConnectionWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, thread] {
        worker->close();
        delete worker;
        thread->quit();
    });
    // An opening that hangs on a silent peer ends by its own time limit; the
    // program does not wait for it.
    if (thread->wait(2000))
        delete thread;
}

void DatabaseConnection::setRowMemoryLimit(qint64 bytes)
{
    m_memoryLimit = bytes;
    m_worker->setMemoryLimit(bytes);
}

template<typename F>
void DatabaseConnection::deliver(const std::shared_ptr<Mailbox> &mailbox, quint64 generation,
                                 F &&f)
{
    std::lock_guard<std::mutex> lock(mailbox->lock);
    DatabaseConnection *target = mailbox->target;
    if (!target)
        return;
    QMetaObject::invokeMethod(target, [target, generation, f = std::forward<F>(f)]() mutable {
        if (target->m_generation == generation)
            f();
    });
}

quint64 DatabaseConnection::post(std::function<void()> job)
{
    const bool wasBusy = isBusy();
    const quint64 ticket = ++m_posted;
    ConnectionWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker, ticket, kill = m_kill, job = std::move(job)] {
        // A KILL still on its way lands before the job starts, unless the
        // job was given up meanwhile: a close never waits behind a KILL.
        const QDeadlineTimer deadline(std::chrono::seconds(KillTimeoutSeconds * 3));
        while (kill.valid() && worker->stopTicket() < ticket && !deadline.hasExpired()
               && kill.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        }
        job();
    });
    if (!wasBusy)
        emit busyChanged(true);
    return ticket;
}

void DatabaseConnection::finished(quint64 ticket)
{
    m_finished = qMax(m_finished, ticket);
    if (!isBusy())
        emit busyChanged(false);
}

void DatabaseConnection::open(const ConnectionParams &params,
                              std::function<void(const DbError &)> done)
{
    close();
    m_params = params;
    m_state = Opening;
    m_openDone = std::move(done);
    const quint64 generation = m_generation;
    const quint64 ticket = m_posted + 1;
    ConnectionWorker *worker = m_worker;
    const int timeout = m_connectTimeout;
    post([this, mailbox = m_mailbox, worker, params, timeout, generation, ticket] {
        unsigned long threadId = 0;
        const DbError error = worker->open(params, timeout, &threadId);
        const TlsSession session = worker->session();
        // Given up on in the meantime: what opened late is closed at once.
        if (!error.isSet() && worker->stopTicket() >= ticket)
            worker->close();
        deliver(mailbox, generation, [this, error, threadId, session, ticket] {
            finished(ticket);
            if (m_state != Opening)
                return;
            m_openDeadline.stop();
            m_state = error.isSet() ? Closed : Open;
            m_threadId = threadId;
            m_session = session;
            if (auto done = std::exchange(m_openDone, nullptr))
                done(error);
        });
    });
    m_openDeadline.start(m_connectTimeout * 1000);
}

void DatabaseConnection::close()
{
    m_openDeadline.stop();
    if (m_state == Closed && !isBusy())
        return;
    const bool hanging = m_state == Opening;
    ++m_generation; // outcomes still on their way are of no interest now
    m_worker->requestStop(m_posted);
    if (isBusy())
        m_worker->abortIo(); // cut off whatever runs or streams
    m_state = Closed;
    m_session = TlsSession();
    m_openDone = nullptr;
    if (const quint64 stream = std::exchange(m_streamId, 0)) {
        StreamEnd end;
        end.kind = StreamEnd::Cancelled;
        end.rows = m_streamRows;
        end.totalMs = m_streamFirstMs + m_streamClock.elapsed();
        emit streamEnded(stream, end);
    }
    ConnectionWorker *worker = m_worker;
    if (hanging) {
        // Opening may hang in the client library until its time limit;
        // the close waits behind it on the database thread, not here.
        QMetaObject::invokeMethod(worker, [worker] { worker->close(); });
    } else {
        // Every job still queued sees the stop and returns at once, and the
        // one running has lost its socket: the database thread removes the
        // "MySQL" entry without a word on the network, before close() returns.
        QMetaObject::invokeMethod(worker, [worker] { worker->close(); },
                                  Qt::BlockingQueuedConnection);
    }
    m_finished = m_posted;
    emit busyChanged(false);
    emit closed();
}

std::shared_ptr<ConnectionWorker::Sink>
DatabaseConnection::makeSink(quint64 ticket, bool finishesJob,
                             std::function<void(const StatementResult &)> done)
{
    const quint64 generation = m_generation;
    const std::shared_ptr<Mailbox> mailbox = m_mailbox;
    auto sink = std::make_shared<ConnectionWorker::Sink>();
    sink->outcome = [this, mailbox, generation, ticket, finishesJob,
                     done](StatementResult result) {
        deliver(mailbox, generation, [this, ticket, finishesJob, done, result] {
            if (result.kind == StatementResult::Rows) {
                m_streamId = result.streamId;
                m_streamRows = result.firstRows ? result.firstRows->rowCount() : 0;
                m_streamFirstMs = result.elapsedMs;
                m_streamClock.start();
            } else if (finishesJob) {
                finished(ticket);
            }
            done(result);
        });
    };
    sink->rows = [this, mailbox, generation](std::shared_ptr<RowStore> batch) {
        deliver(mailbox, generation, [this, batch] {
            m_streamRows += batch->rowCount();
            emit rowsArrived(m_streamId, batch);
        });
    };
    sink->end = [this, mailbox, generation, ticket, finishesJob](StreamEnd end) {
        deliver(mailbox, generation, [this, ticket, finishesJob, end] {
            const quint64 id = std::exchange(m_streamId, 0);
            if (finishesJob)
                finished(ticket);
            emit streamEnded(id, end);
        });
    };
    return sink;
}

void DatabaseConnection::run(const QString &sql, bool collectWarnings,
                             std::function<void(const StatementResult &)> done)
{
    const quint64 ticket = m_posted + 1;
    ConnectionWorker *worker = m_worker;
    auto sink = makeSink(ticket, true, std::move(done));
    post([worker, sql, collectWarnings, ticket, sink] {
        worker->run(sql, collectWarnings, ticket, ticket << 20, *sink);
    });
}

void DatabaseConnection::runScript(StatementFeed feed,
                                   std::function<void(int, const StatementResult &)> each,
                                   std::function<void(const ScriptEnd &)> done)
{
    const quint64 ticket = m_posted + 1;
    const quint64 generation = m_generation;
    const std::shared_ptr<Mailbox> mailbox = m_mailbox;
    ConnectionWorker *worker = m_worker;
    auto index = std::make_shared<int>(0); // touched on this thread only
    auto sink = makeSink(ticket, false, [index, each](const StatementResult &result) {
        each((*index)++, result);
    });
    // Outcomes without rows travel in groups: ten thousand INSERTs must not
    // cost ten thousand hops between the threads.
    auto pending = std::make_shared<QList<StatementResult>>();
    auto sinceFlush = std::make_shared<QElapsedTimer>();
    auto flush = [this, mailbox, generation, pending, index, each] {
        if (pending->isEmpty())
            return;
        deliver(mailbox, generation, [index, each, group = std::exchange(*pending, {})] {
            for (const StatementResult &result : group)
                each((*index)++, result);
        });
    };
    auto grouped = std::make_shared<ConnectionWorker::Sink>(*sink);
    grouped->outcome = [sink, pending, sinceFlush, flush](StatementResult result) {
        if (result.kind == StatementResult::Rows) {
            flush();
            sink->outcome(std::move(result));
            return;
        }
        pending->append(std::move(result));
        if (!sinceFlush->isValid() || sinceFlush->elapsed() >= 20) {
            flush();
            sinceFlush->start();
        }
    };
    post([this, mailbox, worker, feed = std::move(feed), ticket, generation, grouped, flush,
          done] {
        const ScriptEnd end = worker->runScript(feed, ticket, *grouped);
        flush();
        deliver(mailbox, generation, [this, ticket, end, done] {
            finished(ticket);
            done(end);
        });
    });
}

void DatabaseConnection::transaction(TransactionOp op,
                                     std::function<void(const TransactionOutcome &)> done)
{
    const quint64 generation = m_generation;
    const quint64 ticket = m_posted + 1;
    ConnectionWorker *worker = m_worker;
    post([this, mailbox = m_mailbox, worker, op, generation, ticket, done] {
        const TransactionOutcome outcome =
            worker->transact(ConnectionWorker::TransactionOp(op));
        deliver(mailbox, generation, [this, ticket, done, outcome] {
            finished(ticket);
            done(outcome);
        });
    });
}

void DatabaseConnection::cancel()
{
    if (m_state == Opening) {
        m_worker->requestStop(m_posted);
        m_state = Closed;
        ++m_generation;
        m_finished = m_posted;
        emit busyChanged(false);
        if (auto done = std::exchange(m_openDone, nullptr)) {
            DbError error{ 0, QString(), QStringLiteral("no answer within %1 s").arg(m_connectTimeout) };
            if (m_openDeadline.isActive()) {
                error.message = QStringLiteral("cancelled");
                error.cancelled = true;
            }
            done(error);
        }
        m_openDeadline.stop();
        ConnectionWorker *worker = m_worker;
        QMetaObject::invokeMethod(worker, [worker] { worker->close(); });
        return;
    }
    if (!isBusy() || m_state != Open)
        return;
    const quint64 ticket = m_posted;
    m_worker->requestStop(ticket);
    if (m_threadId != 0) {
        // A thread of its own, not std::async: the last copy of an async
        // future would wait for the KILL in its destructor.
        auto sent = std::make_shared<std::promise<void>>();
        m_kill = sent->get_future().share();
        std::thread([sent, params = m_params, id = m_threadId] {
            NativeConnection::killQuery(params, id, KillTimeoutSeconds);
            sent->set_value();
        }).detach();
    }
    QTimer::singleShot(m_cancelGrace, this, [this, ticket] { escalateCancel(ticket); });
}

void DatabaseConnection::escalateCancel(quint64 ticket)
{
    if (m_finished >= ticket || m_state != Open)
        return;
    // Said before the close, so that what the close leaves unknown (a
    // COMMIT on its way) is the last word.
    emit dropped();
    close();
}
