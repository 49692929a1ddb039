#pragma once

#include <QObject>
#include <QString>

class QMenu;
class QWidget;
class QZEditTabWidget;
class QZTextEdit;

// Open and Save for the tab set: the file dialogs, the questions before a
// file is written over (changed by another program, bytes that did not
// read cleanly, characters its encoding cannot hold), reading a file again
// in another encoding, and the status texts.
class TabFiles : public QObject
{
    Q_OBJECT

public:
    explicit TabFiles(QZEditTabWidget *tabs, QObject *parent = nullptr);

    void open();
    void save();
    void saveAs();
    void openFile(const QString &path);
    void saveCurrentTo(const QString &path);
    // ファイル → 文字コードを指定して開き直す; the caller places it.
    QMenu *reopenMenu(QWidget *parent);

signals:
    void message(const QString &text);

private:
    void announceOpened(QZTextEdit *page);
    void reopenInEncoding(int encoding);
    bool mayOverwrite(QZTextEdit *page, const QString &path);

    QZEditTabWidget *m_pTabs;
};
