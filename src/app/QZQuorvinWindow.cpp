#include "QZQuorvinWindow.h"

#include "DatabaseConnection.h"
#include "MessageLog.h"
#include "QZEditTabWidget.h"
#include "QueryExecutor.h"
#include "QZTextEdit.h"
#include "ResultModel.h"
#include "StatementClassifier.h"
#include "StatementSplitter.h"
#include "TabStateStore.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

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

QAction *QZQuorvinWindow::createAction(QAction *&member, const char *objectName,
                                       const QString &text, const QKeySequence &shortcut)
{
    member = new QAction(text, this);
    member->setObjectName(QString::fromLatin1(objectName));
    member->setToolTip(text);
    member->setShortcut(shortcut);
    return member;
}

bool QZQuorvinWindow::InitWindow()
{
    m_pMenuBar = new QMenuBar(this);
    m_pMenuBar->setObjectName(QStringLiteral("m_pMenuBar"));
    setMenuBar(m_pMenuBar);

    auto *fileMenu = new QMenu(QStringLiteral("ファイル"), this);
    fileMenu->setObjectName(QStringLiteral("File Popup Menu"));
    m_pMenuBar->addMenu(fileMenu);
    fileMenu->addAction(createAction(m_pOpenAct, "m_pOpenAct", QStringLiteral("開く..."),
                                     QKeySequence(Qt::CTRL | Qt::Key_O)));
    fileMenu->addAction(createAction(m_pSaveAct, "m_pSaveAct", QStringLiteral("保存"),
                                     QKeySequence(Qt::CTRL | Qt::Key_S)));
    fileMenu->addAction(createAction(m_pSaveAsAct, "m_pSaveAsAct",
                                     QStringLiteral("名前を付けて保存..."),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)));
    setUpRunFile(fileMenu);
    fileMenu->addAction(createAction(m_pExportAct, "m_pExportAct",
                                     QStringLiteral("エクスポート…"), {}));
    fileMenu->addSeparator();
    fileMenu->addAction(createAction(m_pExitAct, "m_pExitAct", QStringLiteral("終了"), {}));

    auto *editMenu = new QMenu(QStringLiteral("編集"), this);
    editMenu->setObjectName(QStringLiteral("Edit Popup Menu"));
    m_pMenuBar->addMenu(editMenu);
    editMenu->addAction(createAction(m_pUndoAct, "m_pUndoAct", QStringLiteral("元に戻す"),
                                     QKeySequence(Qt::CTRL | Qt::Key_Z)));
    editMenu->addAction(createAction(m_pRedoAct, "m_pRedoAct", QStringLiteral("やり直し"),
                                     QKeySequence(Qt::CTRL | Qt::Key_Y)));
    editMenu->addAction(createAction(m_pCopyAct, "m_pCopyAct", QStringLiteral("コピー"),
                                     QKeySequence(Qt::CTRL | Qt::Key_C)));
    editMenu->addAction(createAction(m_pCutAct, "m_pCutAct", QStringLiteral("切り取り"),
                                     QKeySequence(Qt::CTRL | Qt::Key_X)));
    editMenu->addAction(createAction(m_pPasteAct, "m_pPasteAct", QStringLiteral("貼り付け"),
                                     QKeySequence(Qt::CTRL | Qt::Key_V)));
    editMenu->addAction(createAction(m_pFindAct, "m_pFindAct", QStringLiteral("Find"),
                                     QKeySequence(Qt::CTRL | Qt::Key_F)));
    editMenu->addAction(createAction(m_pReopenTabAct, "m_pReopenTabAct",
                                     QStringLiteral("閉じたタブを開き直す"),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T)));

    m_pToolBar1 = addToolBar(QString());
    m_pToolBar1->setObjectName(QStringLiteral("m_pToolBar1"));
    m_pToolBar1->addAction(createAction(m_pConnectAct, "m_pConnectAct",
                                        QStringLiteral("データベースへ接続します"),
                                        QKeySequence(Qt::CTRL | Qt::Key_N)));
    m_pToolBar1->addAction(createAction(m_pDisconnectAct, "m_pDisconnectAct",
                                        QStringLiteral("データベースから切断します"),
                                        QKeySequence(Qt::CTRL | Qt::Key_D)));
    m_pToolBar1->addAction(createAction(m_pNewTabAct, "m_pNewTabAct",
                                        QStringLiteral("エディタ・タブを追加します"),
                                        QKeySequence(Qt::ALT | Qt::Key_PageUp)));
    m_pToolBar1->addAction(createAction(m_pCloseTabAct, "m_pCloseTabAct",
                                        QStringLiteral("エディタ・タブを減らします"),
                                        QKeySequence(Qt::ALT | Qt::Key_PageDown)));

    m_pToolBar2 = addToolBar(QString());
    m_pToolBar2->setObjectName(QStringLiteral("m_pToolBar2"));
    m_pToolBar2->addAction(createAction(m_pClearAct, "m_pClearAct",
                                        QStringLiteral("エディタをクリアします"), {}));
    m_pToolBar2->addAction(createAction(m_pExecAct, "m_pExecAct", QStringLiteral("SQLの実行"),
                                        QKeySequence(Qt::Key_F5)));
    m_pToolBar2->addAction(createAction(m_pExecCurrentAct, "m_pExecCurrentAct",
                                        QStringLiteral("カーソル位置のSQLを実行"),
                                        QKeySequence(Qt::CTRL | Qt::Key_Return)));
    m_pToolBar2->addAction(createAction(m_pCancelAct, "m_pCancelAct",
                                        QStringLiteral("実行中のSQLをキャンセルします"),
                                        QKeySequence(Qt::Key_Escape)));
    m_pCancelAct->setEnabled(false);
    auto *sqlMenu = new QMenu(QStringLiteral("SQL"), this);
    sqlMenu->setObjectName(QStringLiteral("SQL Popup Menu"));
    m_pMenuBar->addMenu(sqlMenu);
    sqlMenu->addAction(m_pExecAct);
    sqlMenu->addAction(m_pExecCurrentAct);
    sqlMenu->addAction(m_pCancelAct);
    sqlMenu->addSeparator();
    sqlMenu->addAction(createAction(m_pResultLimitAct, "m_pResultLimitAct",
                                    QStringLiteral("結果のメモリ上限..."), {}));

    m_pSplitter = new QSplitter(Qt::Vertical, this);
    m_pSplitter->setObjectName(QStringLiteral("m_pSplitter"));
    setCentralWidget(m_pSplitter);

    m_pTabWidget = new QZEditTabWidget(m_pSplitter, "m_pTabWidget");
    auto *resultPanel = new QWidget(m_pSplitter);
    resultPanel->setObjectName(QStringLiteral("m_pResultPanel"));
    auto *resultLayout = new QVBoxLayout(resultPanel);
    resultLayout->setContentsMargins(0, 0, 0, 0);
    resultLayout->setSpacing(2);
    m_pResultSelector = new QComboBox(resultPanel);
    m_pResultSelector->setObjectName(QStringLiteral("m_pResultSelector"));
    m_pResultSelector->hide();
    resultLayout->addWidget(m_pResultSelector, 0, Qt::AlignLeft);
    m_pPreviousLabel = new QLabel(QStringLiteral("前の文の結果です（最後に実行した文は失敗しました）"),
                                  resultPanel);
    m_pPreviousLabel->setObjectName(QStringLiteral("m_pPreviousLabel"));
    m_pPreviousLabel->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; padding: 2px; }"));
    m_pPreviousLabel->hide();
    resultLayout->addWidget(m_pPreviousLabel);
    m_pDataTable = new QTableView(resultPanel);
    resultLayout->addWidget(m_pDataTable);
    m_pDataTable->setObjectName(QStringLiteral("m_pDataTable"));
    // Fixed row heights keep scrolling through millions of rows cheap.
    m_pDataTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pDataTable->verticalHeader()->setDefaultSectionSize(
        m_pDataTable->fontMetrics().height() + 6);
    m_pDataTable->setWordWrap(false);
    m_pEmptyModel = new QStandardItemModel(40, 15, this);
    m_pDataTable->setModel(m_pEmptyModel);
    setUpResultGrid();
    setUpMessageLog();

    loadToolBarIcons();

    const QSize hint = minimumSizeHint();
    resize(qMax(hint.width(), 800), qMax(hint.height(), 600));

    connect(m_pExitAct, &QAction::triggered, this, &QZQuorvinWindow::Exit);
    connect(m_pUndoAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::Undo);
    connect(m_pRedoAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::Redo);
    connect(m_pCopyAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::Copy);
    connect(m_pCutAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::Cut);
    connect(m_pPasteAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::Paste);
    connect(m_pFindAct, &QAction::triggered, this, &QZQuorvinWindow::Find);
    connect(m_pConnectAct, &QAction::triggered, this, &QZQuorvinWindow::Connect);
    connect(m_pDisconnectAct, &QAction::triggered, this, &QZQuorvinWindow::Disconnect);
    connect(m_pNewTabAct, &QAction::triggered, m_pTabWidget,
            qOverload<>(&QZEditTabWidget::NewTab));
    connect(m_pCloseTabAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::CloseTab);
    connect(m_pClearAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::Clear);
    connect(m_pExecAct, &QAction::triggered, this, &QZQuorvinWindow::Exec);
    connect(m_pCancelAct, &QAction::triggered, this, &QZQuorvinWindow::Cancel);
    connect(m_pResultLimitAct, &QAction::triggered, this, [this] {
        bool ok = false;
        const int mib = QInputDialog::getInt(
            this, QStringLiteral("結果のメモリ上限"),
            QStringLiteral("一つの結果が使えるメモリ (MiB)。超えた分の行は読み込みません。"),
            int(resultMemoryLimit() >> 20), 1, std::numeric_limits<int>::max(), 64, &ok);
        if (ok)
            setResultMemoryLimit(qint64(mib) << 20);
    });

    m_pConnection = new DatabaseConnection(this);
    if (m_resultMemoryLimit > 0)
        m_pConnection->setRowMemoryLimit(m_resultMemoryLimit);
    else
        m_resultMemoryLimit = m_pConnection->rowMemoryLimit();
    m_pExecutor = new QueryExecutor(m_pConnection, this);
    connectRunProgress();
    m_pExecutor->setCommitQuestion([this](const QueryExecutor::Change &change) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                        QStringLiteral("コミットしてよろしいですか？"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("ConfirmCommitMessageBox"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        box.setInformativeText(QStringLiteral("%L1 行が変更されます。").arg(change.affectedRows));
        if (!change.statements.isEmpty())
            box.setDetailedText(change.statements.join(QLatin1Char('\n')));
        box.setModal(true);
        QApplication::restoreOverrideCursor();
        const int answer = box.exec();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        switch (answer) {
        case QMessageBox::Yes:
            return QueryExecutor::Yes;
        case QMessageBox::No:
            return QueryExecutor::No;
        case QMessageBox::Cancel:
            return QueryExecutor::Cancel;
        default:
            return QueryExecutor::Other;
        }
    });
    connect(m_pExecutor, &QueryExecutor::message, this, &QZQuorvinWindow::message);
    connect(m_pExecutor, &QueryExecutor::resultReady, this, &QZQuorvinWindow::addResult);
    connect(m_pExecutor, &QueryExecutor::runStarted, this, [this] {
        TabResults &results = m_tabResults[m_runPage];
        results.stale = true;
        results.previous = false;
        if (m_runPage == m_pTabWidget->currentPage())
            m_pPreviousLabel->hide();
    });
    connect(m_pExecutor, &QueryExecutor::statementFailed, this, &QZQuorvinWindow::statementFailed);
    connect(m_pExecutor, &QueryExecutor::statementError, this, &QZQuorvinWindow::statementError);
    connect(m_pExecutor, &QueryExecutor::logged, m_pLog, &MessageLog::add);
    connect(m_pExecutor, &QueryExecutor::statementRunning, this,
            &QZQuorvinWindow::statementRunning);
    connect(m_pResultSelector, qOverload<int>(&QComboBox::activated), this,
            &QZQuorvinWindow::selectResult);
    connect(m_pTabWidget, &QTabWidget::currentChanged, this, &QZQuorvinWindow::showTabResults);
    // A closed tab's results go with it: a large result is memory.
    connect(m_pTabWidget, &QZEditTabWidget::pageClosed, this, [this](QZTextEdit *page) {
        const TabResults results = m_tabResults.take(page);
        for (const QPointer<ResultModel> &model : results.models)
            delete model;
        updateResultInfo();
    });
    m_pExecutor->setImplicitCommitQuestion([this](const QStringList &statements) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Database情報"),
                        QStringLiteral("次の文はサーバーが自動的にコミットします。"
                                       "取り消しはできません。実行しますか？"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName(QStringLiteral("ConfirmImplicitCommitMessageBox"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        box.setInformativeText(statements.join(QLatin1Char('\n')));
        return box.exec() == QMessageBox::Yes;
    });
    connect(m_pExecutor, &QueryExecutor::runningChanged, this, [this](bool running) {
        // Set before Exec() returns and cleared when the work is done: code
        // outside the program waits on exactly these two.
        if (running) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
            m_pRunLabel->clear();
        }
        updateRunActions();
    });
    connect(m_pConnection, &DatabaseConnection::busyChanged, this,
            &QZQuorvinWindow::updateRunActions);
    connect(m_pConnection, &DatabaseConnection::dropped, this, [this] {
        m_pLog->add(QStringLiteral("切断"),
                    QStringLiteral("キャンセルした文が止まらないため、接続を切りました"));
        emit message(QStringLiteral("応答がないため接続を切断しました。"));
        setWindowTitle(QStringLiteral("Velquin"));
    });
    connect(m_pExecCurrentAct, &QAction::triggered, this, &QZQuorvinWindow::ExecCurrent);
    connect(m_pTabWidget, &QTabWidget::currentChanged, this, &QZQuorvinWindow::updateStatementMark);

    connectFileActions();
    restoreTabs();
    setUpSchemaDock();

    QStatusBar *bar = statusBar();
    bar->show();
    m_pRunLabel = new QLabel(bar);
    m_pRunLabel->setObjectName(QStringLiteral("m_pRunLabel"));
    bar->addPermanentWidget(m_pRunLabel);
    m_pResultInfo = new QLabel(bar);
    m_pResultInfo->setObjectName(QStringLiteral("m_pResultInfo"));
    bar->addPermanentWidget(m_pResultInfo);
    connect(this, &QZQuorvinWindow::message, bar,
            [bar](const QString &text) { bar->showMessage(text); });
    updateTlsLabel();
    connect(m_pConnection, &DatabaseConnection::closed, this, &QZQuorvinWindow::updateTlsLabel);

    setWindowTitle(QStringLiteral("Velquin"));
    return true;
}

void QZQuorvinWindow::setUpMessageLog()
{
    m_pLog = new MessageLog(MessageLog::DefaultCapacity, this);
    m_pMessageLog = new QPlainTextEdit(m_pSplitter);
    m_pMessageLog->setObjectName(QStringLiteral("m_pMessageLog"));
    m_pMessageLog->setReadOnly(true);
    m_pMessageLog->setTextInteractionFlags(Qt::TextSelectableByMouse
                                           | Qt::TextSelectableByKeyboard);
    m_pMessageLog->setUndoRedoEnabled(false);
    m_pMessageLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pSplitter->setStretchFactor(0, 3);
    m_pSplitter->setStretchFactor(1, 3);
    m_pSplitter->setStretchFactor(2, 1);
    connect(m_pLog, &MessageLog::added, this, &QZQuorvinWindow::appendLogEntry);

    auto *viewMenu = new QMenu(QStringLiteral("表示"), this);
    viewMenu->setObjectName(QStringLiteral("View Popup Menu"));
    m_pMenuBar->addMenu(viewMenu);
    viewMenu->addAction(createAction(m_pShowMessageLogAct, "m_pShowMessageLogAct",
                                     QStringLiteral("メッセージログ"), {}));
    m_pShowMessageLogAct->setCheckable(true);
    m_pShowMessageLogAct->setChecked(true);
    connect(m_pShowMessageLogAct, &QAction::toggled, m_pMessageLog, &QWidget::setVisible);
}

void QZQuorvinWindow::appendLogEntry(const QString &entry, int droppedLines)
{
    m_pMessageLog->appendPlainText(entry);
    if (droppedLines <= 0)
        return;
    // The first line counts the entries dropped; the oldest entry follows it.
    QTextDocument *document = m_pMessageLog->document();
    const int first = m_logHasDropLine ? 1 : 0;
    QTextCursor cursor(document);
    cursor.setPosition(document->findBlockByNumber(first).position());
    cursor.setPosition(document->findBlockByNumber(first + droppedLines).position(),
                       QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.setPosition(0);
    if (m_logHasDropLine) {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    } else {
        cursor.insertBlock();
        cursor.setPosition(0);
        m_logHasDropLine = true;
    }
    cursor.insertText(m_pLog->droppedText());
}

void QZQuorvinWindow::loadToolBarIcons()
{
    const struct {
        QAction *action;
        const char *file;
    } icons[] = {
        { m_pConnectAct, "./image/connect.bmp" },   { m_pDisconnectAct, "./image/disconnect.bmp" },
        { m_pNewTabAct, "./image/newtab.bmp" },     { m_pCloseTabAct, "./image/closetab.bmp" },
        { m_pClearAct, "./image/clear.bmp" },       { m_pExecAct, "./image/exec.bmp" },
    };
    for (const auto &icon : icons) {
        const QPixmap pixmap(QString::fromLatin1(icon.file));
        if (!pixmap.isNull())
            icon.action->setIcon(QIcon(pixmap));
    }
    // The commands added since the six bitmaps were drawn use the style's own.
    m_pExecCurrentAct->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));
    m_pCancelAct->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
}

