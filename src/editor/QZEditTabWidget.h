#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QTabWidget>

#include "SqlCompleter.h"
#include "TabStateStore.h"

class FindBar;
class QAction;
class QFileSystemWatcher;
class QTimer;
class QZTextEdit;

// The tab set above the result grid: every page is a QZTextEdit. Editing
// commands act on the current page only.
class QZEditTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit QZEditTabWidget(QWidget *parent = nullptr, const char *name = nullptr,
                             Qt::WindowFlags f = {});
    ~QZEditTabWidget() override;

    // The editor of the current tab, or null when the set holds no tab.
    QZTextEdit *currentPage() const;

    // What is kept between runs, and putting it back (into an empty set).
    // `reread`: every text read from its editor again, not kept in step.
    TabSession session(bool reread = false) const;
    void restore(const TabSession &session);
    // True while a large restored text is still being laid out.
    bool isLoading() const;

    enum class OpenResult { Opened, Failed, KeptEdits };
    // Opens the file in a tab of its own (the current one if it is an
    // untouched scratch tab, the file's tab if it is open already). A file
    // tab with unsaved edits is only shown (KeptEdits), unless `as` asks
    // to read it again in that encoding; the replacement can be undone.
    OpenResult openFile(const QString &path, QString *error,
                        const TextFileCodec::Encoding *as = nullptr);
    enum class SaveResult { Saved, Failed, DoesNotFit };
    // Writes the current page to path in the encoding and with the line
    // ends its file had (UTF-8 when asUtf8 or for a new text); on success
    // the page belongs to path. DoesNotFit: a character has no place in
    // that encoding, nothing was written.
    SaveResult saveCurrent(const QString &path, QString *error, bool asUtf8 = false);
    // Whether another program changed page's file since it was read or
    // saved (looks at the disk now).
    bool changedOnDisk(QZTextEdit *page);
    // Restored file tabs whose file changed while the program was closed.
    QList<QZTextEdit *> takeChangedWhileClosed() { return std::exchange(m_changedWhileClosed, {}); }
    // Puts the file's text in place of page's (one undoable edit).
    bool reloadFromDisk(QZTextEdit *page, QString *error);
    // Keeps page's text over a file that changed: it differs from the file now.
    void keepOverDisk(QZTextEdit *page);

    // Closed pages kept for ReopenTab(), newest last.
    int closedCount() const { return int(m_closed.size()); }
    static constexpr int MaxClosed = 20;

    // Every page, present and future, completes names from this provider.
    void setCompletionProvider(SqlCompleter::Provider provider);

    FindBar *findBar() const { return m_pFindBar; }
    void showFindBar(bool withReplace);

signals:
    // Anything session() reports has changed.
    void sessionChanged();
    // A page began or ended being laid out: edit commands follow the current one.
    void loadingChanged();
    void loadingFinished();
    // Another program changed (or removed) the file of an open tab.
    void fileChangedOnDisk(QZTextEdit *page);
    // A page left the set (it may come back through ReopenTab()).
    void pageClosed(QZTextEdit *page);

public slots:
    void NewTab(const QString &);
    void NewTab();
    void CloseTab();
    void Undo();
    void Redo();
    void Copy();
    void Cut();
    void Paste();
    void Clear();
    void RecSQL();
    void PastSQL();
    void ReopenTab();

protected:
    void resizeEvent(QResizeEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    QZTextEdit *addPage(const QString &label, int index = -1);
    void updateLabel(QZTextEdit *page);
    void placeFindBar();
    void loadNextSlice();
    void startLoading();
    void finishLoadingNow(QZTextEdit *page);
    void watchFiles();
    void fileTouched(const QString &path);
    QZTextEdit *editablePage() const;
    // The current page marks the statement under its cursor.
    void markCurrentStatement();

    struct ClosedTab
    {
        QPointer<QZTextEdit> page;
        int index;
        QString label;
    };

    QString m_strSQL;
    QList<ClosedTab> m_closed;
    FindBar *m_pFindBar = nullptr;
    QTimer *m_pLoadTimer = nullptr;
    QAction *m_pEscapeAct = nullptr;
    SqlCompleter::Provider m_completionProvider;
    QFileSystemWatcher *m_pWatcher = nullptr;
    QList<QZTextEdit *> m_changedWhileClosed;
};
