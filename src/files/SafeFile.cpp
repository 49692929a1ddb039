#include "SafeFile.h"

#include "FileError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

bool SafeFile::isRegular(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool SafeFile::write(const QString &path, const Writer &writer,
                     QFileDevice::Permissions permissions, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    const bool keepMode = !permissions && ::stat(name.constData(), &before) == 0;
    QSaveFile file(path);
    QString reason;
    const auto fail = [&] {
        if (error)
            *error = reason.isEmpty() ? FileError::describe(file) : reason;
        file.cancelWriting();
        return false;
    };
    if (!FileError::open(file, QIODevice::WriteOnly, &reason))
        return fail();
    // A short write (disk full, quota) may show only in the flush, which
    // commit() does not check; the data is on disk before the old file goes.
    errno = 0;
    if ((permissions && !file.setPermissions(permissions)) || !writer(file) || !file.flush()
        || ::fsync(file.handle()) != 0)
        return fail();
    if (!FileError::commit(file, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    // QSaveFile gives the new file the old one's mode, mostly: as root a
    // read-only file came back writable.
    struct stat after {};
    if (keepMode && ::stat(name.constData(), &after) == 0
        && (after.st_mode & 07777) != (before.st_mode & 07777))
        ::chmod(name.constData(), before.st_mode & 07777);
    return true;
}

bool SafeFile::write(const QString &path, const QByteArray &bytes,
                     QFileDevice::Permissions permissions, QString *error)
{
    return write(path, [&bytes](QIODevice &out) { return out.write(bytes) == bytes.size(); },
                 permissions, error);
}
