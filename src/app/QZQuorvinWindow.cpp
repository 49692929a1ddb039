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

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <limits>

// Where an action shows, in the table's order (and a separator before it).
enum Place { FileMenu = 1, EditMenu = 2, SqlMenu = 4, ViewMenu = 8, Tools1 = 16, Tools2 = 32, SeparatorBefore = 64 };

struct QZQuorvinWindow::ActionEntry
{
    QAction *QZQuorvinWindow::*member;
    const char *objectName;
    const char16_t *text;
    QKeyCombination shortcut;
    // One of the six bitmaps in ./image (by name), or else one of the style's icons.
    const char *image;
    int standardIcon;
    int places;
    void (*slot)(QZQuorvinWindow &);
};

const QZQuorvinWindow::ActionEntry *QZQuorvinWindow::actionTable(int *count)
{
    using W = QZQuorvinWindow;
    constexpr auto Ctrl = Qt::CTRL, Shift = Qt::SHIFT, Alt = Qt::ALT;
    static const ActionEntry table[] = {
        { &W::m_pOpenAct, "m_pOpenAct", u"開く...", Ctrl | Qt::Key_O, nullptr, -1, FileMenu, [](W &w) { w.Open(); } },
        { &W::m_pSaveAct, "m_pSaveAct", u"保存", Ctrl | Qt::Key_S, nullptr, -1, FileMenu, [](W &w) { w.Save(); } },
        { &W::m_pSaveAsAct, "m_pSaveAsAct", u"名前を付けて保存...", Ctrl | Shift | Qt::Key_S, nullptr, -1,
          FileMenu, [](W &w) { w.SaveAs(); } },
        { &W::m_pRunFileAct, "m_pRunFileAct", u"SQL ファイルを実行…", {}, nullptr, -1, FileMenu, [](W &w) { w.RunFile(); } },
        { &W::m_pExportAct, "m_pExportAct", u"エクスポート…", {}, nullptr, -1, FileMenu,
          [](W &w) { w.m_pResults->grid()->exportResult(); } },
        { &W::m_pExitAct, "m_pExitAct", u"終了", {}, nullptr, -1, FileMenu | SeparatorBefore, [](W &w) { w.Exit(); } },
        { &W::m_pUndoAct, "m_pUndoAct", u"元に戻す", Ctrl | Qt::Key_Z, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Undo(); } },
        { &W::m_pRedoAct, "m_pRedoAct", u"やり直し", Ctrl | Qt::Key_Y, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Redo(); } },
        { &W::m_pCopyAct, "m_pCopyAct", u"コピー", Ctrl | Qt::Key_C, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Copy(); } },
        { &W::m_pCutAct, "m_pCutAct", u"切り取り", Ctrl | Qt::Key_X, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Cut(); } },
        { &W::m_pPasteAct, "m_pPasteAct", u"貼り付け", Ctrl | Qt::Key_V, nullptr, -1, EditMenu, [](W &w) { w.m_pTabWidget->Paste(); } },
        { &W::m_pFindAct, "m_pFindAct", u"Find", Ctrl | Qt::Key_F, nullptr, -1, EditMenu, [](W &w) { w.Find(); } },
        { &W::m_pReopenTabAct, "m_pReopenTabAct", u"閉じたタブを開き直す", Ctrl | Shift | Qt::Key_T, nullptr, -1,
          EditMenu, [](W &w) { w.m_pTabWidget->ReopenTab(); } },
        { &W::m_pConnectAct, "m_pConnectAct", u"データベースへ接続します", Ctrl | Qt::Key_N, "connect", -1,
          Tools1, [](W &w) { w.Connect(); } },
        { &W::m_pDisconnectAct, "m_pDisconnectAct", u"データベースから切断します", Ctrl | Qt::Key_D,
          "disconnect", -1, Tools1, [](W &w) { w.Disconnect(); } },
        { &W::m_pNewTabAct, "m_pNewTabAct", u"エディタ・タブを追加します", Alt | Qt::Key_PageUp, "newtab", -1,
          Tools1, [](W &w) { w.m_pTabWidget->NewTab(); } },
        { &W::m_pCloseTabAct, "m_pCloseTabAct", u"エディタ・タブを減らします", Alt | Qt::Key_PageDown,
          "closetab", -1, Tools1, [](W &w) {
              if (w.confirmDiscardEdits(w.m_pResults->models(w.m_pTabWidget->currentPage())))
                  w.m_pTabWidget->CloseTab();
          } },
        { &W::m_pClearAct, "m_pClearAct", u"エディタをクリアします", {}, "clear", -1, Tools2, [](W &w) { w.Clear(); } },
        { &W::m_pExecAct, "m_pExecAct", u"SQLの実行", Qt::Key_F5, "exec", -1, Tools2 | SqlMenu,
          [](W &w) { w.Exec(); } },
        { &W::m_pExecCurrentAct, "m_pExecCurrentAct", u"カーソル位置のSQLを実行", Ctrl | Qt::Key_Return,
          nullptr, QStyle::SP_MediaSeekForward, Tools2 | SqlMenu, [](W &w) { w.ExecCurrent(); } },
        { &W::m_pCancelAct, "m_pCancelAct", u"実行中のSQLをキャンセルします", Qt::Key_Escape, nullptr,
          QStyle::SP_BrowserStop, Tools2 | SqlMenu, [](W &w) { w.Cancel(); } },
        { &W::m_pResultLimitAct, "m_pResultLimitAct", u"結果のメモリ上限...", {}, nullptr, -1,
          SqlMenu | SeparatorBefore, [](W &w) { w.askResultMemoryLimit(); } },
        { &W::m_pApplyEditsAct, "m_pApplyEditsAct", u"変更を適用", Ctrl | Shift | Qt::Key_Return, nullptr,
          -1, SqlMenu | SeparatorBefore, [](W &w) { w.applyEdits(); } },
        { &W::m_pDiscardEditsAct, "m_pDiscardEditsAct", u"変更を破棄", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.discardEdits(); } },
        { &W::m_pSetNullAct, "m_pSetNullAct", u"NULL にする", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.setSelectionNull(); } },
        { &W::m_pInsertRowAct, "m_pInsertRowAct", u"行を追加", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.insertPendingRow(); } },
        { &W::m_pDeleteRowAct, "m_pDeleteRowAct", u"行を削除", {}, nullptr, -1, SqlMenu,
          [](W &w) { w.deleteSelectedRows(); } },
        { &W::m_pShowMessageLogAct, "m_pShowMessageLogAct", u"メッセージログ", {}, nullptr, -1, ViewMenu, nullptr },
    };
    *count = int(std::size(table));
    return table;
}

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
    createActions();
    const QSize hint = minimumSizeHint();
    resize(qMax(hint.width(), 800), qMax(hint.height(), 600));
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
    createStatusBar();
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

