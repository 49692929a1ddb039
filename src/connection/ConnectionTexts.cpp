#include "ConnectionTexts.h"

#include "ConnectionParams.h"
#include "DbError.h"

QString connectionTarget(const ConnectionParams &params)
{
    const QString host = params.host.isEmpty() ? QStringLiteral("localhost") : params.host;
    const QString port = params.port < 0 ? QStringLiteral("既定のポート") : QString::number(params.port);
    return params.user + QLatin1Char('@') + host + QLatin1Char(':') + port + QLatin1Char('/')
        + params.database;
}

QString connectFailureText(const DbError &error, const QString &host)
{
    QString text = QStringLiteral("接続できませんでした: ") + error.text();
    // 2002: the client library took "localhost" to mean the local socket.
    if (error.code == 2002 && (host.isEmpty() || host == QLatin1String("localhost")))
        text += QStringLiteral(" · localhost はソケットで接続します。TCP で接続するには "
                               "127.0.0.1 を指定して下さい");
    return text;
}
