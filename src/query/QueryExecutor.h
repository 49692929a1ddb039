#pragma once

#include "StatementResult.h"
#include "StatementSplitter.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class DatabaseConnection;

class ResultModel;

// What F5 does with a text once a connection is open: classify it, run it,
// and for a data change ask whether to commit. It shows no widget: the
// question goes through the callback the window gives, and every outcome
// leaves as a status text or a result, and as an entry for the message log
// in the server's own words.
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
    // itself (shown by their first lines).
    using ImplicitCommitQuestion = std::function<bool(const QStringList &statements)>;

    explicit QueryExecutor(DatabaseConnection *connection, QObject *parent = nullptr);

    void setCommitQuestion(CommitQuestion question) { m_question = std::move(question); }
    void setImplicitCommitQuestion(ImplicitCommitQuestion question)
    {
        m_implicitQuestion = std::move(question);
    }

    // Runs a non-empty text. Returns at once; running() stays true until
    // the outcome, and for a data change until it is committed or undone.
    void execute(const QString &text);
    // Runs several statements as one script: one transaction for all its
    // changes, one question at the end, and the first failure stops it.
    void executeScript(const QList<SqlStatement> &statements);
    bool running() const { return m_running; }
    // Stops the running statement or stream.
    void cancel();

signals:
    void message(const QString &text);
    // A new result for the grid; the receiver takes ownership.
    void resultReady(ResultModel *model);
    void runningChanged(bool running);
    // A new run begins: the results of the previous one are superseded.
    void runStarted();
    // Statement `index` of `count` is on its way (offsets in the text given).
    void statementRunning(int index, int count, qsizetype start, qsizetype end);
    void statementFailed(qsizetype start, qsizetype end);
    // A statement failed or was cancelled. `position` is where the server
    // says the error lies (an offset in the text given), or -1.
    void statementError(qsizetype position);
    // What ran and what came of it, for the message log.
    void logged(const QString &what, const QString &outcome, const QStringList &details);

private:
    void runQuery(const QString &sql);
    // Logs one statement's outcome; returns where its error lies (offset
    // added), or -1.
    qsizetype logStatement(const QString &sql, qsizetype offset, const StatementResult &result,
                           const QString &remark = QString());
    void logStreamEnd(quint64 streamId, const StreamEnd &end);
    void logTransaction(bool commit, const TransactionOutcome &outcome);
    void runDataChange(const QString &sql);
    void changeRan(const StatementResult &result);
    bool begin();
    void askToCommit(bool inTransaction);
    void failed(bool cancelled, bool inTransaction);
    void endTransaction(Answer answer);
    void showRows(const StatementResult &result, const QString &sql);
    void runScriptStatements(const QList<SqlStatement> &statements, bool inTransaction);
    void scriptEnded(const QList<SqlStatement> &statements, int good, bool inTransaction);
    void setRunning(bool running);

    DatabaseConnection *m_connection;
    CommitQuestion m_question;
    ImplicitCommitQuestion m_implicitQuestion;
    Change m_change;
    StatementResult m_last;
    struct Stream
    {
        QString what;
        qint64 firstMs = 0;
    };
    QHash<quint64, Stream> m_streams; // results still streaming, to log when they end
    qsizetype m_errorPosition = -1; // of the script's failing statement
    bool m_running = false;
    bool m_cancelled = false;       // the running statement
    bool m_streamCancelled = false; // rows still streaming in
};
