#include "ScriptFileReader.h"

#include <QFileInfo>

namespace {

QString splitErrorText(SplitError::Kind kind)
{
    switch (kind) {
    case SplitError::UnterminatedQuote:
        return QStringLiteral("引用符が閉じられないままファイルが終わっています");
    case SplitError::UnterminatedComment:
        return QStringLiteral("コメントが閉じられないままファイルが終わっています");
    case SplitError::BadDelimiterCommand:
        return QStringLiteral("DELIMITER の行が正しくありません");
    case SplitError::TooLong:
        return QStringLiteral("文が長すぎます（%1 MB を超えても終わりません）")
            .arg(ScriptFileReader::MaxStatementChars >> 20);
    case SplitError::None:
        break;
    }
    return QString();
}

} // namespace

ScriptFileReader::ScriptFileReader(const QString &path, const QByteArray &encoding)
    : m_path(path)
    , m_encoding(encoding)
    , m_file(path)
    , m_splitter([this](SqlStatement &&s) {
        m_ready.push_back(std::move(s));
        return true;
    })
{
    m_splitter.setMaxStatementLength(MaxStatementChars);
}

bool ScriptFileReader::open()
{
    m_opened = true;
    const QFileInfo info(m_path);
    // A FIFO or a device would never end; a directory cannot be read.
    if (!info.exists()) {
        fail(QStringLiteral("ファイルがありません"));
        return false;
    }
    if (!info.isFile()) {
        fail(QStringLiteral("通常のファイルではありません"));
        return false;
    }
    if (!m_file.open(QIODevice::ReadOnly)) {
        fail(m_file.errorString());
        return false;
    }
    m_size = m_file.size();
    m_decoder = std::make_unique<QStringDecoder>(m_encoding.constData());
    if (!m_decoder->isValid()) {
        fail(QStringLiteral("文字コード %1 を扱えません").arg(QString::fromLatin1(m_encoding)));
        return false;
    }
    return true;
}

bool ScriptFileReader::next(SqlStatement &statement)
{
    if (!m_opened && !open())
        return false;
    while (m_ready.empty()) {
        if (!m_error.isEmpty() || m_ended || !readBlock())
            return false;
    }
    statement = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

// Reads and splits one block; false when nothing more can come of the file.
bool ScriptFileReader::readBlock()
{
    const QByteArray bytes = m_file.read(BlockBytes);
    if (bytes.isEmpty() && m_file.error() != QFileDevice::NoError) {
        fail(m_file.errorString());
        return false;
    }
    m_bytesRead += bytes.size();
    const bool last = bytes.isEmpty();
    if (last && m_bytesRead != m_size) {
        // Cut short or grown while it ran: what it meant is no longer known.
        fail(QStringLiteral("実行中にファイルの大きさが変わりました"));
        return false;
    }
    const QString text = m_decoder->decode(bytes);
    if (m_decoder->hasError() || text.contains(QChar(0))) {
        fail(QStringLiteral("%1 として読めないバイトがあります（バイナリファイルか、文字コードが違います）")
                 .arg(QString::fromLatin1(m_encoding)));
        return false;
    }
    const bool more = m_splitter.append(text, last);
    if (m_splitter.error().kind != SplitError::None) {
        fail(splitErrorText(m_splitter.error().kind), m_splitter.error().line);
        return !m_ready.empty();
    }
    m_ended = last || !more;
    return true;
}

void ScriptFileReader::fail(const QString &why, qsizetype line)
{
    if (m_error.isEmpty()) {
        m_error = why;
        m_errorLine = line;
    }
}
