#pragma once

#include <QByteArray>
#include <QString>

// Reads the text files users bring (SQL scripts saved by many tools over the
// years) and writes them back as UTF-8. Nothing here touches a widget.
class TextFileCodec
{
public:
    enum class Encoding { Utf8, Utf16, ShiftJis, EucJp };

    struct Decoded
    {
        QString text;
        Encoding encoding = Encoding::Utf8;
        // True when the bytes fit no encoding we know: the text was read as
        // UTF-8 with replacement characters, so writing it back would change
        // bytes the user never touched.
        bool guessed = false;
        // Windows line ends, which the editor shows as plain line ends and
        // writeFile() puts back.
        bool crlf = false;
    };

    // Files above this are refused rather than exhausting memory: the editor
    // holds a file several times over (bytes, text, document).
    static constexpr qint64 MaxFileBytes = qint64(256) << 20;

    static Decoded decode(const QByteArray &bytes);
    static bool readFile(const QString &path, Decoded *out, QString *error);
    // Replaces the file atomically: on any failure the old file stays as it was.
    static bool writeFile(const QString &path, const QString &text, bool crlf, QString *error);
    // The encoding a file would be opened in, decided from its start, as a
    // name QStringDecoder knows; empty when it is no text in one we know.
    // For running a file that is never read whole.
    static QByteArray scriptEncoding(const QString &path);
};
