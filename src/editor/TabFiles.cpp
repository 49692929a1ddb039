#include "TabFiles.h"

#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "TextFileCodec.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

namespace {

QString fileName(const QZTextEdit *page)
{
    return QFileInfo(page->filePath()).fileName();
}

} // namespace

TabFiles::TabFiles(QZEditTabWidget *tabs, QObject *parent)
    : QObject(parent)
    , m_pTabs(tabs)
{
    connect(m_pTabs, &QZEditTabWidget::fileChangedOnDisk, this, [this](QZTextEdit *page) {
        emit message(QStringLiteral("「%1」が他のプログラムで変更されました。保存する前に確認します。")
                         .arg(fileName(page)));
    });
}

QMenu *TabFiles::reopenMenu(QWidget *parent)
{
    auto *menu = new QMenu(QStringLiteral("文字コードを指定して開き直す"), parent);
    menu->setObjectName(QStringLiteral("m_pReopenEncodingMenu"));
    for (TextFileCodec::Encoding encoding : TextFileCodec::choosable()) {
        QAction *action = menu->addAction(TextFileCodec::encodingName(encoding));
        connect(action, &QAction::triggered, this, [this, encoding] { reopenInEncoding(int(encoding)); });
    }
    // Only for a file tab that takes edits.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        QZTextEdit *page = m_pTabs->currentPage();
        for (QAction *action : menu->actions())
            action->setEnabled(page && !page->isLoading() && !page->filePath().isEmpty());
    });
    return menu;
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
        announceOpened(m_pTabs->currentPage());
        break;
    case QZEditTabWidget::OpenResult::KeptEdits:
        emit message(QStringLiteral("このファイルは編集中のタブで開いています。"));
        break;
    case QZEditTabWidget::OpenResult::Failed:
        emit message(QStringLiteral("開けませんでした（%1）。").arg(error));
        break;
    }
}

void TabFiles::announceOpened(QZTextEdit *page)
{
    const TextFileCodec::Origin &origin = page->origin();
    const QString name = TextFileCodec::encodingName(origin.encoding);
    if (!origin.lossless)
        emit message(QStringLiteral("%1 として開きましたが、元のバイト列に戻せない部分があります。"
                                    "上書きする前に確認します。違う文字コードなら ファイル → "
                                    "文字コードを指定して開き直す で選んで下さい。").arg(name));
    else if (!origin.sure)
        emit message(QStringLiteral("%1 として開きました（文字コードは推測です）。違う場合は ファイル → "
                                    "文字コードを指定して開き直す で選んで下さい。").arg(name));
    else
        emit message(QStringLiteral("開けました。"));
}

void TabFiles::reopenInEncoding(int encoding)
{
    QZTextEdit *page = m_pTabs->currentPage();
    if (!page || page->filePath().isEmpty())
        return;
    if (page->isTextModified()) {
        const auto answer = QMessageBox::question(
            m_pTabs, QStringLiteral("Velquin"),
            QStringLiteral("保存していない変更があります。ファイルを読み直すと、変更は元に戻す"
                           "（Ctrl+Z）でだけ戻せます。読み直しますか？"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    const auto chosen = TextFileCodec::Encoding(encoding);
    QString error;
    if (m_pTabs->openFile(page->filePath(), &error, &chosen) == QZEditTabWidget::OpenResult::Failed)
        emit message(QStringLiteral("開けませんでした（%1）。").arg(error));
    else if (!m_pTabs->currentPage()->origin().lossless)
        announceOpened(m_pTabs->currentPage());
    else
        emit message(QStringLiteral("%1 として開き直しました。").arg(TextFileCodec::encodingName(chosen)));
}

bool TabFiles::mayOverwrite(QZTextEdit *page, const QString &path)
{
    if (QFileInfo(path).absoluteFilePath() != page->filePath())
        return true;
    QString question;
    if (m_pTabs->changedOnDisk(page))
        question = QStringLiteral("「%1」は開いた後に他のプログラムで変更されています。"
                                  "上書きすると、その変更は失われます。上書きしますか？")
                       .arg(fileName(page));
    else if (!page->origin().lossless)
        question = QStringLiteral("このファイルには %1 として読めないバイトがありました。"
                                  "上書きすると元の内容が失われます。保存しますか？")
                       .arg(TextFileCodec::encodingName(page->origin().encoding));
    if (question.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Velquin"), question,
                    QMessageBox::Yes | QMessageBox::No, m_pTabs);
    box.setObjectName(QStringLiteral("ConfirmOverwriteMessageBox"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TabFiles::saveCurrentTo(const QString &path)
{
    QZTextEdit *page = m_pTabs->currentPage();
    if (!page)
        return;
    if (!mayOverwrite(page, path)) {
        emit message(QStringLiteral("保存しませんでした。"));
        return;
    }
    QString error;
    auto result = m_pTabs->saveCurrent(path, &error);
    if (result == QZEditTabWidget::SaveResult::DoesNotFit) {
        const auto answer = QMessageBox::question(
            m_pTabs, QStringLiteral("Velquin"),
            QStringLiteral("%1 では書けない文字があります。UTF-8 で保存しますか？")
                .arg(TextFileCodec::encodingName(page->origin().encoding)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            emit message(QStringLiteral("保存しませんでした。"));
            return;
        }
        result = m_pTabs->saveCurrent(path, &error, true);
    }
    if (result == QZEditTabWidget::SaveResult::Saved)
        emit message(QStringLiteral("保存しました。"));
    else
        emit message(QStringLiteral("保存できませんでした（%1）。元のファイルはそのままです。").arg(error));
}
