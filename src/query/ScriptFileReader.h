#pragma once

#include "StatementSplitter.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringDecoder>

#include <atomic>
#include <deque>
#include <memory>

// Reads a SQL file a block at a time, decodes it and splits it into
// statements, holding no more of it than the statement still open. What
// goes wrong (the file cannot be read, changes size, holds bytes that are
// not its encoding, ends inside a string) stops it with a reason.
class ScriptFileReader
{
public:
    static constexpr qint64 BlockBytes = qint64(1) << 20;
    // A statement past this is taken for a file that is no SQL script.
    static constexpr qsizetype MaxStatementChars = qsizetype(64) << 20;

    // `encoding` is a name QStringDecoder knows ("UTF-8", "windows-31j", …).
    ScriptFileReader(const QString &path, const QByteArray &encoding);

    // The next statement; false at the end or on an error (see error()).
    bool next(SqlStatement &statement);

    // Empty while all is well.
    QString error() const { return m_error; }
    // The line of the file where the error lies, or 0.
    qsizetype errorLine() const { return m_errorLine; }
    qint64 size() const { return m_size; }
    // Any thread: how far the reader has come.
    qint64 bytesRead() const { return m_bytesRead; }

private:
    bool open();
    bool readBlock();
    void fail(const QString &why, qsizetype line = 0);

    QString m_path;
    QByteArray m_encoding;
    QFile m_file;
    std::unique_ptr<QStringDecoder> m_decoder;
    StatementSplitter m_splitter;
    std::deque<SqlStatement> m_ready;
    QString m_error;
    qsizetype m_errorLine = 0;
    std::atomic<qint64> m_size{ -1 };
    std::atomic<qint64> m_bytesRead{ 0 };
    bool m_opened = false;
    bool m_ended = false;
};
