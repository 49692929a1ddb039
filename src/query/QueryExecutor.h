#pragma once

#include "StatementResult.h"

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
    using CommitQuestion = std::function<Answer(qint64 affectedRows)>;

    explicit QueryExecutor(DatabaseConnection *connection, QObject *parent = nullptr);

    void setCommitQuestion(CommitQuestion question) { m_question = std::move(question); }

    // Runs a non-empty text. Returns at once; running() stays true until
    // the outcome, and for a data change until it is committed or undone.
    void execute(const QString &text);
    bool running() const { return m_running; }
    // Stops the running statement or stream.
    void cancel();

signals:
    void message(const QString &text);
    // A new result for the grid; the receiver takes ownership.
    void resultReady(ResultModel *model);
    void runningChanged(bool running);

private:
    void runQuery(const QString &sql);
    void runDataChange(const QString &sql);
    void changeRan(const StatementResult &result);
    void endTransaction(Answer answer);
    void setRunning(bool running);

    DatabaseConnection *m_connection;
    CommitQuestion m_question;
    bool m_running = false;
    bool m_cancelled = false;       // the running statement
    bool m_streamCancelled = false; // rows still streaming in
};
