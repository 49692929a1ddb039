#include "QueryExecutor.h"

#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "ResultModel.h"
#include "StatementClassifier.h"
#include "StatementKeywords.h"

namespace {

QString firstLine(const QString &statement)
{
    constexpr int Shown = 60;
    QString line = statement.section(QLatin1Char('\n'), 0, 0).simplified();
    if (line.size() > Shown || statement.contains(QLatin1Char('\n')))
        line = line.left(Shown) + QChar(0x2026);
    return line;
}

// The classifier only knows these four words, and only in lower case: a
// text without them is not run, and the user should learn why.
QString notRunReason(const QString &text)
{
    for (const char *word : { "select", "insert", "update", "delete" }) {
        if (text.contains(QLatin1String(word), Qt::CaseInsensitive))
            return QStringLiteral("実行しませんでした: キーワード（select, insert, update, "
                                  "delete）は小文字で書かれたものだけを認識します。");
    }
    return QStringLiteral("実行しませんでした: select, insert, update, delete のどれも"
                          "含まないため、実行する文と見なしません。");
}

QStringList warningLines(const StatementResult &result)
{
    if (result.warningCount <= 0)
        return {};
    QString line = QStringLiteral("警告 %1 件").arg(countText(result.warningCount));
    if (!result.warnings.isEmpty())
        line += QStringLiteral(": ") + result.warnings.join(QStringLiteral(" | "));
    if (!result.warnings.isEmpty() && result.warnings.size() < result.warningCount)
        line += QStringLiteral(" | …");
    return { line };
}

} // namespace

QueryExecutor::QueryExecutor(DatabaseConnection *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    connect(connection, &DatabaseConnection::closed, this, [this] {
        m_streams.clear();
        setRunning(false);
    });
    connect(connection, &DatabaseConnection::streamEnded, this, &QueryExecutor::logStreamEnd);
}

qsizetype QueryExecutor::logStatement(const QString &sql, qsizetype offset,
                                      const StatementResult &result, const QString &remark)
{
    const QString what = MessageLog::statementLine(sql);
    QString outcome;
    qsizetype position = -1;
    switch (result.kind) {
    case StatementResult::Rows:
        // Logged with its row count once the last row is in.
        m_streams.insert(result.streamId, Stream{ what, result.elapsedMs });
        return -1;
    case StatementResult::NoResultSet:
        outcome = QStringLiteral("完了 · 影響を受けた行 %1 · %2")
                      .arg(countText(result.affectedRows), secondsText(result.elapsedMs));
        break;
    case StatementResult::Failed:
        outcome = QStringLiteral("エラー ") + result.error.text();
        position = errorPosition(sql, result.error.message);
        break;
    case StatementResult::Cancelled:
        outcome = QStringLiteral("キャンセルされました: ") + result.error.text();
        break;
    }
    if (!remark.isEmpty())
        outcome += QStringLiteral(" · ") + remark;
    emit logged(what, outcome, warningLines(result));
    return position < 0 ? -1 : offset + position;
}

void QueryExecutor::logStreamEnd(quint64 streamId, const StreamEnd &end)
{
    const auto it = m_streams.constFind(streamId);
    if (it == m_streams.constEnd())
        return;
    const Stream stream = *it;
    m_streams.erase(it);
    const QString rows = QStringLiteral("%1 行").arg(countText(end.rows));
    const QString times = QStringLiteral("最初の行まで %1 · 合計 %2")
                              .arg(secondsText(stream.firstMs), secondsText(end.totalMs));
    QString outcome;
    switch (end.kind) {
    case StreamEnd::Complete:
        outcome = rows + QStringLiteral(" · ") + times;
        break;
    case StreamEnd::Cancelled:
        outcome = QStringLiteral("受信を止めました: ") + rows + QStringLiteral(" · ") + times;
        break;
    case StreamEnd::Cut:
        outcome = QStringLiteral("結果が大きすぎるため打ち切りました: ") + rows;
        break;
    case StreamEnd::Failed:
        outcome = QStringLiteral("受信中のエラー ") + end.error.text() + QStringLiteral(" · ")
            + rows;
        break;
    }
    emit logged(stream.what, outcome, {});
}

