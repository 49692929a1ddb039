#include "QueryExecutor.h"

#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "ResultModel.h"

#include <QFileInfo>
#include <QThread>

namespace {

constexpr int ProgressMillis = 200;
constexpr int ListedChanges = 200;

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

// A rollback that left non-transactional (MyISAM) tables changed: the
// user must not take "cancelled" for "nothing happened".
QString withPartial(const QString &text, const TransactionOutcome &rollback)
{
    if (!rollback.ok || !rollback.partial)
        return text;
    const QString end = text.endsWith(QChar(u'。')) ? QString() : QStringLiteral("。");
    return text + end + QStringLiteral("一部の変更は元に戻せませんでした。");
}

bool stopped(const StatementResult &result)
{
    return result.kind == StatementResult::Failed || result.kind == StatementResult::Cancelled;
}

} // namespace

QueryExecutor::QueryExecutor(DatabaseConnection *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    connect(connection, &DatabaseConnection::closed, this, [this] {
        m_streams.clear();
        // The COMMIT may have reached the server and be applied when it
        // answers, or not: neither success nor failure may be claimed.
        if (std::exchange(m_committing, false)) {
            emit logged(QStringLiteral("COMMIT"),
                        QStringLiteral("結果不明: 応答の前に接続が切れました"), {});
            emit message(QStringLiteral("コミットの結果は不明です（応答の前に接続が切れました）。"
                                        "変更が反映されたかどうかサーバーで確かめて下さい。"));
        }
        m_progressTimer.stop();
        setRunning(false);
    });
    connect(connection, &DatabaseConnection::streamEnded, this, &QueryExecutor::logStreamEnd);
    m_progressTimer.setInterval(ProgressMillis);
    connect(&m_progressTimer, &QTimer::timeout, this, &QueryExecutor::reportProgress);
}

QueryExecutor::~QueryExecutor()
{
    // A file's preview thread reads only the file; it stops within a block.
    if (m_run)
        m_run->stop();
    for (QThread *thread : findChildren<QThread *>()) {
        thread->wait();
        delete thread;
    }
}

qsizetype QueryExecutor::logStatement(const QueryRun::Place &place, const StatementResult &result,
                                      const QString &remark)
{
    QString what = MessageLog::statementLine(place.text);
    if (m_run && m_run->isFile())
        what = QStringLiteral("%1:%2: %3").arg(QFileInfo(m_run->filePath()).fileName())
                   .arg(place.line).arg(what);
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
        outcome = (result.beginFailed ? QStringLiteral("実行しませんでした: トランザクションを"
                                                       "開始できません ")
                                      : QStringLiteral("エラー "))
            + result.error.text();
        if (!result.beginFailed && place.start >= 0)
            position = errorPosition(place.text, result.error.message);
        break;
    case StatementResult::Cancelled:
        outcome = QStringLiteral("キャンセルされました: ") + result.error.text();
        break;
    }
    if (!remark.isEmpty())
        outcome += QStringLiteral(" · ") + remark;
    emit logged(what, outcome, warningLines(result));
    emit statementRan(place.text);
    return position < 0 ? -1 : place.start + position;
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
    if (!commit && outcome.ok && m_autoCommitted > 0)
        text += QStringLiteral("（自動的にコミットされた文より前の変更は残っています）");
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
    if (m_run)
        m_run->stop();
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
    m_begun = false;
    m_beginFailed = false;
    m_autoCommitted = 0;
    m_change = Change();
    m_clock.start();
    setRunning(true);
    emit runStarted();
    return true;
}

void QueryExecutor::execute(const QString &text)
{
    const SplitResult split = splitStatements(text);
    if (!split.ok() || split.statements.isEmpty()) {
        emit message(split.ok() ? QStringLiteral("命令文を記述して下さい。")
                                : QStringLiteral("命令文の終わりが分かりません。"));
        return;
    }
    execute(QueryRun::fromText(nullptr, 0, split.statements));
}

void QueryExecutor::executeScript(const QList<SqlStatement> &statements)
{
    if (!statements.isEmpty())
        execute(QueryRun::fromText(nullptr, 0, statements));
}

void QueryExecutor::execute(std::shared_ptr<QueryRun> run)
{
    if (m_running)
        return;
    if (run->isFile()) {
        previewFile(std::move(run));
        return;
    }
    const QueryRun::Preview preview = run->preview();
    if (mayRun(*run, preview) && begin())
        start(std::move(run), preview);
}

// A file is read once through before anything of it runs: what cannot be
// delimited or decoded runs not at all, and statements that commit by
// themselves are named first. The reading happens off the window's thread.
void QueryExecutor::previewFile(std::shared_ptr<QueryRun> run)
{
    if (!begin())
        return;
    m_run = run;
    auto preview = std::make_shared<QueryRun::Preview>();
    QThread *thread = QThread::create([run, preview] { *preview = run->preview(); });
    thread->setParent(this);
    const quint64 generation = ++m_previewGeneration;
    connect(thread, &QThread::finished, this, [this, thread, run, preview, generation] {
        thread->deleteLater();
        if (generation != m_previewGeneration || m_run != run)
            return;
        setRunning(false);
        m_progressTimer.stop();
        if (preview->cancelled) {
            emit message(QStringLiteral("キャンセルしました。"));
            return;
        }
        if (mayRun(*run, *preview) && begin())
            start(run, *preview);
    });
    m_progressTimer.start();
    thread->start();
}

