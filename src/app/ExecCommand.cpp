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
#include "TextFileCodec.h"

#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QProgressDialog>

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
    if (split.statements.isEmpty()) {
        emit message(QStringLiteral("命令文を記述して下さい。"));
        return;
    }
    m_runPage = page;
    m_pExecutor->execute(QueryRun::fromText(page, selected ? cursor.selectionStart() : 0,
                                            split.statements));
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
    m_pExecutor->execute(QueryRun::fromText(page, 0, { *statement }));
}

void QZQuorvinWindow::setUpRunFile(QMenu *fileMenu)
{
    fileMenu->addAction(createAction(m_pRunFileAct, "m_pRunFileAct",
                                     QStringLiteral("SQL ファイルを実行…"), {}));
    connect(m_pRunFileAct, &QAction::triggered, this, &QZQuorvinWindow::RunFile);
}

void QZQuorvinWindow::connectRunProgress()
{
    connect(m_pExecutor, &QueryExecutor::fileProgress, this, &QZQuorvinWindow::showFileProgress);
    connect(m_pExecutor, &QueryExecutor::runningChanged, this, [this](bool running) {
        if (!running && m_pRunProgress)
            m_pRunProgress->hide();
    });
}

namespace {

// The encoding Ctrl+O would read the file in, decided from its start, as a
// name QStringDecoder knows; empty when it is no text in one we know.
QByteArray scriptEncoding(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "UTF-8"; // the run names the reason it cannot be read
    QByteArray sample = file.read(1 << 16);
    if (!file.atEnd() && sample.lastIndexOf('\n') > 0)
        sample.truncate(sample.lastIndexOf('\n') + 1); // never half a character
    const TextFileCodec::Decoded decoded = TextFileCodec::decode(sample);
    if (decoded.guessed && !sample.isEmpty())
        return {};
    switch (decoded.encoding) {
    case TextFileCodec::Encoding::Utf16:
        return "UTF-16";
    case TextFileCodec::Encoding::ShiftJis:
        return "windows-31j";
    case TextFileCodec::Encoding::EucJp:
        return "EUC-JP";
    default:
        return "UTF-8";
    }
}

} // namespace

void QZQuorvinWindow::RunFile()
{
    if (!readyToRun())
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("SQL ファイルを実行"), QString(),
        QStringLiteral("SQL (*.sql);;すべてのファイル (*)"));
    if (path.isEmpty() || !readyToRun())
        return;
    const QByteArray encoding = scriptEncoding(path);
    if (encoding.isEmpty()) {
        m_pLog->add(path, QStringLiteral("実行しませんでした: テキストファイルではないか、"
                                         "文字コードが分かりません"));
        emit message(QStringLiteral("ファイルを実行できませんでした。"));
        return;
    }
    m_runPage = nullptr;
    m_pExecutor->execute(QueryRun::fromFile(path, encoding));
}

void QZQuorvinWindow::showFileProgress(int statements, qint64 bytesDone, qint64 bytesTotal,
                                       qint64 elapsedMs)
{
    if (!m_pRunProgress) {
        m_pRunProgress = new QProgressDialog(this);
        m_pRunProgress->setObjectName(QStringLiteral("m_pRunProgress"));
        m_pRunProgress->setWindowTitle(QStringLiteral("SQL ファイルを実行"));
        m_pRunProgress->setCancelButtonText(QStringLiteral("キャンセル"));
        m_pRunProgress->setAutoReset(false);
        m_pRunProgress->setAutoClose(false);
        connect(m_pRunProgress, &QProgressDialog::canceled, this, &QZQuorvinWindow::Cancel);
    }
    const int permille = bytesTotal > 0 ? int(bytesDone * 1000 / bytesTotal) : 0;
    m_pRunProgress->setRange(0, 1000);
    m_pRunProgress->setValue(qBound(0, permille, 1000));
    const QString left = bytesDone > 0 && bytesDone < bytesTotal
        ? secondsText(elapsedMs * (bytesTotal - bytesDone) / bytesDone)
        : QStringLiteral("—");
    m_pRunProgress->setLabelText(
        QStringLiteral("%1\n%L2 文 · %3 / %4 MB · 経過 %5 · 残り約 %6")
            .arg(statements == 0 ? QStringLiteral("ファイルを確認しています…")
                                 : QStringLiteral("実行しています…"))
            .arg(statements)
            .arg(QString::number(double(bytesDone) / (1 << 20), 'f', 1),
                 QString::number(double(bytesTotal) / (1 << 20), 'f', 1), secondsText(elapsedMs),
                 left));
    if (m_pExecutor->running() && !m_pRunProgress->isVisible())
        m_pRunProgress->show();
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
        m_runPage->selectRange(int(start), int(end));
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
    const int at = int(position);
    m_runPage->selectRange(at, at);
    m_runPage->markErrorLine(at);
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