int QZQuorvinWindow::ClassifySQL(QString sql)
{
    return classifyStatement(sql);
}

void QZQuorvinWindow::Open()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("開く"), QString(),
        QStringLiteral("SQL (*.sql);;テキスト (*.txt);;すべてのファイル (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void QZQuorvinWindow::Save()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    if (page->filePath().isEmpty())
        SaveAs();
    else
        saveCurrentTo(page->filePath());
}

void QZQuorvinWindow::SaveAs()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("名前を付けて保存"), page->filePath(),
        QStringLiteral("SQL (*.sql);;すべてのファイル (*)"));
    if (!path.isEmpty())
        saveCurrentTo(path);
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

void QZQuorvinWindow::updateRunActions()
{
    const bool free = !m_pExecutor->running() && !m_pTabWidget->isLoading();
    m_pExecAct->setEnabled(free);
    m_pExecCurrentAct->setEnabled(free);
    m_pCancelAct->setEnabled(m_pExecutor->running() || m_pConnection->isBusy()
                             || m_pConnection->state() == DatabaseConnection::Opening);
}

void QZQuorvinWindow::updateStatementMark()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    connect(page, &QPlainTextEdit::cursorPositionChanged, this,
            &QZQuorvinWindow::updateStatementMark, Qt::UniqueConnection);
    // The text is split again on every cursor move; past this size typing
    // would lag, and such a text is a file to run, not a statement to pick.
    constexpr int MaxMarkedText = 1 << 20;
    std::optional<SqlStatement> statement;
    if (page->document()->characterCount() <= MaxMarkedText)
        statement = statementAt(page->toPlainText(), page->textCursor().position());
    if (statement)
        page->markStatement(int(statement->start), int(statement->end));
    else
        page->clearStatementMark();
}

