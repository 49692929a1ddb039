#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reads the text files users bring (SQL scripts saved by many tools over the
// years) and writes them back in the encoding and with the line ends they
// came with, so that an edit changes only the bytes the user touched.
// Nothing here touches a widget.
class TextFileCodec
{
public:
    enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, ShiftJis, EucJp, Latin1 };

    // How each line of the file ended: one byte per line break, 'n' (LF),
    // 'c' (CRLF) or 'r' (CR); empty when every break is `usual`. New lines
    // past the recorded ones get `usual`.
    struct LineEnds
    {
        QByteArray kinds;
        char usual = 'n';
        bool operator==(const LineEnds &o) const { return kinds == o.kinds && usual == o.usual; }
    };

    // What the file looked like when it was read or written last, so a
    // change by another program can be told from our own.
    struct Stamp
    {
        qint64 size = -1;
        qint64 modifiedMs = 0;
        QByteArray sha1;
        bool isSet() const { return size >= 0; }
    };

    // Where a tab's text came from and how to write it back.
    struct Origin
    {
        Encoding encoding = Encoding::Utf8;
        // False when the encoding is a guess: the user should hear which
        // one was chosen and how to choose another.
        bool sure = true;
        // False when writing the text back would not give the file's bytes
        // (bytes no encoding we know accepts, replaced on reading).
        bool lossless = true;
        LineEnds ends;
        Stamp stamp;
    };

    struct Decoded
    {
        QString text; // line ends as '\n'
        Origin origin;
    };

    // Files above this are refused rather than exhausting memory: the editor
    // holds a file several times over (bytes, text, document).
    static constexpr qint64 MaxFileBytes = qint64(256) << 20;

    static Decoded decode(const QByteArray &bytes);
    static Decoded decodeAs(const QByteArray &bytes, Encoding encoding);
    // Reads and decodes path, guessing the encoding unless `as` is given.
    static bool readFile(const QString &path, Decoded *out, QString *error,
                         const Encoding *as = nullptr);
    // The bytes for text in that encoding with those line ends; false when
    // some character has no place in the encoding.
    static bool encode(const QString &text, Encoding encoding, const LineEnds &ends,
                       QByteArray *bytes);
    // Replaces the file atomically, keeping its permissions; on any failure
    // the old file stays as it was. *stamp describes what was written.
    static bool writeFile(const QString &path, const QByteArray &bytes, Stamp *stamp,
                          QString *error);
    // The file as it is now; size -1 when it is gone.
    static Stamp stampOf(const QString &path);
    // Whether the file still holds what `known` describes (cheap unless the
    // size is the same and the time differs).
    static bool unchanged(const Stamp &known, const QString &path);

    // The encoding a file would be opened in, decided from its start, as a
    // name QStringDecoder knows; empty when it is no text in one we know.
    // For running a file that is never read whole.
    static QByteArray scriptEncoding(const QString &path);

    static QString encodingName(Encoding encoding);
    static bool encodingFromName(const QString &name, Encoding *encoding);
    // The encodings the user can choose to read a file in.
    static QList<Encoding> choosable();

private:
    // `text` is `bytes` already decoded in `encoding`.
    static Decoded fromText(const QByteArray &bytes, Encoding encoding, QString text);
};
