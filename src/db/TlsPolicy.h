#pragma once

#include "ConnectionParams.h"
#include "DbError.h"
#include "TlsSession.h"

#include <memory>

class QTemporaryDir;
typedef struct st_mysql MYSQL;

// What a TLS mode asks of a connection, for Qt's driver and for handles of
// our own alike. The client library falls back to plain text whenever the
// server offers no TLS, and checks a certificate's chain but never its
// name; so what a mode demands is checked on the session once it is open.
class TlsPolicy
{
public:
    // Why the files or the socket cannot be used (missing, a directory, no
    // PEM, a key that does not belong to its certificate, no socket), in
    // words for the log; empty when they can. Files a mode ignores are not
    // looked at.
    static QString problem(const ConnectionParams &params);

    // The driver's connect options for TLS and the socket. The driver's
    // option string cannot carry ';' or runs of blanks, so such a path is
    // handed over as a link in a private directory made on demand.
    static QString driverOptions(const ConnectionParams &params,
                                 std::unique_ptr<QTemporaryDir> &aliases);
    // The same on a handle of our own, before it connects.
    static void applyNative(MYSQL *mysql, const ConnectionParams &params);

    // Whether the open session is what the mode demands: encrypted, and
    // for the host mode with a certificate naming the host typed.
    static DbError checkSession(MYSQL *mysql, const ConnectionParams &params);
    // The name the server's certificate must carry: the host without its
    // port, "localhost" for a socket.
    static QString expectedName(const ConnectionParams &params);

    // What the server reports for the session.
    static TlsSession session(MYSQL *mysql);
};
