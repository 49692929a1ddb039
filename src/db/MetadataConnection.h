#pragma once

#include "ConnectionParams.h"
#include "DbError.h"

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

class QThread;
typedef struct st_mysql MYSQL;

// A second connection with the user's parameters, for reading what the
// server holds (names of databases, tables, columns) without ever touching
// the user's connection: it keeps answering while a long statement runs
// there. It is a Connector/C handle of its own, never registered with
// QSqlDatabase, so the registry entry "MySQL" means the user's connection
// alone. Jobs run one after another on a thread of its own.
class MetadataConnection : public QObject
{
    Q_OBJECT

public:
    // What a job sees; used on the connection's thread only.
    class Session
    {
    public:
        DbError open(const ConnectionParams &params, int timeoutSeconds);
        void close();
        bool isOpen() const { return m_mysql != nullptr; }
        const ConnectionParams &params() const { return m_params; }
        unsigned long threadId() const { return m_threadId; }
        // Runs a query and hands each row's first `columns` fields over
        // (a NULL as a null QString) while they stream in.
        DbError select(const QByteArray &sql, int columns,
                       const std::function<void(const QString *fields)> &row);
        // A string literal for `value`, quotes included.
        QByteArray literal(const QString &value) const;

    private:
        friend class MetadataConnection;
        std::shared_ptr<std::mutex> m_lock = std::make_shared<std::mutex>();
        MYSQL *m_mysql = nullptr;
        ConnectionParams m_params;
        unsigned long m_threadId = 0;
    };
    using Job = std::function<void(Session &session)>;

    static bool isLostConnection(const DbError &error);

    explicit MetadataConnection(QObject *parent = nullptr);
    // Does not wait for a job stuck on the network: its socket is shut and
    // the thread ends by itself.
    ~MetadataConnection() override;

    void post(Job job);
    // Any thread: pulls the socket away from a query that will not end.
    void abortIo();

private:
    QThread *m_thread;
    QObject *m_context; // lives on m_thread; jobs are queued to it
    std::shared_ptr<Session> m_session;
};
