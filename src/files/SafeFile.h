#pragma once

#include <QFileDevice>
#include <QString>

#include <functional>

class QByteArray;
class QIODevice;

// How the program reads and writes the files it keeps (settings, tab
// state) and the files the user asks for (exports, saved scripts).
class SafeFile
{
public:
    // Only a regular file may be read: a FIFO would block the reader for
    // ever, and a device may never end.
    static bool isRegular(const QString &path);

    // Fills the device; false stops the write.
    using Writer = std::function<bool(QIODevice &out)>;
    // Writes the file completely or not at all: the old file stays until
    // the new one is on disk. With permissions, the new file has them from
    // the moment it exists; without, it takes the old file's. `error` says
    // why it failed.
    static bool write(const QString &path, const Writer &writer,
                      QFileDevice::Permissions permissions, QString *error);
    static bool write(const QString &path, const QByteArray &bytes,
                      QFileDevice::Permissions permissions, QString *error);
};
