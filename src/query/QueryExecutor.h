#pragma once

#include "QueryRun.h"
#include "StatementResult.h"
#include "StatementSplitter.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class DatabaseConnection;

class ResultModel;

// What F5 does with a run once a connection is open: run its statements,
// each as what it does (rows to the grid, changes in a transaction, the
// rest as they are), and at the end ask whether to commit. It shows no
// widget: the questions go through callbacks the window gives, and every
// outcome leaves as a status text or a result, and as an entry for the
// message log in the server's own words.
class QueryExecutor : public QObject
{
    Q_OBJECT

public:
    enum Answer { Yes, No, Cancel, Other };
    // What a commit would make permanent.
    struct Change
    {
        qint64 affectedRows = 0;
        QStringList statements; // for a script: each change and its rows
    };
    using CommitQuestion = std::function<Answer(const Change &change)>;
    // Whether to run a script holding statements the server commits by
    // itself (a summary by kind, then the first few).
    using ImplicitCommitQuestion = std::function<bool(const QStringList &summary)>;

    explicit QueryExecutor(DatabaseConnection *connection, QObject *parent = nullptr);
    ~QueryExecutor() override;

    void setCommitQuestion(CommitQuestion question) { m_question = std::move(question); }
    void setImplicitCommitQuestion(ImplicitCommitQuestion question)
    {
        m_implicitQuestion = std::move(question);
    }

    // Runs a run. Returns at once; running() stays true until the outcome,
    // and for a change until it is committed or undone.
    void execute(std::shared_ptr<QueryRun> run);
    // A text as F5 takes it, from nowhere in particular (tests, tools).
    void execute(const QString &text);
    void executeScript(const QList<SqlStatement> &statements);
    bool running() const { return m_running; }
    // The run under way, or the last one.
    const QueryRun *currentRun() const { return m_run.get(); }
    // Stops the running statement or stream; a script stops after it.
    void cancel();

signals:
    void message(const QString &text);
    // A new result for the grid, from the page `origin`; the receiver takes
    // ownership.
    void resultReady(ResultModel *model);
    void runningChanged(bool running);
    // A new run begins: the results of the previous one are superseded.
    void runStarted();
    // Statement `index` of `count` is on its way (offsets in the editor's text).
    void statementRunning(int index, int count, qsizetype start, qsizetype end);
    void statementFailed(qsizetype start, qsizetype end);
    // A statement failed or was cancelled. `position` is where the server
    // says the error lies (an offset in the editor's text), or -1.
    void statementError(qsizetype position);
    // A file run: statements sent, bytes read of all, time so far.
    void fileProgress(int statements, qint64 bytesDone, qint64 bytesTotal, qint64 elapsedMs);
    // What ran and what came of it, for the message log.
    void logged(const QString &what, const QString &outcome, const QStringList &details);
    // A statement of the run was sent: a text's as written, a file's by its
    // first line (the log's line, without the file's name in front).
    void statementRan(const QString &statement);

private:
    void previewFile(std::shared_ptr<QueryRun> run);
    void start(std::shared_ptr<QueryRun> run, const QueryRun::Preview &preview);
    bool mayRun(const QueryRun &run, const QueryRun::Preview &preview);
    void runQuery(const QueryRun::Place &place);
    void runStatements();
    void statementDone(int index, const StatementResult &result);
    void noteChange(int index, const QueryRun::Place &place, const StatementResult &result);
    void runEnded(const ScriptEnd &end);
    void runFailed(const ScriptEnd &end, const QString &readError);
    void singleEnded(bool inTransaction);
    // Logs one statement's outcome; returns where its error lies (in the
    // editor's text), or -1.
    qsizetype logStatement(const QueryRun::Place &place, const StatementResult &result,
                           const QString &remark = QString());
    void logStreamEnd(quint64 streamId, const StreamEnd &end);
    void logTransaction(bool commit, const TransactionOutcome &outcome);
    bool begin();
    void askToCommit(bool inTransaction);
    void failed(bool cancelled, bool inTransaction);
    void endTransaction(Answer answer);
    // `sql` tells the model whether its rows can be edited.
    void showRows(const StatementResult &result, bool alone, const QString &sql);
    void setRunning(bool running);
    void reportProgress();

    DatabaseConnection *m_connection;
    CommitQuestion m_question;
    ImplicitCommitQuestion m_implicitQuestion;
    std::shared_ptr<QueryRun> m_run;
    Change m_change;            // since the transaction began
    int m_autoCommitted = 0; // transactions of the run a statement committed by itself
    StatementResult m_last;
    struct Stream
    {
        QString what;
        qint64 firstMs = 0;
    };
    QHash<quint64, Stream> m_streams; // results still streaming, to log when they end
    qsizetype m_errorPosition = -1; // of the failing statement
    bool m_running = false;
    bool m_begun = false;           // a transaction of this run is open
    bool m_beginFailed = false;
    bool m_cancelled = false;       // the running statement
    bool m_streamCancelled = false; // rows still streaming in
    bool m_committing = false;      // a COMMIT is on its way, its outcome not known yet
    QTimer m_progressTimer;
    QElapsedTimer m_clock;
    quint64 m_previewGeneration = 0;
};
