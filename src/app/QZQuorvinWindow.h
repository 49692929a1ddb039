#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QString>

class QAbstractItemModel;
#include <vector>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressDialog;
class QPlainTextEdit;
class MessageLog;
class QSplitter;
class QTableView;
class QTreeView;
class SchemaPanel;
class QTimer;
class QToolBar;
class TabStateStore;
class ConnectDialog;
class DatabaseConnection;
class QueryExecutor;
class QZEditTabWidget;
class QZTextEdit;
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

    // The most memory one result may take; rows past it are not read.
    void setResultMemoryLimit(qint64 bytes);
    qint64 resultMemoryLimit() const;

    // The statement kind of a text (see StatementClassifier.h).
    int ClassifySQL(QString sql);

signals:
    void message(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

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
    QAction *createAction(QAction *&member, const char *objectName, const QString &text,
                          const QKeySequence &shortcut);
    void loadToolBarIcons();
    // The model behind the grid when it shows a query result, else null.
    ResultModel *resultModel() const;
    bool readyToRun();
    void setUpRunFile(QMenu *fileMenu);
    void connectRunProgress();
    void showFileProgress(int statements, qint64 bytesDone, qint64 bytesTotal, qint64 elapsedMs);
    void statementFailed(qsizetype start, qsizetype end);
    void statementError(qsizetype position);
    void setUpMessageLog();
    void appendLogEntry(const QString &entry, int droppedLines);
    // Where the one connection goes, as the log names it: "user@host:port/db".
    static QString connectionTarget(const QString &host, int port, const QString &user,
                                    const QString &database);
    void statementRunning(int index, int count, qsizetype start, qsizetype end);
    void addResult(ResultModel *model);
    void showTabResults();
    void selectResult(int index);
    void updateResultInfo();
    void showResult(ResultModel *model);
    void connectionFailed();
    // The status bar's word on the session's encryption; none while closed.
    void updateTlsLabel();
    void connectionOpened(const QString &database, const QString &user);
    void updateRunActions();
    // Marks the statement under the current editor's cursor.
    void updateStatementMark();

    // The result grid's own commands (ResultCommands.cpp).
    void setUpResultGrid();
    void copyResult(int format, bool withHeaders);
    void exportResult();
    // Sizes the grid's columns to their widest values; afterwards only
    // grows columns the user has not resized himself.
    void fitColumnsToWidest(bool fresh);

    // The schema dock and completion (SchemaCommands.cpp).
    void setUpSchemaDock();
    // A statement of this run ended: DDL changes what the tree shows.
    void schemaAfterStatement(const QString &statement);

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
    QAction *m_pCancelAct = nullptr;
    QAction *m_pResultLimitAct = nullptr;
    qint64 m_resultMemoryLimit = 0;
    QAction *m_pExecCurrentAct = nullptr;
    QAction *m_pRunFileAct = nullptr;
    QProgressDialog *m_pRunProgress = nullptr;
    QAction *m_pExportAct = nullptr;
    QAction *m_pCopyCellsAct = nullptr;
    QAction *m_pCopyWithHeadersAct = nullptr;
    QAction *m_pCopyAsInsertAct = nullptr;
    std::vector<int> m_columnWidths;
    quint64 m_widthVersion = 0;
    ConnectDialog *m_pConnectDialog = nullptr;
    DatabaseConnection *m_pConnection = nullptr;
    QueryExecutor *m_pExecutor = nullptr;
    QComboBox *m_pResultSelector = nullptr;
    QLabel *m_pRunLabel = nullptr;
    QLabel *m_pResultInfo = nullptr;
    QLabel *m_pTlsLabel = nullptr;
    QLabel *m_pPreviousLabel = nullptr;
    QPlainTextEdit *m_pMessageLog = nullptr;
    QAction *m_pShowMessageLogAct = nullptr;
    MessageLog *m_pLog = nullptr;
    bool m_logHasDropLine = false;
    QAbstractItemModel *m_pEmptyModel = nullptr;

    // Each editor tab keeps the results of its last run.
    struct TabResults
    {
        QList<QPointer<ResultModel>> models;
        int shown = -1;
        bool stale = false; // a new run began: replaced by its first result
        bool previous = false; // the last run failed: what shows is older
    };
    QHash<QZTextEdit *, TabResults> m_tabResults;
    QPointer<QZTextEdit> m_runPage;

    QAction *m_pOpenAct = nullptr;
    QAction *m_pSaveAct = nullptr;
    QAction *m_pSaveAsAct = nullptr;
    QAction *m_pReopenTabAct = nullptr;
    QTimer *m_pTabSaveTimer = nullptr;
    std::unique_ptr<TabStateStore> m_pTabStore;

    SchemaPanel *m_pSchemaPanel = nullptr;
    QTreeView *m_pSchemaTree = nullptr;
    QLineEdit *m_pSchemaFilter = nullptr;
    QAction *m_pRefreshSchemaAct = nullptr;
};
