#include "MetadataConnection.h"

#include "NativeConnection.h"

#include <QThread>

#include <mysql.h>
#include <mysqld_error.h>
#include <errmsg.h>

namespace {

// A read that hears nothing for this long gives up: a server that went
// silent must not keep the names from ever loading again.
constexpr int ReadTimeoutSeconds = 120;

} // namespace

bool MetadataConnection::isLostConnection(const DbError &error)
{
    return error.code == CR_SERVER_GONE_ERROR || error.code == CR_SERVER_LOST
        || error.code == ER_CONNECTION_KILLED || error.code == CR_CONNECTION_ERROR;
}

DbError MetadataConnection::Session::open(const ConnectionParams &params, int timeoutSeconds)
{
    close();
    m_params = params;
    // Without a database: one the user may not open must not cost the names
    // of all the others.
    DbError error;
    MYSQL *mysql = NativeConnection::open(params, timeoutSeconds, ReadTimeoutSeconds, &error);
    if (!mysql)
        return error;
    {
        std::lock_guard<std::mutex> lock(*m_lock);
        m_mysql = mysql;
    }
    m_threadId = mysql_thread_id(mysql);
    return DbError();
}

void MetadataConnection::Session::close()
{
    MYSQL *mysql = nullptr;
    {
        std::lock_guard<std::mutex> lock(*m_lock);
        std::swap(mysql, m_mysql);
    }
    if (mysql)
        mysql_close(mysql);
    m_threadId = 0;
}

DbError MetadataConnection::Session::select(const QByteArray &sql, int columns,
                                            const std::function<void(const QString *)> &row)
{
    if (!m_mysql)
        return DbError{ CR_SERVER_GONE_ERROR, QString(), QStringLiteral("not connected") };
    if (mysql_real_query(m_mysql, sql.constData(), sql.size()) != 0)
        return NativeConnection::lastError(m_mysql);
    MYSQL_RES *result = mysql_use_result(m_mysql);
    if (!result)
        return NativeConnection::lastError(m_mysql);
    const int n = qMin(columns, int(mysql_num_fields(result)));
    std::vector<QString> fields(size_t(qMax(columns, 1)));
    while (MYSQL_ROW values = mysql_fetch_row(result)) {
        const unsigned long *lengths = mysql_fetch_lengths(result);
        for (int i = 0; i < n; ++i) {
            fields[size_t(i)] = values[i] ? QString::fromUtf8(values[i], qsizetype(lengths[i]))
                                          : QString();
        }
        row(fields.data());
    }
    // A fetch that ended early (the connection was killed) is an error, not
    // a short list.
    const DbError error = mysql_errno(m_mysql) ? NativeConnection::lastError(m_mysql) : DbError();
    mysql_free_result(result);
    return error;
}

QByteArray MetadataConnection::Session::literal(const QString &value) const
{
    const QByteArray raw = value.toUtf8();
    QByteArray out(raw.size() * 2 + 3, Qt::Uninitialized);
    out[0] = '\'';
    unsigned long n = m_mysql ? mysql_real_escape_string(m_mysql, out.data() + 1, raw.constData(),
                                                         raw.size())
                              : 0;
    out.truncate(qsizetype(n) + 1);
    out += '\'';
    return out;
}

MetadataConnection::MetadataConnection(QObject *parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_context(new QObject)
    , m_session(std::make_shared<Session>())
{
    mysql_library_init(0, nullptr, nullptr);
    m_thread->setObjectName(QStringLiteral("metadata"));
    m_context->moveToThread(m_thread);
    m_thread->start();
}

MetadataConnection::~MetadataConnection()
{
    abortIo();
    QThread *thread = m_thread;
    QObject *context = m_context;
    std::shared_ptr<Session> session = m_session;
    QMetaObject::invokeMethod(context, [context, session, thread] {
        session->close();
        delete context;
        thread->quit();
    });
    if (thread->wait(2000))
        delete thread;
}

void MetadataConnection::post(Job job)
{
    std::shared_ptr<Session> session = m_session;
    QMetaObject::invokeMethod(m_context, [session, job = std::move(job)] { job(*session); });
}

void MetadataConnection::abortIo()
{
    std::lock_guard<std::mutex> lock(*m_session->m_lock);
    if (m_session->m_mysql)
        NativeConnection::abort(m_session->m_mysql);
}
