#include "ResultPanel.h"

#include "MessageLog.h"
#include "ResultGrid.h"
#include "ResultModel.h"

#include <QComboBox>
#include <QLabel>
#include <QStandardItemModel>
#include <QVBoxLayout>

ResultPanel::ResultPanel(QWidget *parent)
    : QWidget(parent)
    , m_pResultSelector(new QComboBox(this))
    , m_pPreviousLabel(new QLabel(QStringLiteral("前の文の結果です（最後に実行した文は失敗しました）"), this))
    , m_pDataTable(new ResultGrid(this))
    , m_pResultInfo(new QLabel(this))
    , m_pEmptyModel(new QStandardItemModel(40, 15, this))
{
    setObjectName(QStringLiteral("m_pResultPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_pResultSelector->setObjectName(QStringLiteral("m_pResultSelector"));
    m_pResultSelector->hide();
    layout->addWidget(m_pResultSelector, 0, Qt::AlignLeft);
    m_pPreviousLabel->setObjectName(QStringLiteral("m_pPreviousLabel"));
    m_pPreviousLabel->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; padding: 2px; }"));
    m_pPreviousLabel->hide();
    layout->addWidget(m_pPreviousLabel);
    layout->addWidget(m_pDataTable);
    m_pDataTable->setModel(m_pEmptyModel);
    m_pResultInfo->setObjectName(QStringLiteral("m_pResultInfo"));
    connect(m_pResultSelector, qOverload<int>(&QComboBox::activated), this,
            &ResultPanel::selectResult);
}

void ResultPanel::runStarted()
{
    if (!m_runPage)
        return;
    TabResults &results = m_tabResults[m_runPage];
    results.stale = true;
    results.previous = false;
    if (m_runPage == m_current)
        m_pPreviousLabel->hide();
}

void ResultPanel::addResult(ResultModel *model)
{
    if (!m_runPage) {
        delete model;
        return;
    }
    model->setParent(this);
    TabResults &results = m_tabResults[m_runPage];
    QList<QPointer<ResultModel>> superseded;
    if (results.stale)
        superseded = std::exchange(results.models, {});
    results.stale = false;
    results.previous = false;
    results.models.append(model);
    results.shown = int(results.models.size()) - 1;
    connect(model, &QAbstractItemModel::rowsInserted, this, &ResultPanel::updateInfo);
    connect(model, &ResultModel::loadingFinished, this, &ResultPanel::updateInfo);
    connect(model, &ResultModel::editRefused, m_pDataTable, &ResultGrid::sayReadOnly);
    if (m_runPage == m_current)
        showCurrent();
    for (const QPointer<ResultModel> &old : superseded)
        delete old;
}

void ResultPanel::runFailed()
{
    if (!m_runPage)
        return;
    m_tabResults[m_runPage].previous = true;
    if (m_runPage == m_current)
        showCurrent();
}

void ResultPanel::showPage(QObject *page)
{
    m_current = page;
    showCurrent();
}

void ResultPanel::dropPage(QObject *page)
{
    if (page == m_runPage)
        m_runPage = nullptr;
    const TabResults results = m_tabResults.take(page);
    for (const QPointer<ResultModel> &model : results.models)
        delete model;
    updateInfo();
}

void ResultPanel::showCurrent()
{
    const TabResults results = m_tabResults.value(m_current);
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
    m_pDataTable->showModel(model ? static_cast<QAbstractItemModel *>(model) : m_pEmptyModel);
    m_pPreviousLabel->setVisible(model && results.previous);
    updateInfo();
}

void ResultPanel::selectResult(int index)
{
    TabResults &results = m_tabResults[m_current];
    if (index < 0 || index >= results.models.size())
        return;
    results.shown = index;
    showCurrent();
}

void ResultPanel::updateInfo()
{
    const ResultModel *model = m_pDataTable->resultModel();
    if (!model) {
        m_pResultInfo->clear();
        return;
    }
    QString text = QStringLiteral("%1 行").arg(countText(model->rowCount()));
    if (!model->isLoading())
        text += QStringLiteral(" · ") + secondsText(model->streamEnd().totalMs);
    m_pResultInfo->setText(text);
}

QList<ResultModel *> ResultPanel::models(QObject *page) const
{
    QList<ResultModel *> out;
    for (const QPointer<ResultModel> &model : m_tabResults.value(page).models) {
        if (model)
            out << model.data();
    }
    return out;
}

QList<ResultModel *> ResultPanel::allModels() const
{
    QList<ResultModel *> out;
    for (auto it = m_tabResults.cbegin(); it != m_tabResults.cend(); ++it)
        out << models(it.key());
    return out;
}