void QZQuorvinWindow::createActions()
{
    menuBar()->setObjectName(QStringLiteral("m_pMenuBar"));
    const std::pair<int, const char *> menuNames[] = {
        { FileMenu, "ファイル|File Popup Menu" }, { EditMenu, "編集|Edit Popup Menu" },
        { SqlMenu, "SQL|SQL Popup Menu" }, { ViewMenu, "表示|View Popup Menu" },
    };
    QHash<int, QWidget *> places;
    for (const auto &[place, names] : menuNames) {
        const QStringList name = QString::fromUtf8(names).split(QLatin1Char('|'));
        QMenu *menu = menuBar()->addMenu(name[0]);
        menu->setObjectName(name[1]);
        places.insert(place, menu);
    }
    places.insert(Tools1, m_pToolBar1 = addToolBar(QString()));
    places.insert(Tools2, m_pToolBar2 = addToolBar(QString()));
    m_pToolBar1->setObjectName(QStringLiteral("m_pToolBar1"));
    m_pToolBar2->setObjectName(QStringLiteral("m_pToolBar2"));

    int count = 0;
    const ActionEntry *table = actionTable(&count);
    for (const ActionEntry &entry : QList<ActionEntry>(table, table + count)) {
        QAction *action = this->*entry.member = new QAction(QString::fromUtf16(entry.text), this);
        action->setObjectName(QString::fromLatin1(entry.objectName));
        action->setToolTip(action->text());
        action->setShortcut(QKeySequence(entry.shortcut));
        const QPixmap pixmap(QStringLiteral("./image/%1.bmp").arg(QLatin1String(entry.image)));
        if (entry.image && !pixmap.isNull())
            action->setIcon(QIcon(pixmap));
        else if (entry.standardIcon >= 0)
            action->setIcon(style()->standardIcon(QStyle::StandardPixmap(entry.standardIcon)));
        for (auto it = places.cbegin(); it != places.cend(); ++it) {
            if (!(entry.places & it.key()))
                continue;
            if (auto *menu = qobject_cast<QMenu *>(it.value()); menu && entry.places & SeparatorBefore)
                menu->addSeparator();
            it.value()->addAction(action);
        }
        if (const auto slot = entry.slot)
            connect(action, &QAction::triggered, this, [this, slot] { slot(*this); });
    }
    m_pShowMessageLogAct->setCheckable(true);
    m_pShowMessageLogAct->setChecked(true);
    connect(m_pShowMessageLogAct, &QAction::toggled, m_pMessageLog, &QWidget::setVisible);
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
