#pragma once

#include <QString>

// How a connection treats TLS, from "never" to "encrypted, and the server
// proves it is the host that was typed".
enum class TlsMode { Off, Preferred, Required, VerifyCa, VerifyIdentity };

// What it takes to open the one connection. The dialog hands these over;
// nothing else needs to know the dialog's widgets.
struct ConnectionParams
{
    QString driver;
    QString database;
    QString user;
    QString password;
    QString host; // a path starting with "/" is a Unix socket
    int port = -1; // -1: the driver's default
    TlsMode tlsMode = TlsMode::Preferred;
    QString tlsCa;
    QString tlsCert;
    QString tlsKey;

    bool viaSocket() const { return host.startsWith(QLatin1Char('/')); }

    bool operator==(const ConnectionParams &o) const
    {
        return driver == o.driver && database == o.database && user == o.user
            && password == o.password && host == o.host && port == o.port
            && tlsMode == o.tlsMode && tlsCa == o.tlsCa && tlsCert == o.tlsCert
            && tlsKey == o.tlsKey;
    }
};
