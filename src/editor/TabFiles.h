#pragma once

#include <QObject>
#include <QString>

class QZEditTabWidget;

// Open and Save for the tab set: the file dialogs, the question before
// overwriting a file read with a guessed encoding, and the status texts.
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

signals:
    void message(const QString &text);

private:
    QZEditTabWidget *m_pTabs;
};
