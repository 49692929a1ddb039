#include "TabFiles.h"

#include "QZEditTabWidget.h"
#include "QZTextEdit.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

TabFiles::TabFiles(QZEditTabWidget *tabs, QObject *parent)
    : QObject(parent)
    , m_pTabs(tabs)
{
}

void TabFiles::open()
{
    const QString path = QFileDialog::getOpenFileName(
        m_pTabs, QStringLiteral("開く"), QString(),
        QStringLiteral("SQL (*.sql);;テキスト (*.txt);;すべてのファイル (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void TabFiles::save()
{
    QZTextEdit *page = m_pTabs->currentPage();
    if (!page)
        return;
    if (page->filePath().isEmpty())
        saveAs();
    else
        saveCurrentTo(page->filePath());
}

void TabFiles::saveAs()
{
    QZTextEdit *page = m_pTabs->currentPage();
    if (!page)
        return;
    const QString path = QFileDialog::getSaveFileName(
        m_pTabs, QStringLiteral("名前を付けて保存"), page->filePath(),
        QStringLiteral("SQL (*.sql);;すべてのファイル (*)"));
    if (!path.isEmpty())
        saveCurrentTo(path);
}

void TabFiles::openFile(const QString &path)
{
    QString error;
    switch (m_pTabs->openFile(path, &error)) {
    case QZEditTabWidget::OpenResult::Opened:
        emit message(QStringLiteral("開けました。"));
        break;
    case QZEditTabWidget::OpenResult::OpenedGuessing:
        emit message(QStringLiteral("文字コードを判別できないため UTF-8 として開きました。"
                                    "保存すると内容が変わることがあります。"));
        break;
    case QZEditTabWidget::OpenResult::Failed:
        emit message(QStringLiteral("開けませんでした（%1）。").arg(error));
        break;
    }
}

void TabFiles::saveCurrentTo(const QString &path)
{
    QZTextEdit *page = m_pTabs->currentPage();
    if (!page)
        return;
    if (page->encodingGuessed() && QFileInfo(path).absoluteFilePath() == page->filePath()) {
        const auto answer = QMessageBox::question(
            m_pTabs, QStringLiteral("Velquin"),
            QStringLiteral("このファイルは文字コードを判別できないまま開いています。"
                           "上書きすると元の内容が失われることがあります。保存しますか？"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            emit message(QStringLiteral("保存しませんでした。"));
            return;
        }
    }
    QString error;
    if (m_pTabs->saveCurrent(path, &error))
        emit message(QStringLiteral("保存しました。"));
    else
        emit message(QStringLiteral("保存できませんでした（%1）。元のファイルはそのままです。").arg(error));
}
