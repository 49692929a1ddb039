// Editing in the grid: the commands' wiring, and the question before
// pending edits are lost.

#include "QZQuorvinWindow.h"

#include "CommitBoxes.h"
#include "GridEditApply.h"
#include "GridEditCommands.h"
#include "MessageLog.h"
#include "ResultGrid.h"
#include "ResultModel.h"
#include "ResultPanel.h"

#include <QAction>
#include <QApplication>

void QZQuorvinWindow::wireGridEditing()
{
    ResultGrid *grid = m_pResults->grid();
    auto *separator = new QAction(grid);
    separator->setSeparator(true);
    grid->addAction(separator);
    grid->addActions({ m_pApplyEditsAct, m_pDiscardEditsAct, m_pSetNullAct, m_pInsertRowAct,
                       m_pDeleteRowAct });

    m_pGridEdits = new GridEditCommands(grid, m_pConnection, m_pExecutor, this);
    GridEditApply *apply = m_pGridEdits->applier();
    apply->setCommitQuestion(
        [this](const QueryExecutor::Change &change) { return CommitBoxes::askCommit(this, change); });
    connect(m_pGridEdits, &GridEditCommands::message, this, &QZQuorvinWindow::message);
    connect(apply, &GridEditApply::message, this, &QZQuorvinWindow::message);
    connect(apply, &GridEditApply::logged, m_pLog, &MessageLog::add);
    connect(apply, &GridEditApply::runningChanged, this, [this](bool running) {
        if (running)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
        updateActions();
    });
}

bool QZQuorvinWindow::confirmDiscardEdits(const QList<ResultModel *> &models)
{
    const QList<ResultModel *> pending = GridEditCommands::pending(models);
    if (pending.isEmpty())
        return true;
    if (m_pGridEdits->applier()->running()) {
        emit message(QStringLiteral("変更を適用しています。"));
        return false;
    }
    if (!CommitBoxes::askDiscardEdits(this))
        return false;
    for (ResultModel *model : pending)
        model->discardEdits();
    return true;
}
