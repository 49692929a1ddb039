#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class QZEditTabWidget;
class TabStateStore;

// Keeps the editor tabs in the working directory: puts back what the last
// run left, and saves at most 2 s after the first unsaved change, so a
// crash loses at most the last 2 s of typing.
class TabKeeper : public QObject
{
    Q_OBJECT

public:
    TabKeeper(QZEditTabWidget *tabs, const QString &directory, QObject *parent = nullptr);
    ~TabKeeper() override;

    // Restores the kept tabs, or opens one empty tab.
    void restore();
    void save();

signals:
    void message(const QString &text);

private:
    QZEditTabWidget *m_pTabs;
    std::unique_ptr<TabStateStore> m_pStore;
    QTimer *m_pSaveTimer;
};
