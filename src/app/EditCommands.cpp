// Editing in the grid: the actions, the questions before edits are lost,
// and the wiring of the apply step to the commit question.

#include "QZQuorvinWindow.h"

#include "DatabaseConnection.h"
#include "GridEditApply.h"
#include "MessageLog.h"
#include "QZEditTabWidget.h"
#include "QueryExecutor.h"
#include "ResultModel.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaProperty>
#include <QStyledItemDelegate>
#include <QTableView>

#include <set>

namespace {

// Leaving an editor without changing its text changes nothing: a NULL cell
// opened and left stays NULL instead of becoming ''.
class UnchangedKeepingDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override
    {
        const QByteArray property = editor->metaObject()->userProperty().name();
        if (editor->property(property.constData()) == index.data(Qt::EditRole))
            return;
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};

} // namespace

void QZQuorvinWindow::setUpGridEditing(QMenu *sqlMenu)
{
    createAction(m_pApplyEditsAct, "m_pApplyEditsAct", QStringLiteral("変更を適用"),
                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Return));
    createAction(m_pDiscardEditsAct, "m_pDiscardEditsAct", QStringLiteral("変更を破棄"), {});
    createAction(m_pSetNullAct, "m_pSetNullAct", QStringLiteral("NULL にする"), {});
    createAction(m_pInsertRowAct, "m_pInsertRowAct", QStringLiteral("行を追加"), {});
    createAction(m_pDeleteRowAct, "m_pDeleteRowAct", QStringLiteral("行を削除"), {});
    const QList<QAction *> actions{ m_pApplyEditsAct, m_pDiscardEditsAct, m_pSetNullAct,
                                    m_pInsertRowAct, m_pDeleteRowAct };
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    m_pDataTable->addAction(separator);
    m_pDataTable->addActions(actions);
    sqlMenu->addSeparator();
    sqlMenu->addActions(actions);
    m_pDataTable->setItemDelegate(new UnchangedKeepingDelegate(m_pDataTable));

    // The view opens no editor on a read-only cell; say why instead.
    connect(m_pDataTable, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        ResultModel *model = resultModel();
        if (model && !(model->flags(index) & Qt::ItemIsEditable))
            emit message(QStringLiteral("この結果は編集できません: ") + model->readOnlyReason());
    });
    connect(m_pApplyEditsAct, &QAction::triggered, this, &QZQuorvinWindow::applyEdits);
    connect(m_pDiscardEditsAct, &QAction::triggered, this, [this] {
        if (ResultModel *model = resultModel())
            model->discardEdits();
    });
    connect(m_pSetNullAct, &QAction::triggered, this, &QZQuorvinWindow::setSelectionNull);
    connect(m_pInsertRowAct, &QAction::triggered, this, &QZQuorvinWindow::insertPendingRow);
    connect(m_pDeleteRowAct, &QAction::triggered, this, &QZQuorvinWindow::deleteSelectedRows);

    m_pGridEditApply = new GridEditApply(m_pConnection, this);
    m_pGridEditApply->setCommitQuestion([this](const QueryExecutor::Change &change) {
        const int answer = askToCommit(change.affectedRows, change.statements);
        return answer == QMessageBox::Yes ? QueryExecutor::Yes
            : answer == QMessageBox::No   ? QueryExecutor::No
                                          : QueryExecutor::Cancel;
    });
    connect(m_pGridEditApply, &GridEditApply::message, this, &QZQuorvinWindow::message);
    connect(m_pGridEditApply, &GridEditApply::logged, m_pLog, &MessageLog::add);
    connect(m_pGridEditApply, &GridEditApply::runningChanged, this, [this](bool running) {
        if (running)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
        updateRunActions();
    });
}

int QZQuorvinWindow::askToCommit(qint64 rows, const QStringList &statements)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                    QStringLiteral("コミットしてよろしいですか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("ConfirmCommitMessageBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setInformativeText(QStringLiteral("%L1 行が変更されます。").arg(rows));
    if (!statements.isEmpty())
        box.setDetailedText(statements.join(QLatin1Char('\n')));
    box.setModal(true);
    QApplication::restoreOverrideCursor();
    const int answer = box.exec();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return answer;
}

void QZQuorvinWindow::applyEdits()
{
    ResultModel *model = resultModel();
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

void QZQuorvinWindow::setSelectionNull()
{
    ResultModel *model = resultModel();
    if (!model)
        return;
    for (const QModelIndex &index : m_pDataTable->selectionModel()->selectedIndexes()) {
        if (!model->setData(index, QVariant(), Qt::EditRole))
            break; // the model said why
    }
}

void QZQuorvinWindow::insertPendingRow()
{
    ResultModel *model = resultModel();
    if (!model)
        return;
    const int row = model->insertPendingRow();
    if (row < 0)
        return;
    m_pDataTable->scrollToBottom();
    m_pDataTable->setCurrentIndex(model->index(row, 0));
}

void QZQuorvinWindow::deleteSelectedRows()
{
    ResultModel *model = resultModel();
    if (!model)
        return;
    std::set<int> rows;
    for (const QModelIndex &index : m_pDataTable->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    if (!rows.empty())
        model->markRowsDeleted(QList<int>(rows.begin(), rows.end()));
}

QList<ResultModel *> QZQuorvinWindow::tabModels(QZTextEdit *page) const
{
    QList<ResultModel *> models;
    for (const QPointer<ResultModel> &model : m_tabResults.value(page).models) {
        if (model)
            models << model.data();
    }
    return models;
}

QList<ResultModel *> QZQuorvinWindow::allModels() const
{
    QList<ResultModel *> models;
    for (auto it = m_tabResults.cbegin(); it != m_tabResults.cend(); ++it)
        models << tabModels(it.key());
    return models;
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
