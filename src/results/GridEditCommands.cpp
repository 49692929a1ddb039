#include "GridEditCommands.h"

#include "GridEditApply.h"
#include "QueryExecutor.h"
#include "ResultGrid.h"
#include "ResultModel.h"

#include <set>

GridEditCommands::GridEditCommands(ResultGrid *grid, DatabaseConnection *connection,
                                   const QueryExecutor *executor, QObject *parent)
    : QObject(parent)
    , m_grid(grid)
    , m_executor(executor)
    , m_apply(new GridEditApply(connection, this))
{
}

void GridEditCommands::apply()
{
    ResultModel *model = m_grid->resultModel();
    if (!model) {
        emit message(QStringLiteral("適用する変更はありません。"));
        return;
    }
    if (m_executor->running()) {
        emit message(QStringLiteral("実行中のため、変更を適用できません。"));
        return;
    }
    m_apply->apply(model);
}

void GridEditCommands::discard()
{
    if (ResultModel *model = m_grid->resultModel())
        model->discardEdits();
}

void GridEditCommands::setNull()
{
    ResultModel *model = m_grid->resultModel();
    if (!model)
        return;
    for (const QModelIndex &index : m_grid->selectionModel()->selectedIndexes()) {
        if (!model->setData(index, QVariant(), Qt::EditRole))
            break; // the model said why
    }
}

void GridEditCommands::insertRow()
{
    ResultModel *model = m_grid->resultModel();
    const int row = model ? model->insertPendingRow() : -1;
    if (row < 0)
        return;
    m_grid->scrollToBottom();
    m_grid->setCurrentIndex(model->index(row, 0));
}

void GridEditCommands::deleteRows()
{
    ResultModel *model = m_grid->resultModel();
    if (!model)
        return;
    std::set<int> rows;
    for (const QModelIndex &index : m_grid->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    if (!rows.empty())
        model->markRowsDeleted(QList<int>(rows.begin(), rows.end()));
}

QList<ResultModel *> GridEditCommands::pending(const QList<ResultModel *> &models)
{
    QList<ResultModel *> found;
    for (ResultModel *model : models) {
        if (model->hasPendingEdits())
            found << model;
    }
    return found;
}
