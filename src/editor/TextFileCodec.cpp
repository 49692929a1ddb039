#include "TextFileCodec.h"

#include "SafeFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <future>
#include <optional>


namespace {

// Decodes only if every byte belongs to a character of the encoding: a
// substituted character would be saved back as something the file never held.
std::optional<QString> decodeStrictly(const char *encoding, const QByteArray &bytes)
{
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    // EUC-JP decoders pass stray high bytes through as C1 controls, which no
    // text file means; Shift_JIS text would otherwise "decode" as EUC-JP.
    for (QChar c : std::as_const(text))
        if (c.unicode() >= 0x80 && c.unicode() <= 0x9f)
            return std::nullopt;
    return text;
}

// Bytes that are valid in both Shift_JIS and EUC-JP read as ordinary
// Japanese in the right one and as half-width katakana or rarities in the
// other.
int japaneseLikeness(const QString &text)
{
    int score = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30ff) || (u >= 0x4e00 && u <= 0x9fff) || (u >= 0xff01 && u <= 0xff5e))
            score += 1;
        else if (u >= 0xff61 && u <= 0xff9f)
            score -= 2;
        else if (u >= 0xe000 && u <= 0xf8ff)
            score -= 4;
    }
    return score;
}

// Shift_JIS or EUC-JP bytes that decode to no kana at all are more often
// another encoding (Latin-1 "é" followed by a letter is a kanji in Shift_JIS).
bool looksJapanese(const QString &text)
{
    bool kana = false;
    for (QChar c : text)
        kana = kana || (c.unicode() >= 0x3041 && c.unicode() <= 0x30ff);
    return kana && japaneseLikeness(text) > 0;
}

const char *codecName(TextFileCodec::Encoding encoding)
{
    using E = TextFileCodec::Encoding;
    switch (encoding) {
    case E::Utf8:
    case E::Utf8Bom:
        return "UTF-8";
    case E::Utf16Le:
        return "UTF-16LE";
    case E::Utf16Be:
        return "UTF-16BE";
    case E::ShiftJis:
        return "windows-31j";
    case E::EucJp:
        return "EUC-JP";
    case E::Latin1:
        return "ISO-8859-1";
    }
    return "UTF-8";
}

QByteArray byteOrderMark(TextFileCodec::Encoding encoding)
{
    using E = TextFileCodec::Encoding;
    if (encoding == E::Utf8Bom)
        return QByteArrayLiteral("\xEF\xBB\xBF");
    if (encoding == E::Utf16Le)
        return QByteArrayLiteral("\xFF\xFE");
    if (encoding == E::Utf16Be)
        return QByteArrayLiteral("\xFE\xFF");
    return QByteArray();
}

// Turns every line end into '\n' and records what each one was.
TextFileCodec::LineEnds takeLineEnds(QString *text)
{
    TextFileCodec::LineEnds ends;
    if (!text->contains(u'\r'))
        return ends;
    QString out;
    out.reserve(text->size());
    qsizetype counts[3] = {};
    for (qsizetype i = 0; i < text->size(); ++i) {
        const QChar c = text->at(i);
        char kind = 0;
        if (c == u'\r') {
            kind = i + 1 < text->size() && text->at(i + 1) == u'\n' ? 'c' : 'r';
            i += kind == 'c';
        } else if (c == u'\n') {
            kind = 'n';
        }
        if (!kind) {
            out.append(c);
            continue;
        }
        out.append(u'\n');
        ends.kinds.append(kind);
        ++counts[kind == 'n' ? 0 : kind == 'c' ? 1 : 2];
    }
    const qsizetype most = std::max({ counts[0], counts[1], counts[2] });
    ends.usual = most == counts[0] ? 'n' : most == counts[1] ? 'c' : 'r';
    if (ends.kinds.count(ends.usual) == ends.kinds.size())
        ends.kinds.clear();
    *text = out;
    return ends;
}

QString withLineEnds(const QString &text, const TextFileCodec::LineEnds &ends)
{
    if (ends.kinds.isEmpty() && ends.usual == 'n')
        return text;
    QString out;
    out.reserve(text.size() + text.size() / 16);
    qsizetype line = 0;
    for (QChar c : text) {
        if (c != u'\n') {
            out.append(c);
            continue;
        }
        const char kind = line < ends.kinds.size() ? ends.kinds[line] : ends.usual;
        ++line;
        out.append(kind == 'n' ? QStringView(u"\n") : kind == 'c' ? QStringView(u"\r\n")
                                                                  : QStringView(u"\r"));
    }
    return out;
}

} // namespace

TextFileCodec::Decoded TextFileCodec::decodeAs(const QByteArray &bytes, Encoding encoding)
{
    const QByteArray bom = byteOrderMark(encoding);
    const QByteArray body = !bom.isEmpty() && bytes.startsWith(bom) ? bytes.mid(bom.size()) : bytes;
    QStringDecoder decoder(codecName(encoding));
    return fromText(bytes, encoding, decoder.decode(body));
}

TextFileCodec::Decoded TextFileCodec::fromText(const QByteArray &bytes, Encoding encoding,
                                               QString text)
{
    Decoded out;
    out.origin.encoding = encoding;
    out.text = std::move(text);
    out.origin.ends = takeLineEnds(&out.text);
    QByteArray back;
    // A NUL in an 8-bit file is binary data that the editor may not keep.
    const bool wide = encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
    out.origin.lossless = (wide || !bytes.contains('\0'))
        && encode(out.text, encoding, out.origin.ends, &back) && back == bytes;
    return out;
}

