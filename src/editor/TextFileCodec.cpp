#include "TextFileCodec.h"

#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

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

} // namespace

TextFileCodec::Decoded TextFileCodec::decode(const QByteArray &bytes)
{
    Decoded out;
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        if (*bom != QStringConverter::Utf8 || bytes.startsWith("\xEF\xBB\xBF")) {
            QStringDecoder decoder(*bom);
            out.text = decoder.decode(bytes);
            out.encoding = *bom == QStringConverter::Utf8 ? Encoding::Utf8 : Encoding::Utf16;
            out.guessed = decoder.hasError();
            if (!out.text.isEmpty() && out.text.front() == QChar(0xfeff))
                out.text.remove(0, 1);
            return out;
        }
    }
    // A NUL byte never occurs in a text file in these encodings: this is a
    // binary file, whatever the decoders think of it.
    const bool binary = bytes.contains('\0');
    if (!binary) {
        if (auto utf8 = decodeStrictly("UTF-8", bytes)) {
            out.text = *utf8;
            return out;
        }
        auto sjis = decodeStrictly("windows-31j", bytes);
        auto euc = decodeStrictly("EUC-JP", bytes);
        if (sjis && (!euc || japaneseLikeness(*sjis) >= japaneseLikeness(*euc))) {
            out.text = *sjis;
            out.encoding = Encoding::ShiftJis;
            return out;
        }
        if (euc) {
            out.text = *euc;
            out.encoding = Encoding::EucJp;
            return out;
        }
    }
    out.text = QString::fromUtf8(bytes);
    out.guessed = true;
    return out;
}

bool TextFileCodec::readFile(const QString &path, Decoded *out, QString *error)
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
    *out = decode(bytes);
    const qsizetype crlfs = out->text.count(QStringLiteral("\r\n"));
    out->crlf = crlfs > 0 && crlfs == out->text.count(u'\n');
    if (out->crlf)
        out->text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return true;
}

bool TextFileCodec::writeFile(const QString &path, const QString &text, bool crlf, QString *error)
{
    const QByteArray bytes = crlf ? QString(text).replace(u'\n', QStringLiteral("\r\n")).toUtf8()
                                  : text.toUtf8();
    // A saved script keeps the permissions of the file it replaces.
    return SafeFile::write(path, bytes, {}, error);
}

QByteArray TextFileCodec::scriptEncoding(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "UTF-8"; // the run names the reason it cannot be read
    QByteArray sample = file.read(1 << 16);
    if (!file.atEnd() && sample.lastIndexOf('\n') > 0)
        sample.truncate(sample.lastIndexOf('\n') + 1); // never half a character
    const Decoded decoded = decode(sample);
    if (decoded.guessed && !sample.isEmpty())
        return {};
    switch (decoded.encoding) {
    case Encoding::Utf16:
        return "UTF-16";
    case Encoding::ShiftJis:
        return "windows-31j";
    case Encoding::EucJp:
        return "EUC-JP";
    default:
        return "UTF-8";
    }
}
