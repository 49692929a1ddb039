#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QTabWidget>

#include "TabStateStore.h"

class FindBar;
class QAction;
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
    TabSession session() const;
    void restore(const TabSession &session);
    // True while a large restored text is still being laid out.
    bool isLoading() const;

    enum class OpenResult { Opened, OpenedGuessing, Failed };
    // Opens the file in a tab of its own (the current one if it is an
    // untouched scratch tab, the file's tab if it is open already).
    OpenResult openFile(const QString &path, QString *error);
    // Writes the current page to path; on success the page belongs to path.
    bool saveCurrent(const QString &path, QString *error);

    // Closed pages kept for ReopenTab(), newest last.
    int closedCount() const { return int(m_closed.size()); }
    static constexpr int MaxClosed = 20;

    FindBar *findBar() const { return m_pFindBar; }
    void showFindBar(bool withReplace);

signals:
    // Anything session() reports has changed.
    void sessionChanged();
    void loadingFinished();
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
};
