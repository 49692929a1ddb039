#pragma once

#include <QByteArray>
#include <QString>

#include <QIODevice>

class QFileDevice;
class QSaveFile;

// Why a file could not be written, in words a user can act on: "disk full"
// tells what to do, Qt's "Unknown error" after a short write does not.
class FileError
{
public:
    // open() and QSaveFile::commit() with the reason in *error on failure.
    static bool open(QFileDevice &file, QIODevice::OpenMode mode, QString *error);
    static bool commit(QSaveFile &file, QString *error);
    // Writes all of bytes, going on after a short write so that the call
    // that fails sets errno; on failure *error says why.
    static bool writeAll(QFileDevice &file, const QByteArray &bytes, QString *error);
    // The reason for errno `code`, or `fallback` when it is none we know.
    static QString describe(int code, const QString &fallback);
    // For a failed open() or commit() of `file` right after the call.
    static QString describe(const QFileDevice &file);
};
