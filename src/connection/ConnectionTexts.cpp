#include "ConnectionTexts.h"

#include "ConnectionParams.h"
#include "DbError.h"
#include "TlsSession.h"

QString connectionTarget(const ConnectionParams &params)
{
    const QString host = params.host.isEmpty() ? QStringLiteral("localhost") : params.host;
    const QString port = params.port < 0 ? QStringLiteral("既定のポート") : QString::number(params.port);
    // A socket has no port.
    return params.user + QLatin1Char('@') + host
        + (params.host.startsWith(QLatin1Char('/')) ? QString() : QLatin1Char(':') + port)
        + QLatin1Char('/') + params.database;
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

QString sessionText(bool open, const TlsSession &session)
{
    if (!open)
        return QString();
    if (!session.encrypted())
        return QStringLiteral("暗号化なし");
    QString version = session.version;
    version.replace(QLatin1String("TLSv"), QString());
    return QStringLiteral("TLS %1 %2").arg(version, session.cipher);
}
