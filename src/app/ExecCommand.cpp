// F5 and Ctrl+Return: hand the text to the executor, which runs it off this
// thread. Queries fill the grid; data changes end with the commit question.

#include "QZQuorvinWindow.h"

#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "ResultModel.h"
#include "StatementSplitter.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTextBlock>

ResultModel *QZQuorvinWindow::resultModel() const
{
    return qobject_cast<ResultModel *>(m_pDataTable->model());
}

bool QZQuorvinWindow::readyToRun()
{
    if (m_pConnection->state() == DatabaseConnection::Opening || m_pExecutor->running())
        return false;
    if (m_pConnection->state() == DatabaseConnection::Closed) {
        emit message(QStringLiteral("データベースへ接続して下さい。"));
        Connect();
        return false;
    }
    return true;
}

void QZQuorvinWindow::Exec()
{
    if (!readyToRun())
        return;
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    // The selection when there is one, else the whole text.
    const QTextCursor cursor = page->textCursor();
    const bool selected = cursor.hasSelection();
    const QString text = selected ? page->toPlainText().mid(cursor.selectionStart(),
                                                            cursor.selectionEnd()
                                                                - cursor.selectionStart())
                                  : page->toPlainText();
    if (text.isEmpty()) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return;
    }
    const SplitResult split = splitStatements(text);
    if (!split.ok()) {
        // Nothing runs that cannot be delimited; point at what is left open.
        const int at = int(split.error.offset) + (selected ? cursor.selectionStart() : 0);
        page->selectRange(at, at + 1);
        emit message(QStringLiteral("命令文の終わりが分かりません。"));
        return;
    }
    m_runPage = page;
    m_runOffset = selected ? cursor.selectionStart() : 0;
    if (split.statements.size() > 1)
        m_pExecutor->executeScript(split.statements);
    else
        m_pExecutor->execute(text); // one statement: sent exactly as written
}

void QZQuorvinWindow::ExecCurrent()
{
    if (!readyToRun())
        return;
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    SplitError error;
    const std::optional<SqlStatement> statement =
        statementAt(page->toPlainText(), page->textCursor().position(), &error);
    if (error.kind != SplitError::None) {
        page->selectRange(int(error.offset), int(error.offset) + 1);
        emit message(QStringLiteral("命令文の終わりが分かりません。"));
        return;
    }
    if (!statement) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return;
    }
    m_runPage = page;
    m_runOffset = int(statement->start);
    m_pExecutor->execute(statement->text);
}

void QZQuorvinWindow::Cancel()
{
    if (m_pConnection->state() == DatabaseConnection::Opening)
        m_pConnection->cancel();
    else
        m_pExecutor->cancel();
}

void QZQuorvinWindow::statementFailed(qsizetype start, qsizetype end)
{
    if (m_runPage)
        m_runPage->selectRange(int(m_runOffset + start), int(m_runOffset + end));
}

void QZQuorvinWindow::statementError(qsizetype position)
{
    if (!m_runPage)
        return;
    m_tabResults[m_runPage].previous = true;
    if (m_runPage == m_pTabWidget->currentPage())
        showTabResults();
    if (position < 0)
        return;
    // The server counts from the start of the statement it was sent; the
    // editor's text around it is added back.
    const int at = m_runOffset + int(position);
    m_runPage->selectRange(at, at);
    m_runPage->markError(at);
}

void QZQuorvinWindow::statementRunning(int index, int count, qsizetype start, qsizetype end)
{
    Q_UNUSED(start);
    Q_UNUSED(end);
    m_pRunLabel->setText(QStringLiteral("実行中 %1/%2").arg(index + 1).arg(count));
}

void QZQuorvinWindow::addResult(ResultModel *model)
{
    model->setParent(this);
    TabResults &results = m_tabResults[m_runPage];
    QList<QPointer<ResultModel>> superseded;
    if (results.stale)
        superseded = std::exchange(results.models, {});
    results.stale = false;
    results.previous = false;
    results.models.append(model);
    results.shown = int(results.models.size()) - 1;
    connect(model, &QAbstractItemModel::rowsInserted, this, &QZQuorvinWindow::updateResultInfo);
    connect(model, &ResultModel::loadingFinished, this, &QZQuorvinWindow::updateResultInfo);
    if (m_runPage == m_pTabWidget->currentPage())
        showTabResults();
    for (const QPointer<ResultModel> &old : superseded)
        delete old;
}

void QZQuorvinWindow::showTabResults()
{
    const TabResults results = m_tabResults.value(m_pTabWidget->currentPage());
    ResultModel *model = results.shown >= 0 && results.shown < results.models.size()
        ? results.models[results.shown].data()
        : nullptr;
    m_pResultSelector->blockSignals(true);
    m_pResultSelector->clear();
    for (int i = 0; i < results.models.size(); ++i)
        m_pResultSelector->addItem(QStringLiteral("結果 %1").arg(i + 1));
    m_pResultSelector->setCurrentIndex(results.shown);
    m_pResultSelector->setVisible(results.models.size() > 1);
    m_pResultSelector->blockSignals(false);
    if (model)
        showResult(model);
    else if (m_pDataTable->model() != m_pEmptyModel)
        m_pDataTable->setModel(m_pEmptyModel);
    m_pPreviousLabel->setVisible(model && results.previous);
    updateResultInfo();
}

void QZQuorvinWindow::selectResult(int index)
{
    TabResults &results = m_tabResults[m_pTabWidget->currentPage()];
    if (index < 0 || index >= results.models.size())
        return;
    results.shown = index;
    showTabResults();
}

void QZQuorvinWindow::updateResultInfo()
{
    if (!m_pResultInfo)
        return; // still building the window
    auto *model = qobject_cast<ResultModel *>(m_pDataTable->model());
    if (!model) {
        m_pResultInfo->clear();
        return;
    }
    QString text = QStringLiteral("%1 行").arg(countText(model->rowCount()));
    if (!model->isLoading())
        text += QStringLiteral(" · ") + secondsText(model->streamEnd().totalMs);
    m_pResultInfo->setText(text);
}

void QZQuorvinWindow::showResult(ResultModel *model)
{
    if (m_pDataTable->model() == model)
        return;
    m_pDataTable->setModel(model);
    m_pDataTable->scrollToTop();
    // A new result starts unsorted, its columns as wide as their widest
    // values, growing as wider rows arrive.
    m_pDataTable->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    fitColumnsToWidest(true);
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { fitColumnsToWidest(false); });
}
