#include "FileError.h"

#include <QFileDevice>
#include <QSaveFile>

#include <cerrno>

bool FileError::open(QFileDevice &file, QIODevice::OpenMode mode, QString *error)
{
    errno = 0;
    if (file.open(mode))
        return true;
    *error = describe(file);
    return false;
}

bool FileError::commit(QSaveFile &file, QString *error)
{
    errno = 0;
    if (file.commit())
        return true;
    *error = describe(file);
    return false;
}

bool FileError::writeAll(QFileDevice &file, const QByteArray &bytes, QString *error)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            *error = describe(file);
            return false;
        }
        done += n;
    }
    return true;
}

QString FileError::describe(int code, const QString &fallback)
{
    switch (code) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("ディスクの空きがありません");
    case EROFS:
        return QStringLiteral("読み取り専用のファイルシステムです");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込む権限がありません");
    case EFBIG:
        return QStringLiteral("ファイルの大きさの上限を超えました");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("フォルダーがありません");
    case EIO:
        return QStringLiteral("入出力エラー");
    default:
        return fallback.isEmpty() ? QStringLiteral("原因不明のエラー") : fallback;
    }
}

QString FileError::describe(const QFileDevice &file)
{
    const int code = errno;
    // Qt refuses an existing read-only file itself, before any system call.
    if (file.error() == QFileDevice::WriteError && code == 0
        && file.errorString().contains(QLatin1String("not writable")))
        return describe(EACCES, file.errorString());
    return describe(code, file.errorString());
}
