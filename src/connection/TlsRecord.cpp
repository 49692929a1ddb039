#include "TlsRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const TlsMode Modes[] = { TlsMode::Off, TlsMode::Preferred, TlsMode::Required, TlsMode::VerifyCa,
                          TlsMode::VerifyIdentity };

} // namespace

QString TlsRecord::fileFor(const QString &settingsFile)
{
    const QFileInfo info(settingsFile);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-tls.json"));
}

QString TlsRecord::modeName(TlsMode mode)
{
    switch (mode) {
    case TlsMode::Off:
        return QStringLiteral("off");
    case TlsMode::Preferred:
        break;
    case TlsMode::Required:
        return QStringLiteral("required");
    case TlsMode::VerifyCa:
        return QStringLiteral("verify-ca");
    case TlsMode::VerifyIdentity:
        return QStringLiteral("verify-identity");
    }
    return QStringLiteral("preferred");
}

std::optional<ConnectionParams> TlsRecord::parse(const QByteArray &content)
{
    if (content.size() > MaxBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    ConnectionParams params;
    const QString mode = object.value(QStringLiteral("mode")).toString();
    for (TlsMode m : Modes)
        if (modeName(m) == mode)
            params.tlsMode = m;
    params.tlsCa = object.value(QStringLiteral("ca")).toString();
    params.tlsCert = object.value(QStringLiteral("cert")).toString();
    params.tlsKey = object.value(QStringLiteral("key")).toString();
    return params;
}

QByteArray TlsRecord::format(const ConnectionParams &params)
{
    const QJsonObject object{ { QStringLiteral("mode"), modeName(params.tlsMode) },
                              { QStringLiteral("ca"), params.tlsCa },
                              { QStringLiteral("cert"), params.tlsCert },
                              { QStringLiteral("key"), params.tlsKey } };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool TlsRecord::isDefault(const ConnectionParams &params)
{
    return params.tlsMode == TlsMode::Preferred && params.tlsCa.isEmpty()
        && params.tlsCert.isEmpty() && params.tlsKey.isEmpty();
}
