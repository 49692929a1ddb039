#include "NativeConnection.h"

#include "TlsPolicy.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <mysql.h>
#include <ma_pvio.h>

MYSQL *NativeConnection::handle(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // Qt 6 names the type after the struct, older builds after the typedef.
    const char *type = handle.typeName();
    if (!handle.isValid() || (qstrcmp(type, "MYSQL*") != 0 && qstrcmp(type, "st_mysql*") != 0))
        return nullptr;
    return *static_cast<MYSQL *const *>(handle.constData());
}

DbError NativeConnection::lastError(MYSQL *mysql)
{
    return DbError{ int(mysql_errno(mysql)), QString::fromLatin1(mysql_sqlstate(mysql)),
                    QString::fromUtf8(mysql_error(mysql)) };
}

void NativeConnection::liftIoTimeouts(MYSQL *mysql)
{
    MARIADB_PVIO *pvio = mysql->net.pvio;
    if (!pvio || !pvio->methods || !pvio->methods->set_timeout)
        return;
    pvio->methods->set_timeout(pvio, PVIO_READ_TIMEOUT, 0);
    pvio->methods->set_timeout(pvio, PVIO_WRITE_TIMEOUT, 0);
}

bool NativeConnection::disableMultiStatements(MYSQL *mysql)
{
    return mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_OFF) == 0;
}

bool NativeConnection::inTransaction(MYSQL *mysql)
{
    unsigned int status = 0;
    mariadb_get_infov(mysql, MARIADB_CONNECTION_SERVER_STATUS, &status);
    return status & SERVER_STATUS_IN_TRANS;
}

unsigned long NativeConnection::threadId(MYSQL *mysql)
{
    return mysql_thread_id(mysql);
}

QStringList NativeConnection::warnings(MYSQL *mysql, int max, QList<int> *codes)
{
    QStringList out;
    static const char query[] = "SHOW WARNINGS";
    if (mysql_real_query(mysql, query, sizeof query - 1) != 0)
        return out;
    MYSQL_RES *result = mysql_store_result(mysql);
    if (!result)
        return out;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (mysql_num_fields(result) < 3)
            break;
        if (codes)
            codes->append(row[1] ? QByteArray(row[1]).toInt() : 0);
        if (out.size() < max) {
            out.append(QString::fromUtf8(row[0]) + QLatin1Char(' ') + QString::fromUtf8(row[1])
                       + QStringLiteral(": ") + QString::fromUtf8(row[2]));
        }
    }
    mysql_free_result(result);
    return out;
}

void NativeConnection::abort(MYSQL *mysql)
{
    mariadb_cancel(mysql);
}

MYSQL *NativeConnection::open(const ConnectionParams &params, int connectTimeoutSeconds,
                              int readTimeoutSeconds, DbError *error)
{
    MYSQL *mysql = mysql_init(nullptr);
    if (!mysql) {
        *error = DbError{ 0, QString(), QStringLiteral("out of memory") };
        return nullptr;
    }
    const unsigned int timeout = unsigned(connectTimeoutSeconds),
                       readTimeout = unsigned(readTimeoutSeconds);
    mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &readTimeout);
    mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
    mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // The same way in as the user's session: an account that needs its
    // certificate, or a server that only takes TLS, would refuse anything else.
    TlsPolicy::applyNative(mysql, params);
    const bool socket = params.viaSocket();
    const QByteArray host = socket ? QByteArray() : params.host.toUtf8(),
                     path = socket ? QFile::encodeName(params.host) : QByteArray(),
                     user = params.user.toUtf8(), password = params.password.toUtf8();
    if (!mysql_real_connect(mysql, host.isEmpty() ? nullptr : host.constData(), user.constData(),
                            password.constData(), nullptr,
                            !socket && params.port > 0 ? unsigned(params.port) : 0,
                            socket ? path.constData() : nullptr, 0))
        *error = lastError(mysql);
    else
        // Not the server the session was meant for: it hears nothing.
        *error = TlsPolicy::checkSession(mysql, params);
    if (error->isSet()) {
        mysql_close(mysql);
        return nullptr;
    }
    return mysql;
}

DbError NativeConnection::killQuery(const ConnectionParams &params, unsigned long threadId,
                                    int timeoutSeconds)
{
    DbError error;
    MYSQL *mysql = open(params, timeoutSeconds, timeoutSeconds, &error);
    if (!mysql)
        return error;
    const QByteArray kill = "KILL QUERY " + QByteArray::number(qulonglong(threadId));
    if (mysql_real_query(mysql, kill.constData(), kill.size()) != 0)
        error = lastError(mysql);
    mysql_close(mysql);
    return error;
}
