#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class QAction;
class QMenuBar;
class QSplitter;
class QTableView;
class QTimer;
class QToolBar;
class TabStateStore;
class ConnectDialog;
class QZEditTabWidget;
class ResultModel;

// The one top-level window: editor tabs above the result grid, the menus and
// tool bars that drive them, and the status bar that reports every outcome
// posted through message().
class QZQuorvinWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit QZQuorvinWindow(QWidget *parent = nullptr, const char *name = nullptr,
                             Qt::WindowFlags f = {});
    ~QZQuorvinWindow() override;

    bool InitWindow();

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

private:
    QAction *createAction(QAction *&member, const char *objectName, const QString &text,
                          const QKeySequence &shortcut);
    void loadToolBarIcons();
    // The model behind the grid when it shows a query result, else null.
    ResultModel *resultModel() const;
    // Reads whatever the last query still has pending on the connection, so
    // that the connection is free for the next command.
    void finishPendingResult();
    void showResult(ResultModel *model);
    void runQuery(const QString &sql);
    void runDataChange(const QString &sql);
    void connectionFailed();

    // Tabs and files: the editor's text outlives the window and the process.
    void restoreTabs();
    void saveTabs();
    void connectFileActions();
    void openFile(const QString &path);
    void saveCurrentTo(const QString &path);
    void closeEvent(QCloseEvent *e) override;

    QSplitter *m_pSplitter = nullptr;
    QZEditTabWidget *m_pTabWidget = nullptr;
    QTableView *m_pDataTable = nullptr;
    QMenuBar *m_pMenuBar = nullptr;
    QAction *m_pExitAct = nullptr;
    QAction *m_pUndoAct = nullptr;
    QAction *m_pRedoAct = nullptr;
    QAction *m_pCopyAct = nullptr;
    QAction *m_pCutAct = nullptr;
    QAction *m_pPasteAct = nullptr;
    QAction *m_pFindAct = nullptr;
    QToolBar *m_pToolBar1 = nullptr;
    QToolBar *m_pToolBar2 = nullptr;
    QAction *m_pConnectAct = nullptr;
    QAction *m_pDisconnectAct = nullptr;
    QAction *m_pNewTabAct = nullptr;
    QAction *m_pCloseTabAct = nullptr;
    QAction *m_pClearAct = nullptr;
    QAction *m_pExecAct = nullptr;
    ConnectDialog *m_pConnectDialog = nullptr;

    QAction *m_pOpenAct = nullptr;
    QAction *m_pSaveAct = nullptr;
    QAction *m_pSaveAsAct = nullptr;
    QAction *m_pReopenTabAct = nullptr;
    QTimer *m_pTabSaveTimer = nullptr;
    std::unique_ptr<TabStateStore> m_pTabStore;
};
