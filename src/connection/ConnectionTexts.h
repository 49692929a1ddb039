#pragma once

#include <QString>

struct ConnectionParams;
struct DbError;

// Where the one connection goes, as the message log names it:
// "user@host:port/db".
QString connectionTarget(const ConnectionParams &params);
// Why a failed connect failed, and, where the usual mistake is plain, what
// to try instead.
QString connectFailureText(const DbError &error, const QString &host);
