#pragma once

#include "ConnectionParams.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The TLS settings of the last connection, kept in a file of their own
// beside database.ini: that file keeps its one line of four fields, so an
// older program still reads it. A small JSON object, so that any path
// (commas, blanks, Japanese) comes back exactly as typed.
class TlsRecord
{
public:
    static constexpr qsizetype MaxBytes = 64 * 1024;

    // The file that goes with a settings file: "database.ini" gives
    // "database-tls.json" in the same directory.
    static QString fileFor(const QString &settingsFile);

    // The mode and the three paths, or nothing when the content is not a
    // record of ours; an unknown mode reads as the default.
    static std::optional<ConnectionParams> parse(const QByteArray &content);
    static QByteArray format(const ConnectionParams &params);
    // Whether the TLS fields are what a new connection starts with, so that
    // no file is needed.
    static bool isDefault(const ConnectionParams &params);

    static QString modeName(TlsMode mode);
};
