// F5: runs the current tab's text. Queries fill the grid; INSERT, UPDATE and
// DELETE run in a transaction that the user commits or rolls back.

#include "QZQuorvinWindow.h"

#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "ResultModel.h"
#include "RowSource.h"
#include "StatementClassifier.h"

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>

namespace {

const QString ConnectionName = QStringLiteral("MySQL");

// Enough rows for the first screen of any sensible window; the rest follows
// from the event loop.
constexpr int FirstScreenRows = 256;

class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    void restore()
    {
        if (m_active)
            QApplication::restoreOverrideCursor();
        m_active = false;
    }

private:
    bool m_active = true;
};

} // namespace

void QZQuorvinWindow::Exec()
{
    if (!QSqlDatabase::contains(ConnectionName)) {
        emit message(QStringLiteral("データベースへ接続して下さい。"));
        Connect();
        return;
    }
    finishPendingResult();

    const QZTextEdit *page = m_pTabWidget->currentPage();
    const QString text = page ? page->toPlainText() : QString();
    if (text.isEmpty()) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return;
    }

    switch (ClassifySQL(text)) {
    case SqlSelect:
        runQuery(text);
        break;
    case SqlInsert:
    case SqlUpdate:
    case SqlDelete:
        runDataChange(text);
        break;
    default:
        break;
    }
}

void QZQuorvinWindow::runQuery(const QString &sql)
{
    WaitCursor wait;
    StatementOutcome outcome = runStatement(QSqlDatabase::database(ConnectionName, true), sql);
    switch (outcome.kind) {
    case StatementOutcome::Rows: {
        auto *model = new ResultModel(std::move(outcome.rows), m_pDataTable);
        // A result cut short (the server went away mid-way) keeps the rows
        // that did arrive, and says the query did not complete.
        connect(model, &ResultModel::loadingFailed, this,
                [this] { emit message(QStringLiteral("データベースに接続して下さい。")); });
        model->loadFirstRows(FirstScreenRows);
        showResult(model);
        break;
    }
    case StatementOutcome::NoResultSet:
        emit message(QStringLiteral("Query OK, affected rows: %1").arg(outcome.affectedRows));
        break;
    case StatementOutcome::Failed:
        emit message(QStringLiteral("データベースに接続して下さい。"));
        break;
    }
}

void QZQuorvinWindow::showResult(ResultModel *model)
{
    QAbstractItemModel *old = m_pDataTable->model();
    m_pDataTable->setModel(model);
    delete old;

    m_pDataTable->scrollToTop();
    // A new result starts unsorted, its columns as wide as their widest
    // values, growing as wider rows arrive.
    m_pDataTable->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    fitColumnsToWidest(true);
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { fitColumnsToWidest(false); });
}

void QZQuorvinWindow::runDataChange(const QString &sql)
{
    QSqlDatabase db = QSqlDatabase::database(ConnectionName, true);

    WaitCursor wait;
    const bool began = db.transaction();
    emit message(began ? QStringLiteral("トランザクション開始")
                       : QStringLiteral("トランザクション失敗"));

    bool ran;
    {
        QSqlQuery statement(db);
        ran = statement.exec(sql);
    }
    if (!ran) {
        // Never leave a failed change's transaction open: it would hold its
        // locks, and the next transaction() would silently commit it.
        if (began)
            db.rollback();
        emit message(QStringLiteral("エラー"));
        return;
    }
    wait.restore();

    QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                    QStringLiteral("コミットしてよろしいですか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("ConfirmCommitMessageBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setModal(true);
    const int answer = box.exec();

    WaitCursor ending;
    if (answer == QMessageBox::Yes) {
        emit message(db.commit() ? QStringLiteral("コミットしました。")
                                 : QStringLiteral("コミット失敗。"));
    } else {
        // No and Cancel both undo the change, and say whether that worked.
        emit message(db.rollback() ? QStringLiteral("ロールバックしました。")
                                   : QStringLiteral("ロールバック失敗。"));
    }
}
