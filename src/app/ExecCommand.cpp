// F5: hands the current tab's text to the executor, which runs it off this
// thread. Queries fill the grid; data changes end with the commit question.

#include "QZQuorvinWindow.h"

#include "DatabaseConnection.h"
#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "ResultModel.h"

#include <QHeaderView>
#include <QTableView>

namespace {

constexpr int MaxInitialColumnWidth = 320;

} // namespace

void QZQuorvinWindow::Exec()
{
    if (m_pConnection->state() == DatabaseConnection::Opening || m_pExecutor->running())
        return;
    if (m_pConnection->state() == DatabaseConnection::Closed) {
        emit message(QStringLiteral("データベースへ接続して下さい。"));
        Connect();
        return;
    }

    const QZTextEdit *page = m_pTabWidget->currentPage();
    const QString text = page ? page->toPlainText() : QString();
    if (text.isEmpty()) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return;
    }
    m_pExecutor->execute(text);
}

void QZQuorvinWindow::Cancel()
{
    if (m_pConnection->state() == DatabaseConnection::Opening)
        m_pConnection->cancel();
    else
        m_pExecutor->cancel();
}

void QZQuorvinWindow::showResult(ResultModel *model)
{
    QAbstractItemModel *old = m_pDataTable->model();
    model->setParent(m_pDataTable);
    m_pDataTable->setModel(model);
    delete old;

    m_pDataTable->scrollToTop();
    m_pDataTable->resizeColumnsToContents();
    QHeaderView *columns = m_pDataTable->horizontalHeader();
    for (int c = 0; c < columns->count(); ++c) {
        if (columns->sectionSize(c) > MaxInitialColumnWidth)
            columns->resizeSection(c, MaxInitialColumnWidth);
    }
}
