#include "SafeFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

bool SafeFile::isRegular(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool SafeFile::write(const QString &path, const Writer &writer,
                     QFileDevice::Permissions permissions, QString *error)
{
    QSaveFile file(path);
    const auto fail = [&file, error] {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    };
    // A short write (disk full, quota) may show only in the flush, which
    // commit() does not check; the data is on disk before the old file goes.
    if (!file.open(QIODevice::WriteOnly) || (permissions && !file.setPermissions(permissions))
        || !writer(file) || !file.flush() || ::fsync(file.handle()) != 0)
        return fail();
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool SafeFile::write(const QString &path, const QByteArray &bytes,
                     QFileDevice::Permissions permissions, QString *error)
{
    return write(path, [&bytes](QIODevice &out) { return out.write(bytes) == bytes.size(); },
                 permissions, error);
}
