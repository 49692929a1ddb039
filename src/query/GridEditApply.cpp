#include "GridEditApply.h"

#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "ResultModel.h"
#include "RowStore.h"

namespace {

// The rows a statement found: an UPDATE counts the rows its WHERE matched,
// so writing a value a cell already holds still counts.
qint64 rowsFound(const EditBuffer::Change &change, const StatementResult &result)
{
    switch (change.kind) {
    case EditBuffer::Change::Update:
        return result.matchedRows >= 0 ? result.matchedRows : result.affectedRows;
    case EditBuffer::Change::Delete:
        return result.affectedRows;
    case EditBuffer::Change::Insert:
        return result.kind == StatementResult::Rows && result.firstRows
            ? result.firstRows->rowCount()
            : result.affectedRows;
    }
    return -1;
}

QString kindName(EditBuffer::Change::Kind kind)
{
    switch (kind) {
    case EditBuffer::Change::Update:
        return QStringLiteral("UPDATE");
    case EditBuffer::Change::Delete:
        return QStringLiteral("DELETE");
    case EditBuffer::Change::Insert:
        return QStringLiteral("INSERT");
    }
    return {};
}

} // namespace

GridEditApply::GridEditApply(DatabaseConnection *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    // A closed connection answers nothing more: what was on its way is gone,
    // and the server rolled the transaction back.
    connect(connection, &DatabaseConnection::closed, this, [this] {
        if (running())
            end(false, QStringLiteral("接続が切れたため、変更は適用されていません。"));
    });
}

bool GridEditApply::apply(ResultModel *model)
{
    QString why;
    if (running() || !model)
        return false;
    if (!model->hasPendingEdits())
        why = QStringLiteral("適用する変更はありません。");
    else if (m_connection->state() != DatabaseConnection::Open)
        why = QStringLiteral("データベースへ接続して下さい。");
    else if (m_connection->isBusy())
        why = QStringLiteral("実行中のため、変更を適用できません。");
    else if (!model->isEditable())
        why = QStringLiteral("この結果は編集できません: ") + model->readOnlyReason();
    if (!why.isEmpty()) {
        emit message(why);
        return false;
    }
    m_model = model;
    m_changes = model->pendingChanges();
    m_next = 0;
    m_inserted.clear();
    m_updated.clear();
    model->setApplying(true);
    m_running = true;
    emit runningChanged(true);
    m_connection->transaction(DatabaseConnection::Begin, [this](const TransactionOutcome &begun) {
        if (!begun.ok) {
            emit logged(QStringLiteral("BEGIN"), QStringLiteral("失敗 ") + begun.error.text(), {});
            end(false, QStringLiteral("トランザクション失敗"));
            return;
        }
        emit message(QStringLiteral("トランザクション開始"));
        runNext();
    });
    return true;
}

void GridEditApply::runNext()
{
    if (!m_model) {
        fail(QStringLiteral("結果が閉じられました"));
        return;
    }
    if (m_next >= m_changes.size()) {
        askToCommit();
        return;
    }
    m_connection->run(m_changes[m_next].sql, true,
                      [this](const StatementResult &result) { statementRan(result); });
}

void GridEditApply::logStatement(const EditBuffer::Change &change, const QString &outcome)
{
    QStringList details;
    if (change.sql.size() > MessageLog::MaxWhat)
        details << change.sql;
    emit logged(change.sql, outcome, details);
}

void GridEditApply::statementRan(const StatementResult &result)
{
    const EditBuffer::Change &change = m_changes[m_next];
    const QString row = QStringLiteral(" · 行 ") + change.rowName;
    if (result.kind == StatementResult::Failed || result.kind == StatementResult::Cancelled) {
        logStatement(change, QStringLiteral("エラー ") + result.error.text() + row);
        fail(change.rowName + QStringLiteral(": ") + result.error.text());
        return;
    }
    const qint64 found = rowsFound(change, result);
    if (found != 1) {
        const QString count = QStringLiteral("該当した行 %1（1 行のはず）").arg(countText(found));
        logStatement(change, count + row);
        fail(change.rowName + QStringLiteral(": ") + count);
        return;
    }
    QString outcome = QStringLiteral("完了 · 1 行 · ") + secondsText(result.elapsedMs);
    if (result.warningCount > 0)
        outcome += QStringLiteral(" · 警告 ") + result.warnings.join(QStringLiteral(" | "));
    logStatement(change, outcome);
    if (change.kind == EditBuffer::Change::Insert)
        m_inserted.push_back(result.firstRows);
    if (!change.readBack.isEmpty()) {
        readBack(change);
        return;
    }
    ++m_next;
    runNext();
}

void GridEditApply::readBack(const EditBuffer::Change &change)
{
    const int row = change.row;
    // Not finding the row by its new key is no reason to undo the change:
    // the grid then shows the values as typed.
    m_connection->run(change.readBack, false, [this, row](const StatementResult &result) {
        if (!running())
            return;
        if (result.kind == StatementResult::Rows && result.firstRows
            && result.firstRows->rowCount() == 1)
            m_updated.insert(row, result.firstRows);
        ++m_next;
        runNext();
    });
}

void GridEditApply::fail(const QString &why)
{
    m_connection->transaction(DatabaseConnection::Rollback,
                              [this, why](const TransactionOutcome &outcome) {
        emit logged(QStringLiteral("ROLLBACK"),
                    outcome.ok ? QStringLiteral("ロールバックしました。変更は残っています: ") + why
                               : QStringLiteral("失敗 ") + outcome.error.text(),
                    {});
        end(false, QStringLiteral("変更を適用できませんでした。"));
    });
}

void GridEditApply::askToCommit()
{
    QueryExecutor::Change change;
    change.affectedRows = m_changes.size();
    constexpr int Listed = 200;
    for (const EditBuffer::Change &c : m_changes) {
        if (change.statements.size() == Listed) {
            change.statements << QStringLiteral("…");
            break;
        }
        change.statements << kindName(c.kind) + QStringLiteral(" ") + c.rowName;
    }
    const QueryExecutor::Answer answer = m_question ? m_question(change) : QueryExecutor::Cancel;
    // Only a Yes commits: a box closed some other way leaves the table as it was.
    const bool commit = answer == QueryExecutor::Yes;
    m_connection->transaction(commit ? DatabaseConnection::Commit : DatabaseConnection::Rollback,
                              [this, commit](const TransactionOutcome &outcome) {
        const QString what = commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK");
        if (!outcome.ok) {
            emit logged(what, QStringLiteral("失敗 ") + outcome.error.text(), {});
            end(false, commit ? QStringLiteral("コミット失敗。") : QStringLiteral("ロールバック失敗。"));
            return;
        }
        emit logged(what, commit ? QStringLiteral("コミットしました")
                                 : QStringLiteral("ロールバックしました。変更は残っています"),
                    {});
        if (commit && m_model)
            m_model->editsCommitted(m_inserted, m_updated);
        end(commit, commit ? QStringLiteral("コミットしました。") : QStringLiteral("ロールバックしました。"));
    });
}

void GridEditApply::end(bool committed, const QString &status)
{
    if (m_model)
        m_model->setApplying(false);
    m_model = nullptr;
    m_running = false;
    m_changes.clear();
    m_inserted.clear();
    m_updated.clear();
    emit message(status);
    emit runningChanged(false);
    emit finished(committed);
}