TextFileCodec::Decoded TextFileCodec::decode(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return decodeAs(bytes, Encoding::Utf8Bom);
    if (bytes.startsWith("\xFF\xFE"))
        return decodeAs(bytes, Encoding::Utf16Le);
    if (bytes.startsWith("\xFE\xFF"))
        return decodeAs(bytes, Encoding::Utf16Be);
    // A NUL byte never occurs in a text file in these encodings: this is a
    // binary file, whatever the decoders think of it.
    if (!bytes.contains('\0')) {
        // The strict decoding is the text: a 10 MB file is not decoded twice.
        if (auto utf8 = decodeStrictly("UTF-8", bytes))
            return fromText(bytes, Encoding::Utf8, std::move(*utf8));
        auto sjis = decodeStrictly("windows-31j", bytes);
        auto euc = decodeStrictly("EUC-JP", bytes);
        const bool useSjis = sjis && (!euc || japaneseLikeness(*sjis) >= japaneseLikeness(*euc));
        if (useSjis || euc) {
            Decoded out = fromText(bytes, useSjis ? Encoding::ShiftJis : Encoding::EucJp,
                                   std::move(useSjis ? *sjis : *euc));
            out.origin.sure = looksJapanese(out.text);
            return out;
        }
    }
    Decoded out = decodeAs(bytes, Encoding::Utf8);
    out.origin.sure = false;
    out.origin.lossless = false;
    return out;
}

bool TextFileCodec::readFile(const QString &path, Decoded *out, QString *error, const Encoding *as)
{
    const QFileInfo info(path);
    if (!SafeFile::isRegular(path)) {
        *error = QStringLiteral("通常のファイルではありません");
        return false;
    }
    if (info.size() > MaxFileBytes) {
        *error = QStringLiteral("ファイルが大きすぎます（%1 MB まで）").arg(MaxFileBytes >> 20);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    // The checksum of a large file takes as long as decoding it: side by side.
    auto checksum = std::async(std::launch::async, [&bytes] {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    });
    *out = as ? decodeAs(bytes, *as) : decode(bytes);
    // The time from before the read: a change while reading shows as one.
    out->origin.stamp = { bytes.size(), info.lastModified().toMSecsSinceEpoch(), checksum.get() };
    return true;
}

bool TextFileCodec::encode(const QString &text, Encoding encoding, const LineEnds &ends,
                           QByteArray *bytes)
{
    QStringEncoder encoder(codecName(encoding));
    *bytes = byteOrderMark(encoding) + encoder.encode(withLineEnds(text, ends));
    return !encoder.hasError();
}

bool TextFileCodec::writeFile(const QString &path, const QByteArray &bytes, Stamp *stamp,
                              QString *error)
{
    // A saved script keeps the permissions of the file it replaces.
    if (!SafeFile::write(path, bytes, {}, error))
        return false;
    *stamp = { bytes.size(), QFileInfo(path).lastModified().toMSecsSinceEpoch(),
               QCryptographicHash::hash(bytes, QCryptographicHash::Sha1) };
    return true;
}

QByteArray TextFileCodec::scriptEncoding(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "UTF-8"; // the run names the reason it cannot be read
    QByteArray sample = file.read(1 << 16);
    if (!file.atEnd() && sample.lastIndexOf('\n') > 0)
        sample.truncate(sample.lastIndexOf('\n') + 1); // never half a character
    const Origin origin = decode(sample).origin;
    // Read as UTF-8 without being sure: the bytes fit no encoding we know.
    if (origin.encoding == Encoding::Utf8 && !origin.sure && !sample.isEmpty())
        return {};
    switch (origin.encoding) {
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        return "UTF-16";
    case Encoding::ShiftJis:
        return "windows-31j";
    case Encoding::EucJp:
        return "EUC-JP";
    default:
        return "UTF-8";
    }
}

TextFileCodec::Stamp TextFileCodec::stampOf(const QString &path)
{
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&file);
    return { info.size(), info.lastModified().toMSecsSinceEpoch(), hash.result() };
}

bool TextFileCodec::unchanged(const Stamp &known, const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() != known.size)
        return false;
    if (info.lastModified().toMSecsSinceEpoch() == known.modifiedMs)
        return true;
    // Touched, or copied back unchanged: only the bytes tell.
    return stampOf(path).sha1 == known.sha1;
}

QString TextFileCodec::encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Utf8Bom:
        return QStringLiteral("UTF-8 (BOM)");
    case Encoding::Utf16Le:
        return QStringLiteral("UTF-16LE");
    case Encoding::Utf16Be:
        return QStringLiteral("UTF-16BE");
    case Encoding::ShiftJis:
        return QStringLiteral("Shift_JIS");
    case Encoding::EucJp:
        return QStringLiteral("EUC-JP");
    case Encoding::Latin1:
        return QStringLiteral("Latin-1");
    }
    return QString();
}

bool TextFileCodec::encodingFromName(const QString &name, Encoding *encoding)
{
    for (Encoding e : { Encoding::Utf8, Encoding::Utf8Bom, Encoding::Utf16Le, Encoding::Utf16Be,
                        Encoding::ShiftJis, Encoding::EucJp, Encoding::Latin1 }) {
        if (encodingName(e) == name) {
            *encoding = e;
            return true;
        }
    }
    return false;
}

QList<TextFileCodec::Encoding> TextFileCodec::choosable()
{
    return { Encoding::Utf8, Encoding::ShiftJis, Encoding::EucJp, Encoding::Latin1,
             Encoding::Utf16Le, Encoding::Utf16Be };
}
