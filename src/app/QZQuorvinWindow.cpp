#include "QZQuorvinWindow.h"

#include "CommitBoxes.h"
#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "MessageLogView.h"
#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "ResultGrid.h"
#include "ResultModel.h"
#include "ResultPanel.h"
#include "RunProgressBox.h"
#include "StatementClassifier.h"
#include "TabFiles.h"
#include "TabKeeper.h"
#include "WindowActions.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>

#include <limits>

QZQuorvinWindow::QZQuorvinWindow(QWidget *parent, const char *name, Qt::WindowFlags f)
    : QMainWindow(parent, f)
{
    if (name)
        setObjectName(QString::fromUtf8(name));
}

QZQuorvinWindow::~QZQuorvinWindow()
{
    // Leaving is quick: whatever still runs or streams is cut off, before
    // the widgets its outcomes would reach are gone.
    delete m_pExecutor;
    delete m_pConnection;
}

bool QZQuorvinWindow::InitWindow()
{
    m_pConnection = new DatabaseConnection(this);
    if (m_resultMemoryLimit > 0)
        m_pConnection->setRowMemoryLimit(m_resultMemoryLimit);
    else
        m_resultMemoryLimit = m_pConnection->rowMemoryLimit();
    m_pExecutor = new QueryExecutor(m_pConnection, this);
    createPanels();
    WindowActions::create(*this);
    const QSize hint = minimumSizeHint();
    resize(qMax(hint.width(), 800), qMax(hint.height(), 600));
    createStatusBar(); // the wiring below connects to its labels
    wireExecutor();
    wireConnection();
    wireTabs();
    wireGridEditing();
    connect(m_pTabKeeper = new TabKeeper(m_pTabWidget, QDir::currentPath(), this), &TabKeeper::message,
            this, &QZQuorvinWindow::message);
    m_pTabKeeper->restore();
    connect(m_pFiles = new TabFiles(m_pTabWidget, this), &TabFiles::message, this, &QZQuorvinWindow::message);
    setUpSchemaDock();
    if (auto *fileMenu = findChild<QMenu *>(QStringLiteral("File Popup Menu")))
        fileMenu->insertMenu(m_pSaveAct, m_pFiles->reopenMenu(this));
    updateActions();
    setWindowTitle(QStringLiteral("Velquin"));
    return true;
}

void QZQuorvinWindow::createPanels()
{
    m_pSplitter = new QSplitter(Qt::Vertical, this);
    m_pSplitter->setObjectName(QStringLiteral("m_pSplitter"));
    setCentralWidget(m_pSplitter);
    m_pTabWidget = new QZEditTabWidget(m_pSplitter, "m_pTabWidget");
    m_pResults = new ResultPanel(m_pSplitter);
    m_pLog = new MessageLog(MessageLog::DefaultCapacity, this);
    m_pMessageLog = new MessageLogView(m_pLog, m_pSplitter);
    m_pRunProgress = new RunProgressBox(this);
    m_pSplitter->setStretchFactor(0, 3);
    m_pSplitter->setStretchFactor(1, 3);
    m_pSplitter->setStretchFactor(2, 1);
}

void QZQuorvinWindow::createStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->show();
    const auto label = [bar](QLabel *widget, const char *name) {
        widget->setObjectName(QString::fromLatin1(name));
        bar->addPermanentWidget(widget);
        return widget;
    };
    m_pRunLabel = label(new QLabel(bar), "m_pRunLabel");
    label(m_pResults->infoLabel(), "m_pResultInfo");
    m_pTlsLabel = label(new QLabel(bar), "m_pTlsLabel");
    updateTlsLabel();
    connect(this, &QZQuorvinWindow::message, bar,
            [bar](const QString &text) { bar->showMessage(text); });
}

void QZQuorvinWindow::wireExecutor()
{
    m_pExecutor->setCommitQuestion(
        [this](const QueryExecutor::Change &change) { return CommitBoxes::askCommit(this, change); });
    m_pExecutor->setImplicitCommitQuestion(
        [this](const QStringList &statements) { return CommitBoxes::askImplicitCommit(this, statements); });
    connect(m_pExecutor, &QueryExecutor::message, this, &QZQuorvinWindow::message);
    connect(m_pExecutor, &QueryExecutor::logged, m_pLog, &MessageLog::add);
    connect(m_pExecutor, &QueryExecutor::resultReady, m_pResults, &ResultPanel::addResult);
    connect(m_pExecutor, &QueryExecutor::runStarted, m_pResults, &ResultPanel::runStarted);
    connect(m_pExecutor, &QueryExecutor::statementFailed, this, [this](qsizetype start, qsizetype end) {
        if (m_runPage)
            m_runPage->selectRange(int(start), int(end));
    });
    connect(m_pExecutor, &QueryExecutor::statementError, this, &QZQuorvinWindow::statementError);
    connect(m_pExecutor, &QueryExecutor::statementRunning, m_pRunLabel, [this](int index, int count) {
        m_pRunLabel->setText(QStringLiteral("実行中 %1/%2").arg(index + 1).arg(count));
    });
    connect(m_pExecutor, &QueryExecutor::fileProgress, m_pRunProgress, &RunProgressBox::showProgress);
    connect(m_pRunProgress, &QProgressDialog::canceled, this, &QZQuorvinWindow::Cancel);
    connect(m_pExecutor, &QueryExecutor::runningChanged, this, [this](bool running) {
        // Set before Exec() returns and cleared when the work is done: code
        // outside the program waits on exactly these two.
        if (running) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
            m_pRunLabel->clear();
        }
        m_pRunProgress->setRunning(running);
        updateActions();
    });
}