void QZQuorvinWindow::connectFileActions()
{
    connect(m_pOpenAct, &QAction::triggered, this, &QZQuorvinWindow::Open);
    connect(m_pSaveAct, &QAction::triggered, this, &QZQuorvinWindow::Save);
    connect(m_pSaveAsAct, &QAction::triggered, this, &QZQuorvinWindow::SaveAs);
    connect(m_pReopenTabAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::ReopenTab);
}

void QZQuorvinWindow::restoreTabs()
{
    m_pTabStore = std::make_unique<TabStateStore>(QDir::currentPath());
    TabSession session;
    const TabStateStore::Load result = m_pTabStore->load(&session);
    if (result == TabStateStore::Load::Restored)
        m_pTabWidget->restore(session);
    else
        m_pTabWidget->NewTab();
    if (result == TabStateStore::Load::Unreadable) {
        const QString aside = QFileInfo(m_pTabStore->setAsidePath()).fileName();
        // Posted once the status bar listens, after InitWindow() returns.
        QTimer::singleShot(0, this, [this, aside] {
            emit message(QStringLiteral("前回のタブを読み込めませんでした（%1 に残しました）。").arg(aside));
        });
    }

    // Not restarted by each keystroke: a save follows at most 2 s after the
    // first unsaved change, so a crash loses at most the last 2 s of typing.
    m_pTabSaveTimer = new QTimer(this);
    m_pTabSaveTimer->setSingleShot(true);
    m_pTabSaveTimer->setInterval(2000);
    connect(m_pTabSaveTimer, &QTimer::timeout, this, &QZQuorvinWindow::saveTabs);
    connect(m_pTabWidget, &QZEditTabWidget::sessionChanged, m_pTabSaveTimer, [this] {
        if (!m_pTabSaveTimer->isActive())
            m_pTabSaveTimer->start();
    });

    // A statement must never run from a text that is only partly in the editor.
    connect(m_pTabWidget, &QZEditTabWidget::loadingFinished, this,
            &QZQuorvinWindow::updateRunActions);
    updateRunActions();
}

