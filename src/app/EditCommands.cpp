// Editing in the grid: the actions, the question before pending edits are
// lost, and applying them on the connection with the commit question.

#include "QZQuorvinWindow.h"

#include "CommitBoxes.h"
#include "DatabaseConnection.h"
#include "GridEditApply.h"
#include "MessageLog.h"
#include "QueryExecutor.h"
#include "ResultGrid.h"
#include "ResultModel.h"
#include "ResultPanel.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>

#include <set>

void QZQuorvinWindow::wireGridEditing()
{
    ResultGrid *grid = m_pResults->grid();
    auto *separator = new QAction(grid);
    separator->setSeparator(true);
    grid->addAction(separator);
    grid->addActions({ m_pApplyEditsAct, m_pDiscardEditsAct, m_pSetNullAct, m_pInsertRowAct,
                       m_pDeleteRowAct });

    m_pGridEditApply = new GridEditApply(m_pConnection, this);
    m_pGridEditApply->setCommitQuestion(
        [this](const QueryExecutor::Change &change) { return CommitBoxes::askCommit(this, change); });
    connect(m_pGridEditApply, &GridEditApply::message, this, &QZQuorvinWindow::message);
    connect(m_pGridEditApply, &GridEditApply::logged, m_pLog, &MessageLog::add);
    connect(m_pGridEditApply, &GridEditApply::runningChanged, this, [this](bool running) {
        if (running)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
        updateActions();
    });
}

void QZQuorvinWindow::applyEdits()
{
    ResultModel *model = m_pResults->grid()->resultModel();
    if (!model) {
        emit message(QStringLiteral("適用する変更はありません。"));
        return;
    }
    if (m_pExecutor->running()) {
        emit message(QStringLiteral("実行中のため、変更を適用できません。"));
        return;
    }
    m_pGridEditApply->apply(model);
}

void QZQuorvinWindow::discardEdits()
{
    if (ResultModel *model = m_pResults->grid()->resultModel())
        model->discardEdits();
}

void QZQuorvinWindow::setSelectionNull()
{
    ResultModel *model = m_pResults->grid()->resultModel();
    if (!model)
        return;
    for (const QModelIndex &index : m_pResults->grid()->selectionModel()->selectedIndexes()) {
        if (!model->setData(index, QVariant(), Qt::EditRole))
            break; // the model said why
    }
}

void QZQuorvinWindow::insertPendingRow()
{
    ResultGrid *grid = m_pResults->grid();
    ResultModel *model = grid->resultModel();
    const int row = model ? model->insertPendingRow() : -1;
    if (row < 0)
        return;
    grid->scrollToBottom();
    grid->setCurrentIndex(model->index(row, 0));
}

void QZQuorvinWindow::deleteSelectedRows()
{
    ResultGrid *grid = m_pResults->grid();
    ResultModel *model = grid->resultModel();
    if (!model)
        return;
    std::set<int> rows;
    for (const QModelIndex &index : grid->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    if (!rows.empty())
        model->markRowsDeleted(QList<int>(rows.begin(), rows.end()));
}

bool QZQuorvinWindow::confirmDiscardEdits(const QList<ResultModel *> &models)
{
    QList<ResultModel *> pending;
    for (ResultModel *model : models) {
        if (model->hasPendingEdits())
            pending << model;
    }
    if (pending.isEmpty())
        return true;
    if (m_pGridEditApply->running()) {
        emit message(QStringLiteral("変更を適用しています。"));
        return false;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                    QStringLiteral("グリッドに適用していない変更があります。破棄してよろしいですか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("ConfirmDiscardEditsMessageBox"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setModal(true);
    if (box.exec() != QMessageBox::Yes)
        return false;
    for (ResultModel *model : pending)
        model->discardEdits();
    return true;
}