void QZQuorvinWindow::wireConnection()
{
    connect(m_pConnection, &DatabaseConnection::closed, this, &QZQuorvinWindow::updateTlsLabel);
    connect(m_pConnection, &DatabaseConnection::busyChanged, this, &QZQuorvinWindow::updateActions);
    connect(m_pConnection, &DatabaseConnection::dropped, this, [this] {
        m_pLog->add(QStringLiteral("切断"),
                    QStringLiteral("キャンセルした文が止まらないため、接続を切りました"));
        emit message(QStringLiteral("応答がないため接続を切断しました。"));
        setWindowTitle(QStringLiteral("Velquin"));
    });
}

void QZQuorvinWindow::wireTabs()
{
    connect(m_pTabWidget, &QTabWidget::currentChanged, this,
            [this] { m_pResults->showPage(m_pTabWidget->currentPage()); });
    // Closing the tab of a running statement cancels it: nothing of its
    // run may reach another tab, or stay behind.
    connect(m_pTabWidget, &QZEditTabWidget::pageClosed, this, [this](QZTextEdit *page) {
        if (page == m_runPage) {
            m_runPage = nullptr;
            if (m_pExecutor->running() || m_pConnection->isBusy())
                m_pExecutor->cancel();
        }
        m_pResults->dropPage(page);
    });
    // A statement must never run from a text that is only partly in the editor.
    connect(m_pTabWidget, &QZEditTabWidget::loadingFinished, this, &QZQuorvinWindow::updateActions);
    connect(m_pTabWidget, &QZEditTabWidget::loadingChanged, this, &QZQuorvinWindow::updateActions);
    connect(m_pTabWidget, &QTabWidget::currentChanged, this, &QZQuorvinWindow::updateActions);
    connect(m_pResults->grid(), &ResultGrid::message, this, &QZQuorvinWindow::message);
}

void QZQuorvinWindow::updateActions()
{
    const bool running = m_pExecutor->running();
    const bool free = !running && !m_pTabWidget->isLoading();
    m_pExecAct->setEnabled(free);
    m_pExecCurrentAct->setEnabled(free);
    m_pCancelAct->setEnabled(running || m_pConnection->isBusy()
                             || m_pConnection->state() == DatabaseConnection::Opening);
    // A tab still being laid out holds only part of its text: no edit
    // command may touch it (Clear included).
    const QZTextEdit *page = m_pTabWidget->currentPage();
    for (QAction *edit : { m_pUndoAct, m_pRedoAct, m_pCutAct, m_pPasteAct, m_pClearAct })
        edit->setEnabled(page && !page->isLoading());
}

void QZQuorvinWindow::askResultMemoryLimit()
{
    bool ok = false;
    const int mib = QInputDialog::getInt(
        this, QStringLiteral("結果のメモリ上限"),
        QStringLiteral("一つの結果が使えるメモリ (MiB)。超えた分の行は読み込みません。"),
        int(resultMemoryLimit() >> 20), 1, std::numeric_limits<int>::max(), 64, &ok);
    if (ok)
        setResultMemoryLimit(qint64(mib) << 20);
}

void QZQuorvinWindow::setResultMemoryLimit(qint64 bytes)
{
    m_resultMemoryLimit = bytes;
    if (m_pConnection)
        m_pConnection->setRowMemoryLimit(bytes);
}

qint64 QZQuorvinWindow::resultMemoryLimit() const
{
    return m_resultMemoryLimit;
}

int QZQuorvinWindow::ClassifySQL(QString sql)
{
    return classifyStatement(sql);
}

void QZQuorvinWindow::Open()
{
    m_pFiles->open();
}

void QZQuorvinWindow::Save()
{
    m_pFiles->save();
}

void QZQuorvinWindow::SaveAs()
{
    m_pFiles->saveAs();
}

void QZQuorvinWindow::closeEvent(QCloseEvent *e)
{
    if (!m_pTabKeeper->saveForClosing()) {
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

void QZQuorvinWindow::Print() {}

void QZQuorvinWindow::Find()
{
    m_pTabWidget->showFindBar(false);
}

void QZQuorvinWindow::Exit()
{
    close();
}

void QZQuorvinWindow::Clear()
{
    m_pTabWidget->Clear();
}
