#pragma once

#include "StatementKeywords.h"
#include "StatementResult.h"
#include "StatementSplitter.h"

#include <QElapsedTimer>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

class ScriptFileReader;

// One F5, Ctrl+Return or SQL file: its statements and where they came from,
// from the splitter to the last outcome. Offsets are carried from the split,
// so nobody recomputes where a statement was; a file's statements are read
// as the run goes and only the one running is kept.
class QueryRun
{
public:
    // What the run holds, read before anything of it is sent.
    struct Preview
    {
        int statements = 0;
        bool changes = false;
        // Statements the server commits by itself: how many of each kind,
        // and the first few as written.
        QMap<QString, int> committingKinds;
        QStringList firstCommitting;
        int committing = 0;
        // Why it cannot run at all; empty when it can.
        QString error;
        bool cancelled = false;
        qsizetype errorLine = 0;
        qsizetype errorOffset = -1; // in the editor's text, for a text run
    };

    // A statement as the outcome reports name it.
    struct Place
    {
        QString text;           // for a file: the statement that ran last
        qsizetype start = -1;   // in the editor's text; -1 for a file
        qsizetype end = -1;
        qsizetype line = 0;     // in the file, or in the text run
    };

    // Statements split from a text that stands at `offset` in the editor
    // page `origin`.
    static std::shared_ptr<QueryRun> fromText(QObject *origin, qsizetype offset,
                                              QList<SqlStatement> statements);
    // A file run in `encoding` (a QStringDecoder name).
    static std::shared_ptr<QueryRun> fromFile(const QString &path, const QByteArray &encoding);
    ~QueryRun();

    bool isFile() const { return !m_path.isEmpty(); }
    QString filePath() const { return m_path; }
    bool isSingle() const { return !isFile() && m_statements.size() == 1; }
    // The page the text came from; null once it is closed.
    QObject *origin() const { return m_origin.data(); }
    bool originGone() const { return m_hadOrigin && !m_origin; }

    // For a file this reads the whole file once (call it off the window's thread).
    Preview preview() const;
    // Summary lines of the statements that commit by themselves.
    static QStringList committingSummary(const Preview &preview);

    // The statements for the database thread. Call once.
    StatementFeed feed();
    // The statement `index` of the run. A file's statements are kept from
    // when they are read until forget() passes them.
    Place place(int index) const;
    // Outcomes of a file's statements before `index` have all been heard.
    void forget(int index);
    // What stopped the file's reading; empty when nothing did.
    QString readError() const;
    qsizetype readErrorLine() const;

    // Any thread: stops a file's preview.
    void stop() { m_stop = true; }

    // Progress, from any thread.
    int statementsFed() const { return m_fed; }
    qint64 bytesPreviewed() const { return m_previewBytes; }
    qint64 bytesDone() const;
    qint64 bytesTotal() const;

private:
    QueryRun() = default;
    static void note(Preview &preview, const QString &statement);

    QPointer<QObject> m_origin;
    bool m_hadOrigin = false;
    qsizetype m_offset = 0;
    QList<SqlStatement> m_statements;
    QString m_path;
    QByteArray m_encoding;
    std::shared_ptr<ScriptFileReader> m_reader;
    mutable std::mutex m_placesLock; // a file's statements read but not yet reported
    std::deque<Place> m_places;
    int m_placesBase = 0;
    std::atomic<int> m_fed{ 0 };
    mutable std::atomic<qint64> m_previewBytes{ 0 };
    std::atomic<bool> m_stop{ false };
};
