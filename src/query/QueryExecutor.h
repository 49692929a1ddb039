#pragma once

#include "StatementResult.h"
#include "StatementSplitter.h"

#include <QObject>
#include <QString>

#include <functional>

class DatabaseConnection;
class ResultModel;

// What F5 does with a text once a connection is open: classify it, run it,
// and for a data change ask whether to commit. It shows no widget: the
// question goes through the callback the window gives, and every outcome
// leaves as a status text or a result.
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

private:
    void runQuery(const QString &sql);
    void runDataChange(const QString &sql);
    void changeRan(const StatementResult &result);
    bool begin();
    void askToCommit(bool inTransaction);
    void failed(bool cancelled, bool inTransaction);
    void endTransaction(Answer answer);
    void showRows(const StatementResult &result);
    void runScriptStatements(const QList<SqlStatement> &statements, bool inTransaction);
    void scriptEnded(const QList<SqlStatement> &statements, int good, bool inTransaction);
    void setRunning(bool running);

    DatabaseConnection *m_connection;
    CommitQuestion m_question;
    ImplicitCommitQuestion m_implicitQuestion;
    Change m_change;
    StatementResult m_last;
    bool m_running = false;
    bool m_cancelled = false;       // the running statement
    bool m_streamCancelled = false; // rows still streaming in
};