bool QueryExecutor::mayRun(const QueryRun &run, const QueryRun::Preview &preview)
{
    const QString what = run.isFile() ? run.filePath() : QString();
    if (!preview.error.isEmpty()) {
        emit logged(what, QStringLiteral("実行しませんでした: %1%2").arg(
                              preview.errorLine > 0 ? QStringLiteral("%1 行目: ").arg(preview.errorLine)
                                                    : QString(),
                              preview.error),
                    {});
        emit message(QStringLiteral("ファイルを実行できませんでした。"));
        return false;
    }
    if (preview.statements == 0) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return false;
    }
    // Named before anything runs: once one of these has run, part of the
    // script is committed whatever the user answers at the end. A single
    // statement commits nothing but itself.
    if (preview.committing == 0 || run.isSingle()
        || (m_implicitQuestion && m_implicitQuestion(QueryRun::committingSummary(preview))))
        return true;
    emit logged(run.isFile() ? what : run.place(0).text,
                QStringLiteral("実行しませんでした: 自動的にコミットされる文を含むため、"
                               "取り止めました"),
                {});
    emit message(QStringLiteral("実行を取り止めました。"));
    return false;
}

void QueryExecutor::start(std::shared_ptr<QueryRun> run, const QueryRun::Preview &preview)
{
    m_run = std::move(run);
    const QueryRun::Place first = m_run->place(0);
    // A single query keeps its own path: the run is over once its first
    // rows are in, and the rest stream while the window is free.
    if (m_run->isSingle() && natureOf(first.text) == StatementNature::Query) {
        runQuery(first);
        return;
    }
    if (m_run->isFile())
        m_progressTimer.start();
    else
        emit statementRunning(0, preview.statements, first.start, first.end);
    runStatements();
}

// `alone`: the rows are all the run gives, so their end is its outcome; in
// a script a failure while they arrive is the statement's, said once by the
// script's end.
void QueryExecutor::showRows(const StatementResult &result, bool alone, const QString &sql)
{
    auto *model = new ResultModel(result.columns, result.firstRows);
    model->setStatement(sql);
    model->follow(m_connection, result.streamId);
    connect(model, &ResultModel::loadingFinished, this, [this, model, alone] {
        const StreamEnd &end = model->streamEnd();
        if (end.kind == StreamEnd::Cancelled && m_streamCancelled)
            emit message(QStringLiteral("キャンセルしました。"));
        else if (end.kind == StreamEnd::Failed && alone)
            emit message(QStringLiteral("データベースに接続して下さい。"));
        else if (end.kind == StreamEnd::Cut)
            emit message(QStringLiteral("結果が大きすぎるため %L1 行で打ち切りました。")
                             .arg(end.rows));
    });
    emit resultReady(model);
}