void QZQuorvinWindow::saveTabs()
{
    if (!m_pTabStore)
        return;
    m_pTabSaveTimer->stop();
    if (!m_pTabStore->save(m_pTabWidget->session()))
        emit message(QStringLiteral("タブを保存できませんでした（%1）。").arg(m_pTabStore->errorString()));
}

void QZQuorvinWindow::closeEvent(QCloseEvent *e)
{
    saveTabs();
    QMainWindow::closeEvent(e);
}

void QZQuorvinWindow::openFile(const QString &path)
{
    QString error;
    switch (m_pTabWidget->openFile(path, &error)) {
    case QZEditTabWidget::OpenResult::Opened:
        emit message(QStringLiteral("開けました。"));
        break;
    case QZEditTabWidget::OpenResult::OpenedGuessing:
        emit message(QStringLiteral("文字コードを判別できないため UTF-8 として開きました。"
                                    "保存すると内容が変わることがあります。"));
        break;
    case QZEditTabWidget::OpenResult::Failed:
        emit message(QStringLiteral("開けませんでした（%1）。").arg(error));
        break;
    }
}

void QZQuorvinWindow::saveCurrentTo(const QString &path)
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    if (page->encodingGuessed() && QFileInfo(path).absoluteFilePath() == page->filePath()) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Velquin"),
            QStringLiteral("このファイルは文字コードを判別できないまま開いています。"
                           "上書きすると元の内容が失われることがあります。保存しますか？"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            emit message(QStringLiteral("保存しませんでした。"));
            return;
        }
    }
    QString error;
    if (m_pTabWidget->saveCurrent(path, &error))
        emit message(QStringLiteral("保存しました。"));
    else
        emit message(QStringLiteral("保存できませんでした（%1）。元のファイルはそのままです。").arg(error));
}
