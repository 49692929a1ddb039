#pragma once

#include <QObject>
#include <QString>

class QTimer;
class QZEditTabWidget;
class TabStateSaver;

// Keeps the editor tabs in the working directory: puts back what the last
// run left, and saves at most 2 s after the first unsaved change, so a
// crash loses at most the last 2 s of typing. The saves run in the
// background; closing saves here and asks when that fails.
class TabKeeper : public QObject
{
    Q_OBJECT

public:
    TabKeeper(QZEditTabWidget *tabs, const QString &directory, QObject *parent = nullptr);
    ~TabKeeper() override;

    // Restores the kept tabs, or opens one empty tab.
    void restore();
    void save();
    // The last save before the window closes. After a failure the user
    // chooses: try again, close without it, or stay (false).
    bool saveForClosing();

signals:
    void message(const QString &text);

private:
    void claim(const QString &directory);
    void askAboutFilesChangedWhileClosed();
    int askAfterFailedSave(const QString &error);
    QString unsavedSinceLastSave() const;

    QZEditTabWidget *m_pTabs;
    TabStateSaver *m_pSaver = nullptr;
    QTimer *m_pSaveTimer;
};