void QueryExecutor::runQuery(const QueryRun::Place &place)
{
    m_connection->run(place.text, false, [this, place](const StatementResult &result) {
        const qsizetype position = logStatement(place, result);
        switch (result.kind) {
        case StatementResult::Rows:
            showRows(result, true, place.text);
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
        if (stopped(result)) {
            emit statementFailed(place.start, place.end);
            emit statementError(position);
        }
        setRunning(false);
    });
}

void QueryExecutor::runStatements()
{
    m_connection->runScript(
        m_run->feed(),
        [this, run = m_run](int index, const StatementResult &result) {
            if (run == m_run)
                statementDone(index, result);
        },
        [this, run = m_run](const ScriptEnd &end) {
            if (run == m_run)
                runEnded(end);
        });
}

void QueryExecutor::statementDone(int index, const StatementResult &result)
{
    m_last = result;
    m_run->forget(index);
    const QueryRun::Place place = m_run->place(index);
    if (result.beginFailed) {
        m_beginFailed = true;
        logStatement(place, result);
        return;
    }
    if (result.begun && !m_begun) {
        m_begun = true;
        emit message(QStringLiteral("トランザクション開始"));
    }
    // A statement that ends the transaction on the server (DDL, TRUNCATE,
    // COMMIT) made every change before it permanent.
    const bool committedHere = m_begun && !stopped(result) && !result.inTransaction;
    m_errorPosition = logStatement(
        place, result,
        committedHere ? QStringLiteral("サーバーが自動的にコミットしました") : QString());
    if (result.kind == StatementResult::Rows)
        showRows(result, false, place.text);
    if (m_begun && result.kind == StatementResult::NoResultSet)
        noteChange(index, place, result);
    if (committedHere) {
        ++m_autoCommitted;
        m_change = Change();
        m_begun = false;
    }
    if (!m_run->isFile() && !stopped(result)) {
        const QueryRun::Place next = m_run->place(index + 1);
        if (next.start >= 0)
            emit statementRunning(index + 1, m_run->statementsFed(), next.start, next.end);
    }
}

void QueryExecutor::noteChange(int index, const QueryRun::Place &place,
                               const StatementResult &result)
{
    m_change.affectedRows += qMax<qint64>(0, result.affectedRows);
    // The question lists the changes; past a screenful, a count.
    if (m_change.statements.size() < ListedChanges) {
        m_change.statements << QStringLiteral("%1: %2 — %L3 行")
                                   .arg(m_run->isFile() ? place.line : index + 1)
                                   .arg(MessageLog::statementLine(place.text))
                                   .arg(result.affectedRows);
    } else if (m_change.statements.size() == ListedChanges) {
        m_change.statements << QStringLiteral("…");
    }
}

void QueryExecutor::runEnded(const ScriptEnd &end)
{
    m_progressTimer.stop();
    reportProgress();
    const QString readError = m_run->readError();
    // A cancel that came before the first statement stops the run too.
    if (end.good < m_run->statementsFed() || !readError.isEmpty() || m_cancelled) {
        runFailed(end, readError);
        return;
    }
    if (m_run->isSingle()) {
        singleEnded(end.inTransaction);
        return;
    }
    if (end.inTransaction) {
        askToCommit(true);
        return;
    }
    emit message(QStringLiteral("%L1 文を実行しました。").arg(m_run->statementsFed()));
    setRunning(false);
}

void QueryExecutor::runFailed(const ScriptEnd &end, const QString &readError)
{
    if (!readError.isEmpty()) {
        emit logged(m_run->filePath(),
                    QStringLiteral("読み込みを止めました: %1%2")
                        .arg(m_run->readErrorLine() > 0
                                 ? QStringLiteral("%1 行目: ").arg(m_run->readErrorLine())
                                 : QString(),
                             readError),
                    {});
    } else if (end.good < m_run->statementsFed()) {
        // The error's place first, then the statement: the statement stays
        // selected, the error's line marked inside it.
        const QueryRun::Place bad = m_run->place(end.good);
        emit statementError(m_errorPosition);
        if (bad.start >= 0)
            emit statementFailed(bad.start, bad.end);
    }
    if (m_beginFailed) {
        emit message(QStringLiteral("トランザクション失敗"));
        setRunning(false);
        return;
    }
    failed(m_cancelled || m_last.kind == StatementResult::Cancelled, end.inTransaction);
}

// One statement that is no plain query: a change ends with the question,
// anything else with what the server said.
void QueryExecutor::singleEnded(bool inTransaction)
{
    if (inTransaction) {
        askToCommit(true);
        return;
    }
    const StatementNature nature = natureOf(m_run->place(0).text);
    if (m_autoCommitted > 0 || nature == StatementNature::ImplicitCommit)
        // DDL, TRUNCATE or an explicit COMMIT: a question would offer an
        // undo that cannot happen.
        emit message(QStringLiteral("変更は既にコミットされました。元に戻せません。"));
    else
        emit message(m_cancelled ? QStringLiteral("キャンセルしました。")
                                 : QStringLiteral("Query OK, affected rows: %1")
                                       .arg(m_last.affectedRows));
    setRunning(false);
}

void QueryExecutor::askToCommit(bool inTransaction)
{
    if (!inTransaction) {
        emit message(QStringLiteral("変更は既にコミットされました。元に戻せません。"));
        setRunning(false);
        return;
    }
    if (m_cancelled) {
        endTransaction(Cancel);
        return;
    }
    // The page it came from is gone: nobody is there to answer for it.
    if (m_run && m_run->originGone()) {
        emit logged(QStringLiteral("ROLLBACK"),
                    QStringLiteral("タブが閉じられたため、コミットせずに元に戻します"), {});
        endTransaction(No);
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
        emit message(withPartial(text, outcome));
        setRunning(false);
    });
}

void QueryExecutor::endTransaction(Answer answer)
{
    if (answer == Yes || answer == Other) {
        m_committing = true;
        m_connection->transaction(DatabaseConnection::Commit,
                                  [this, answer](const TransactionOutcome &outcome) {
            m_committing = false;
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
            emit message(withPartial(QStringLiteral("キャンセルしました。"), outcome));
        else if (!outcome.ok)
            emit message(QStringLiteral("ロールバック失敗。"));
        else if (outcome.partial)
            emit message(QStringLiteral("一部の変更は元に戻せませんでした。"));
        else
            emit message(QStringLiteral("ロールバックしました。"));
        setRunning(false);
    });
}

void QueryExecutor::reportProgress()
{
    if (!m_run || !m_run->isFile())
        return;
    const bool previewing = m_run->statementsFed() == 0 && m_run->bytesDone() == 0;
    emit fileProgress(m_run->statementsFed(),
                      previewing ? m_run->bytesPreviewed() : m_run->bytesDone(),
                      QFileInfo(m_run->filePath()).size(), m_clock.elapsed());
}
