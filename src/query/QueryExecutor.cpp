#include "QueryExecutor.h"

#include "DatabaseConnection.h"
#include "ResultModel.h"
#include "StatementClassifier.h"

QueryExecutor::QueryExecutor(DatabaseConnection *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    connect(connection, &DatabaseConnection::closed, this, [this] { setRunning(false); });
}

void QueryExecutor::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged(running);
}

void QueryExecutor::cancel()
{
    if (!m_running && !m_connection->isStreaming())
        return;
    m_cancelled = m_running;
    m_streamCancelled = !m_running;
    m_connection->cancel();
}

void QueryExecutor::execute(const QString &text)
{
    if (m_running)
        return;
    const int kind = classifyStatement(text);
    if (kind != SqlSelect && kind != SqlInsert && kind != SqlUpdate && kind != SqlDelete)
        return;
    // A result still streaming in is left: its rows so far stay in the grid.
    if (m_connection->isStreaming())
        m_connection->cancel();
    m_cancelled = false;
    m_streamCancelled = false;
    setRunning(true);
    if (kind == SqlSelect)
        runQuery(text);
    else
        runDataChange(text);
}

void QueryExecutor::runQuery(const QString &sql)
{
    m_connection->run(sql, false, [this](const StatementResult &result) {
        switch (result.kind) {
        case StatementResult::Rows: {
            auto *model = new ResultModel(result.columns, result.firstRows);
            model->follow(m_connection, result.streamId);
            connect(model, &ResultModel::loadingFinished, this, [this, model] {
                const StreamEnd &end = model->streamEnd();
                if (end.kind == StreamEnd::Cancelled && m_streamCancelled)
                    emit message(QStringLiteral("キャンセルしました。"));
                else if (end.kind == StreamEnd::Failed)
                    emit message(QStringLiteral("データベースに接続して下さい。"));
                else if (end.kind == StreamEnd::Cut)
                    emit message(QStringLiteral("結果が大きすぎるため %L1 行で打ち切りました。")
                                     .arg(end.rows));
            });
            emit resultReady(model);
            // Some statements end early but normally when killed (SLEEP()
            // returns 1): the user asked to stop, and it stopped.
            if (m_cancelled)
                emit message(QStringLiteral("キャンセルしました。"));
            break;
        }
        case StatementResult::NoResultSet:
            emit message(m_cancelled ? QStringLiteral("キャンセルしました。")
                                     : QStringLiteral("Query OK, affected rows: %1")
                                           .arg(result.affectedRows));
            break;
        case StatementResult::Cancelled:
            emit message(QStringLiteral("キャンセルしました。"));
            break;
        case StatementResult::Failed:
            emit message(QStringLiteral("データベースに接続して下さい。"));
            break;
        }
        setRunning(false);
    });
}

void QueryExecutor::runDataChange(const QString &sql)
{
    m_connection->transaction(DatabaseConnection::Begin,
                              [this, sql](const TransactionOutcome &begun) {
        if (!begun.ok) {
            // Without a transaction there is nothing to undo: not run at all.
            emit message(QStringLiteral("トランザクション失敗"));
            setRunning(false);
            return;
        }
        emit message(QStringLiteral("トランザクション開始"));
        if (m_cancelled) {
            endTransaction(Cancel);
            return;
        }
        m_connection->run(sql, true, [this](const StatementResult &result) {
            changeRan(result);
        });
    });
}

void QueryExecutor::changeRan(const StatementResult &result)
{
    if (result.kind == StatementResult::Rows || result.kind == StatementResult::NoResultSet) {
        if (!result.inTransaction) {
            // DDL, TRUNCATE or an explicit COMMIT ended the transaction on
            // the server: a question would offer an undo that cannot happen.
            emit message(QStringLiteral("変更は既にコミットされました。元に戻せません。"));
            setRunning(false);
            return;
        }
        if (m_cancelled) {
            endTransaction(Cancel);
            return;
        }
        const Answer answer = m_question ? m_question(result.affectedRows) : Cancel;
        endTransaction(answer);
        return;
    }
    // Never leave a failed change's transaction open: it would hold its
    // locks, and the next BEGIN would silently commit it.
    const bool cancelled = result.kind == StatementResult::Cancelled;
    m_connection->transaction(DatabaseConnection::Rollback,
                              [this, cancelled](const TransactionOutcome &) {
        emit message(cancelled ? QStringLiteral("キャンセルしました。") : QStringLiteral("エラー"));
        setRunning(false);
    });
}

void QueryExecutor::endTransaction(Answer answer)
{
    if (answer == Yes || answer == Other) {
        m_connection->transaction(DatabaseConnection::Commit,
                                  [this, answer](const TransactionOutcome &outcome) {
            if (answer == Yes)
                emit message(outcome.ok ? QStringLiteral("コミットしました。")
                                        : QStringLiteral("コミット失敗。"));
            setRunning(false);
        });
        return;
    }
    const bool cancelled = m_cancelled;
    m_connection->transaction(DatabaseConnection::Rollback,
                              [this, cancelled](const TransactionOutcome &outcome) {
        if (cancelled)
            emit message(QStringLiteral("キャンセルしました。"));
        else if (!outcome.ok)
            emit message(QStringLiteral("ロールバック失敗。"));
        else if (outcome.partial)
            emit message(QStringLiteral("一部の変更は元に戻せませんでした。"));
        else
            emit message(QStringLiteral("ロールバックしました。"));
        setRunning(false);
    });
}
