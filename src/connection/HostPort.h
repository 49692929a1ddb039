#pragma once

#include <QString>

// A host as typed into the host field, which may carry a port: "db.local",
// "db.local:3307", "[::1]:3307". A bare IPv6 address ("::1") has no port;
// anything that does not parse as host and port stays the host, untouched
// but for surrounding blanks and line ends.
struct HostPort
{
    QString host;
    int port = -1; // -1: none given

    static HostPort parse(const QString &text);
};
