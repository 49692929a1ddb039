#pragma once

#include <QString>

struct ConnectionParams;
struct DbError;
struct TlsSession;

// Where the one connection goes, as the message log names it:
// "user@host:port/db" ("user@/socket/db" for a socket).
QString connectionTarget(const ConnectionParams &params);
// Why a failed connect failed, and, where the usual mistake is plain, what
// to try instead.
QString connectFailureText(const DbError &error, const QString &host);
// The status bar's word on an open session's encryption; empty while closed.
QString sessionText(bool open, const TlsSession &session);
