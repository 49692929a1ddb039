#pragma once

#include "EditBuffer.h"
#include "QueryExecutor.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class DatabaseConnection;
class ResultModel;
class RowStore;

// Sends a result's pending grid edits in one transaction on the user's
// connection: every statement must find exactly one row, or everything is
// rolled back and the edits stay pending; when all did, the commit question
// decides. Nothing else runs on the connection meanwhile, since requests
// there go one after another.
class GridEditApply : public QObject
{
    Q_OBJECT

public:
    explicit GridEditApply(DatabaseConnection *connection, QObject *parent = nullptr);

    void setCommitQuestion(QueryExecutor::CommitQuestion question) { m_question = std::move(question); }
    // Starts applying; false (after saying why) when it cannot start.
    bool apply(ResultModel *model);
    bool running() const { return m_running; }

signals:
    void message(const QString &text);
    void logged(const QString &what, const QString &outcome, const QStringList &details);
    void runningChanged(bool running);
    // The edits were committed (true) or are still pending (false).
    void finished(bool committed);

private:
    void runNext();
    void statementRan(const StatementResult &result);
    void readBack(const EditBuffer::Change &change);
    void fail(const QString &why);
    void askToCommit();
    void end(bool committed, const QString &status);
    void logStatement(const EditBuffer::Change &change, const QString &outcome);

    DatabaseConnection *m_connection;
    QueryExecutor::CommitQuestion m_question;
    QPointer<ResultModel> m_model;
    QList<EditBuffer::Change> m_changes;
    int m_next = 0;
    bool m_running = false; // also when the result went away meanwhile
    std::vector<std::shared_ptr<RowStore>> m_inserted;
    QHash<int, std::shared_ptr<RowStore>> m_updated; // stored row -> the row read back
};
