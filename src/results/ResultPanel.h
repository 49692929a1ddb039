#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

class QAbstractItemModel;
class QComboBox;
class QLabel;
class ResultGrid;
class ResultModel;

// The result area under the editor: the list of a run's results, the grid
// showing one of them, and the label that says how many rows it holds.
// Each editor tab keeps the results of its last run; the panel knows the
// tabs only as keys.
class ResultPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ResultPanel(QWidget *parent = nullptr);

    ResultGrid *grid() const { return m_pDataTable; }
    // "n 行 · s 秒" of the result shown; the window puts it in its status bar.
    QLabel *infoLabel() const { return m_pResultInfo; }

    // The results of a run go to the tab it was started from.
    void setRunPage(QObject *page) { m_runPage = page; }
    QObject *runPage() const { return m_runPage; }
    // A new run began: its first result replaces the tab's old ones.
    void runStarted();
    // Takes ownership. A result whose tab is gone is dropped.
    void addResult(ResultModel *model);
    // The run failed: what the tab shows is an older result.
    void runFailed();
    void showPage(QObject *page);
    // The tab is gone: its results go with it, a large result is memory.
    void dropPage(QObject *page);
    // The results a tab holds, and those of every tab.
    QList<ResultModel *> models(QObject *page) const;
    QList<ResultModel *> allModels() const;

private:
    struct TabResults
    {
        QList<QPointer<ResultModel>> models;
        int shown = -1;
        bool stale = false; // a new run began: replaced by its first result
        bool previous = false; // the last run failed: what shows is older
    };
    void showCurrent();
    void selectResult(int index);
    void updateInfo();

    QComboBox *m_pResultSelector;
    QLabel *m_pPreviousLabel;
    ResultGrid *m_pDataTable;
    QLabel *m_pResultInfo;
    QAbstractItemModel *m_pEmptyModel;
    QHash<QObject *, TabResults> m_tabResults;
    QObject *m_current = nullptr;
    QObject *m_runPage = nullptr;
};