void QueryExecutor::logTransaction(bool commit, const TransactionOutcome &outcome)
{
    QString text;
    if (!outcome.ok)
        text = QStringLiteral("失敗 ") + outcome.error.text();
    else if (commit)
        text = QStringLiteral("コミットしました");
    else if (outcome.partial)
        text = QStringLiteral("ロールバックしました。ただしトランザクションに対応しない表の"
                              "変更は元に戻っていません");
    else
        text = QStringLiteral("ロールバックしました");
    emit logged(commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"), text, {});
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
    emit logged(QStringLiteral("キャンセル"),
                m_running ? QStringLiteral("実行中の文を止めます")
                          : QStringLiteral("受信中の結果を止めます"),
                {});
    m_connection->cancel();
}

bool QueryExecutor::begin()
{
    if (m_running)
        return false;
    // A result still streaming in is left: its rows so far stay in the grid.
    if (m_connection->isStreaming())
        m_connection->cancel();
    m_cancelled = false;
    m_streamCancelled = false;
    m_errorPosition = -1;
    m_change = Change();
    setRunning(true);
    emit runStarted();
    return true;
}

void QueryExecutor::execute(const QString &text)
{
    const int kind = classifyStatement(text);
    if (kind != SqlSelect && kind != SqlInsert && kind != SqlUpdate && kind != SqlDelete) {
        emit logged(text, notRunReason(text), {});
        return;
    }
    if (!begin())
        return;
    if (kind == SqlSelect)
        runQuery(text);
    else
        runDataChange(text);
}

void QueryExecutor::showRows(const StatementResult &result, const QString &sql)
{
    auto *model = new ResultModel(result.columns, result.firstRows);
    model->setStatement(sql);
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
}

void QueryExecutor::runQuery(const QString &sql)
{
    m_connection->run(sql, false, [this, sql](const StatementResult &result) {
        const qsizetype position = logStatement(sql, 0, result);
        switch (result.kind) {
        case StatementResult::Rows:
            showRows(result, sql);
            // Some statements end early but normally when killed (SLEEP()
            // returns 1): the user asked to stop, and it stopped.
            if (m_cancelled)
                emit message(QStringLiteral("キャンセルしました。"));
            break;
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
        if (result.kind == StatementResult::Failed || result.kind == StatementResult::Cancelled)
            emit statementError(position);
        setRunning(false);
    });
}

void QueryExecutor::runDataChange(const QString &sql)
{
    m_connection->transaction(DatabaseConnection::Begin,
                              [this, sql](const TransactionOutcome &begun) {
        if (!begun.ok) {
            // Without a transaction there is nothing to undo: not run at all.
            emit logged(sql, QStringLiteral("実行しませんでした: トランザクションを開始できません ")
                                 + begun.error.text(),
                        {});
            emit message(QStringLiteral("トランザクション失敗"));
            setRunning(false);
            return;
        }
        emit message(QStringLiteral("トランザクション開始"));
        if (m_cancelled) {
            endTransaction(Cancel);
            return;
        }
        m_connection->run(sql, true, [this, sql](const StatementResult &result) {
            const bool done = result.kind == StatementResult::NoResultSet && !result.inTransaction;
            const qsizetype position = logStatement(
                sql, 0, result,
                done ? QStringLiteral("サーバーが自動的にコミットしました") : QString());
            if (result.kind == StatementResult::Failed || result.kind == StatementResult::Cancelled)
                emit statementError(position);
            changeRan(result);
        });
    });
}

void QueryExecutor::changeRan(const StatementResult &result)
{
    if (result.kind == StatementResult::Rows || result.kind == StatementResult::NoResultSet) {
        m_change.affectedRows = result.affectedRows;
        askToCommit(result.inTransaction);
        return;
    }
    failed(result.kind == StatementResult::Cancelled, true);
}

void QueryExecutor::askToCommit(bool inTransaction)
{
    if (!inTransaction) {
        // DDL, TRUNCATE or an explicit COMMIT ended the transaction on the
        // server: a question would offer an undo that cannot happen.
        emit message(QStringLiteral("変更は既にコミットされました。元に戻せません。"));
        setRunning(false);
        return;
    }
    if (m_cancelled) {
        endTransaction(Cancel);
        return;
    }
    endTransaction(m_question ? m_question(m_change) : Cancel);
}

void QueryExecutor::failed(bool cancelled, bool inTransaction)
{
    const QString text = cancelled ? QStringLiteral("キャンセルしました。") : QStringLiteral("エラー");
    if (!inTransaction) {
        emit message(text);
        setRunning(false);
        return;
    }
    // Never leave a failed change's transaction open: it would hold its
    // locks, and the next BEGIN would silently commit it.
    m_connection->transaction(DatabaseConnection::Rollback,
                              [this, text](const TransactionOutcome &outcome) {
        logTransaction(false, outcome);
        emit message(text);
        setRunning(false);
    });
}

void QueryExecutor::endTransaction(Answer answer)
{
    if (answer == Yes || answer == Other) {
        m_connection->transaction(DatabaseConnection::Commit,
                                  [this, answer](const TransactionOutcome &outcome) {
            logTransaction(true, outcome);
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
        logTransaction(false, outcome);
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

void QueryExecutor::executeScript(const QList<SqlStatement> &statements)
{
    QStringList committing;
    bool changes = false;
    for (const SqlStatement &statement : statements) {
        const StatementNature nature = natureOf(statement.text);
        if (nature == StatementNature::ImplicitCommit)
            committing << firstLine(statement.text);
        changes = changes || nature == StatementNature::DataChange;
    }
    // Named before anything runs: once one of these has run, part of the
    // script is committed whatever the user answers at the end.
    if (!committing.isEmpty() && !(m_implicitQuestion && m_implicitQuestion(committing))) {
        emit logged(statements.first().text,
                    QStringLiteral("実行しませんでした: 自動的にコミットされる文を含むため、"
                                   "取り止めました"),
                    {});
        emit message(QStringLiteral("実行を取り止めました。"));
        return;
    }
    if (!begin())
        return;
    if (!changes) {
        runScriptStatements(statements, false);
        return;
    }
    m_connection->transaction(DatabaseConnection::Begin,
                              [this, statements](const TransactionOutcome &begun) {
        if (!begun.ok) {
            emit logged(statements.first().text,
                        QStringLiteral("実行しませんでした: トランザクションを開始できません ")
                            + begun.error.text(),
                        {});
            emit message(QStringLiteral("トランザクション失敗"));
            setRunning(false);
            return;
        }
        emit message(QStringLiteral("トランザクション開始"));
        runScriptStatements(statements, true);
    });
}

void QueryExecutor::runScriptStatements(const QList<SqlStatement> &statements, bool inTransaction)
{
    QStringList texts;
    auto natures = std::make_shared<std::vector<StatementNature>>();
    for (const SqlStatement &statement : statements) {
        texts << statement.text;
        natures->push_back(natureOf(statement.text));
    }
    const int count = int(statements.size());
    emit statementRunning(0, count, statements.first().start, statements.first().end);
    m_connection->runScript(
        texts,
        [this, statements, count, natures](int index, const StatementResult &result) {
            m_last = result;
            const bool stops = result.kind == StatementResult::Failed
                || result.kind == StatementResult::Cancelled;
            const SqlStatement &statement = statements[index];
            m_errorPosition = logStatement(
                statement.text, statement.start, result,
                stops && index + 1 < count
                    ? QStringLiteral("以降の %1 文は実行しませんでした").arg(count - index - 1)
                    : QString());
            if (result.kind == StatementResult::Rows)
                showRows(result, statement.text);
            if (result.kind == StatementResult::NoResultSet
                && (*natures)[size_t(index)] == StatementNature::DataChange) {
                m_change.affectedRows += qMax<qint64>(0, result.affectedRows);
                // The question lists the changes; past a screenful, a count.
                constexpr int Listed = 200;
                if (m_change.statements.size() < Listed) {
                    m_change.statements << QStringLiteral("%1: %2 — %L3 行")
                                               .arg(index + 1)
                                               .arg(firstLine(statements[index].text))
                                               .arg(result.affectedRows);
                } else if (m_change.statements.size() == Listed) {
                    m_change.statements << QStringLiteral("…");
                }
            }
            if (index + 1 < count && (result.kind == StatementResult::Rows
                                      || result.kind == StatementResult::NoResultSet))
                emit statementRunning(index + 1, count, statements[index + 1].start,
                                      statements[index + 1].end);
        },
        [this, statements, inTransaction](int good) {
            scriptEnded(statements, good, inTransaction);
        });
}

void QueryExecutor::scriptEnded(const QList<SqlStatement> &statements, int good,
                                bool inTransaction)
{
    if (good < statements.size()) {
        const SqlStatement &bad = statements[good];
        emit statementFailed(bad.start, bad.end);
        emit statementError(m_errorPosition);
        failed(m_cancelled || m_last.kind == StatementResult::Cancelled, inTransaction);
        return;
    }
    if (inTransaction) {
        askToCommit(m_last.inTransaction);
        return;
    }
    emit message(QStringLiteral("%L1 文を実行しました。").arg(statements.size()));
    setRunning(false);
}
