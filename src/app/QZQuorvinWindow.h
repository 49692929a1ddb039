#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

class QAction;
class QLabel;
class QLineEdit;
class QTreeView;
class SchemaPanel;
class QMenu;
class QSplitter;
class QToolBar;
class ConnectDialog;
class DatabaseConnection;
class GridEditCommands;
class MessageLog;
class MessageLogView;
class QueryExecutor;
class ResultModel;
class QZEditTabWidget;
class QZTextEdit;
class ResultPanel;
class RunProgressBox;
class TabFiles;
class TabKeeper;

// The one top-level window: editor tabs above the result panel and the
// message log, the menus and tool bars that drive them, and the status bar
// that reports every outcome posted through message(). It creates the
// panels and the actions, decides which actions are enabled, wires the
// panels to the connection and shows the boxes; the work is the panels'.
class QZQuorvinWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit QZQuorvinWindow(QWidget *parent = nullptr, const char *name = nullptr,
                             Qt::WindowFlags f = {});
    ~QZQuorvinWindow() override;

    bool InitWindow();

    // The most memory one result may take; rows past it are not read.
    void setResultMemoryLimit(qint64 bytes);
    qint64 resultMemoryLimit() const;

    // The statement kind of a text (see StatementClassifier.h).
    int ClassifySQL(QString sql);

signals:
    void message(const QString &text);

protected slots:
    void Open();
    void Save();
    void SaveAs();
    void Print();
    void Exit();
    void Find();
    void Clear();
    void Connect();
    void Disconnect();
    void Exec();
    void Cancel();
    void ExecCurrent();
    void RunFile();

private:
    friend struct WindowActions;
    void createPanels();
    void createStatusBar();
    void wireExecutor();
    void wireConnection();
    void wireTabs();
    void askResultMemoryLimit();
    // Every action's enabled state, from the window's state.
    void updateActions();

    bool readyToRun();
    void startRun(QZTextEdit *page);
    // Says why nothing runs: no statement, or one left open at `openAt`.
    void refuseRun(QZTextEdit *page, qsizetype openAt);
    void statementError(qsizetype position);
    void connectionFailed();
    // The status bar's word on the session's encryption; none while closed.
    void updateTlsLabel();
    void connectionOpened(const QString &database, const QString &user);

    // The schema dock and completion (SchemaCommands.cpp).
    void setUpSchemaDock();

    void closeEvent(QCloseEvent *e) override;

    // Editing in the grid (EditCommands.cpp).
    void wireGridEditing();
    // With edits pending in any of these results, asks whether to drop
    // them; true when there were none or they were dropped.
    bool confirmDiscardEdits(const QList<ResultModel *> &models);

    QSplitter *m_pSplitter = nullptr;
    QZEditTabWidget *m_pTabWidget = nullptr;
    ResultPanel *m_pResults = nullptr;
    MessageLog *m_pLog = nullptr;
    MessageLogView *m_pMessageLog = nullptr;
    QLabel *m_pRunLabel = nullptr;
    QLabel *m_pTlsLabel = nullptr;
    RunProgressBox *m_pRunProgress = nullptr;
    QAction *m_pOpenAct = nullptr;
    QAction *m_pSaveAct = nullptr;
    QAction *m_pSaveAsAct = nullptr;
    QAction *m_pExportAct = nullptr;
    QAction *m_pExitAct = nullptr;
    QAction *m_pUndoAct = nullptr;
    QAction *m_pRedoAct = nullptr;
    QAction *m_pCopyAct = nullptr;
    QAction *m_pCutAct = nullptr;
    QAction *m_pPasteAct = nullptr;
    QAction *m_pFindAct = nullptr;
    QAction *m_pReopenTabAct = nullptr;
    QAction *m_pConnectAct = nullptr;
    QAction *m_pDisconnectAct = nullptr;
    QAction *m_pNewTabAct = nullptr;
    QAction *m_pCloseTabAct = nullptr;
    QAction *m_pClearAct = nullptr;
    QAction *m_pExecAct = nullptr;
    QAction *m_pExecCurrentAct = nullptr;
    QAction *m_pRunFileAct = nullptr;
    QAction *m_pCancelAct = nullptr;
    QAction *m_pResultLimitAct = nullptr;
    QAction *m_pShowMessageLogAct = nullptr;
    QAction *m_pApplyEditsAct = nullptr;
    QAction *m_pDiscardEditsAct = nullptr;
    QAction *m_pSetNullAct = nullptr;
    QAction *m_pInsertRowAct = nullptr;
    QAction *m_pDeleteRowAct = nullptr;
    GridEditCommands *m_pGridEdits = nullptr;
    QToolBar *m_pToolBar1 = nullptr;
    QToolBar *m_pToolBar2 = nullptr;
    qint64 m_resultMemoryLimit = 0;
    ConnectDialog *m_pConnectDialog = nullptr;
    DatabaseConnection *m_pConnection = nullptr;
    QueryExecutor *m_pExecutor = nullptr;
    QPointer<QZTextEdit> m_runPage;
    TabKeeper *m_pTabKeeper = nullptr;
    TabFiles *m_pFiles = nullptr;

    SchemaPanel *m_pSchemaPanel = nullptr;
    QTreeView *m_pSchemaTree = nullptr;
    QLineEdit *m_pSchemaFilter = nullptr;
    QAction *m_pRefreshSchemaAct = nullptr;
};
