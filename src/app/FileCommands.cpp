// Tabs and files: the editor's text outlives the window and the process, and
// a file is never written over without the user knowing what it replaces.

#include "QZQuorvinWindow.h"

#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "TabStateSaver.h"
#include "TabStateStore.h"
#include "TextFileCodec.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

QString fileName(const QZTextEdit *page)
{
    return QFileInfo(page->filePath()).fileName();
}

} // namespace

void QZQuorvinWindow::connectFileActions()
{
    connect(m_pOpenAct, &QAction::triggered, this, &QZQuorvinWindow::Open);
    connect(m_pSaveAct, &QAction::triggered, this, &QZQuorvinWindow::Save);
    connect(m_pSaveAsAct, &QAction::triggered, this, &QZQuorvinWindow::SaveAs);
    connect(m_pReopenTabAct, &QAction::triggered, m_pTabWidget, &QZEditTabWidget::ReopenTab);

    m_pReopenEncodingMenu = new QMenu(QStringLiteral("文字コードを指定して開き直す"), this);
    m_pReopenEncodingMenu->setObjectName(QStringLiteral("m_pReopenEncodingMenu"));
    for (TextFileCodec::Encoding encoding : TextFileCodec::choosable()) {
        QAction *action = m_pReopenEncodingMenu->addAction(TextFileCodec::encodingName(encoding));
        connect(action, &QAction::triggered, this, [this, encoding] { reopenInEncoding(int(encoding)); });
    }
    if (auto *fileMenu = findChild<QMenu *>(QStringLiteral("File Popup Menu")))
        fileMenu->insertMenu(m_pSaveAct, m_pReopenEncodingMenu);
    connect(m_pTabWidget, &QTabWidget::currentChanged, this, &QZQuorvinWindow::updateEditActions);
    connect(m_pTabWidget, &QZEditTabWidget::loadingChanged, this, &QZQuorvinWindow::updateEditActions);
    connect(m_pTabWidget, &QZEditTabWidget::loadingFinished, this, &QZQuorvinWindow::updateEditActions);
    connect(m_pTabWidget, &QZEditTabWidget::fileChangedOnDisk, this, [this](QZTextEdit *page) {
        emit message(QStringLiteral("「%1」が他のプログラムで変更されました。保存する前に確認します。")
                         .arg(fileName(page)));
    });
}

void QZQuorvinWindow::updateEditActions()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    const bool editable = page && !page->isLoading();
    for (QAction *action : { m_pUndoAct, m_pRedoAct, m_pCutAct, m_pPasteAct, m_pClearAct })
        action->setEnabled(editable);
    m_pReopenEncodingMenu->setEnabled(editable && !page->filePath().isEmpty());
}

void QZQuorvinWindow::Open()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("開く"), QString(),
        QStringLiteral("SQL (*.sql);;テキスト (*.txt);;すべてのファイル (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void QZQuorvinWindow::Save()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    if (page->filePath().isEmpty())
        SaveAs();
    else
        saveCurrentTo(page->filePath());
}

void QZQuorvinWindow::SaveAs()
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("名前を付けて保存"), page->filePath(),
        QStringLiteral("SQL (*.sql);;すべてのファイル (*)"));
    if (!path.isEmpty())
        saveCurrentTo(path);
}

void QZQuorvinWindow::openFile(const QString &path)
{
    QString error;
    switch (m_pTabWidget->openFile(path, &error)) {
    case QZEditTabWidget::OpenResult::Opened:
        announceOpened(m_pTabWidget->currentPage());
        break;
    case QZEditTabWidget::OpenResult::KeptEdits:
        emit message(QStringLiteral("このファイルは編集中のタブで開いています。"));
        break;
    case QZEditTabWidget::OpenResult::Failed:
        emit message(QStringLiteral("開けませんでした（%1）。").arg(error));
        break;
    }
    updateEditActions();
}

void QZQuorvinWindow::announceOpened(QZTextEdit *page)
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

void QZQuorvinWindow::reopenInEncoding(int encoding)
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page || page->filePath().isEmpty())
        return;
    if (page->document()->isModified()) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Velquin"),
            QStringLiteral("保存していない変更があります。ファイルを読み直すと、変更は元に戻す"
                           "（Ctrl+Z）でだけ戻せます。読み直しますか？"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    const auto chosen = TextFileCodec::Encoding(encoding);
    QString error;
    if (m_pTabWidget->openFile(page->filePath(), &error, &chosen) == QZEditTabWidget::OpenResult::Failed)
        emit message(QStringLiteral("開けませんでした（%1）。").arg(error));
    else if (!m_pTabWidget->currentPage()->origin().lossless)
        announceOpened(m_pTabWidget->currentPage());
    else
        emit message(QStringLiteral("%1 として開き直しました。").arg(TextFileCodec::encodingName(chosen)));
}

bool QZQuorvinWindow::mayOverwrite(QZTextEdit *page, const QString &path)
{
    if (QFileInfo(path).absoluteFilePath() != page->filePath())
        return true;
    QString question;
    if (m_pTabWidget->changedOnDisk(page))
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
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("ConfirmOverwriteMessageBox"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QZQuorvinWindow::saveCurrentTo(const QString &path)
{
    QZTextEdit *page = m_pTabWidget->currentPage();
    if (!page)
        return;
    if (!mayOverwrite(page, path)) {
        emit message(QStringLiteral("保存しませんでした。"));
        return;
    }
    QString error;
    auto result = m_pTabWidget->saveCurrent(path, &error);
    if (result == QZEditTabWidget::SaveResult::DoesNotFit) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Velquin"),
            QStringLiteral("%1 では書けない文字があります。UTF-8 で保存しますか？")
                .arg(TextFileCodec::encodingName(page->origin().encoding)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            emit message(QStringLiteral("保存しませんでした。"));
            return;
        }
        result = m_pTabWidget->saveCurrent(path, &error, true);
    }
    if (result == QZEditTabWidget::SaveResult::Saved)
        emit message(QStringLiteral("保存しました。"));
    else
        emit message(QStringLiteral("保存できませんでした（%1）。元のファイルはそのままです。").arg(error));
}

void QZQuorvinWindow::claimTabState()
{
    auto store = std::make_unique<TabStateStore>(QDir::currentPath());
    const int slot = store->claim();
    const QString name = QFileInfo(store->statePath()).fileName();
    m_pTabSaver = new TabStateSaver(std::move(store), this);
    QString note;
    if (slot == 0)
        note = QStringLiteral("このフォルダーの Velquin が多すぎるため、このウィンドウのタブは保存しません。");
    else if (slot > 1)
        note = QStringLiteral("このフォルダーは別の Velquin が使っています。このウィンドウのタブは "
                              "%1 に保存します。").arg(name);
    if (slot == 0) {
        delete m_pTabSaver;
        m_pTabSaver = nullptr;
    }
    if (!note.isEmpty())
        QTimer::singleShot(0, this, [this, note] { emit message(note); });
}

void QZQuorvinWindow::restoreTabs()
{
    claimTabState();
    TabSession session;
    const TabStateStore::Load result =
        m_pTabSaver ? m_pTabSaver->store().load(&session) : TabStateStore::Load::NoState;
    if (result == TabStateStore::Load::Restored) {
        m_pTabWidget->restore(session);
        m_pTabSaver->setKept(session);
    } else {
        m_pTabWidget->NewTab();
    }
    if (result == TabStateStore::Load::Unreadable) {
        const QString aside = QFileInfo(m_pTabSaver->store().setAsidePath()).fileName();
        // Posted once the status bar listens, after InitWindow() returns.
        QTimer::singleShot(0, this, [this, aside] {
            emit message(QStringLiteral("前回のタブを読み込めませんでした（%1 に残しました）。").arg(aside));
        });
    }
    QTimer::singleShot(0, this, &QZQuorvinWindow::askAboutFilesChangedWhileClosed);

    // Not restarted by each keystroke: a save follows at most 2 s after the
    // first unsaved change, so a crash loses at most the last 2 s of typing.
    m_pTabSaveTimer = new QTimer(this);
    m_pTabSaveTimer->setSingleShot(true);
    m_pTabSaveTimer->setInterval(2000);
    connect(m_pTabSaveTimer, &QTimer::timeout, this, &QZQuorvinWindow::saveTabs);
    connect(m_pTabWidget, &QZEditTabWidget::sessionChanged, m_pTabSaveTimer, [this] {
        if (!m_pTabSaveTimer->isActive())
            m_pTabSaveTimer->start();
    });
    if (m_pTabSaver) {
        connect(m_pTabSaver, &TabStateSaver::saved, this, [this](bool ok, const QString &error) {
            if (!ok)
                emit message(QStringLiteral("タブを保存できませんでした（%1）。").arg(error));
        });
    }

    // A statement must never run from a text that is only partly in the editor.
    connect(m_pTabWidget, &QZEditTabWidget::loadingFinished, this,
            &QZQuorvinWindow::updateRunActions);
    updateRunActions();
    updateEditActions();
}

void QZQuorvinWindow::askAboutFilesChangedWhileClosed()
{
    for (QZTextEdit *page : m_pTabWidget->takeChangedWhileClosed()) {
        if (m_pTabWidget->indexOf(page) < 0)
            continue;
        m_pTabWidget->setCurrentWidget(page);
        if (!QFileInfo::exists(page->filePath())) {
            m_pTabWidget->keepOverDisk(page);
            emit message(QStringLiteral("「%1」はなくなっています。タブの内容はそのままです。").arg(fileName(page)));
            continue;
        }
        QMessageBox box(QMessageBox::Question, QStringLiteral("Velquin"),
                        QStringLiteral("「%1」は前回の終了後に他のプログラムで変更されています。"
                                       "どちらの内容を使いますか？").arg(fileName(page)), QMessageBox::NoButton, this);
        box.setObjectName(QStringLiteral("FileChangedMessageBox"));
        box.setInformativeText(QStringLiteral("ファイルの内容を読み込んでも、元に戻す（Ctrl+Z）で"
                                              "タブに残っていた内容に戻せます。"));
        QPushButton *file = box.addButton(QStringLiteral("ファイルの内容"), QMessageBox::AcceptRole);
        QPushButton *kept = box.addButton(QStringLiteral("タブに残っていた内容"), QMessageBox::RejectRole);
        box.setDefaultButton(kept);
        box.setEscapeButton(kept);
        box.exec();
        QString error;
        if (box.clickedButton() == file && m_pTabWidget->reloadFromDisk(page, &error))
            emit message(QStringLiteral("「%1」をファイルから読み込みました。").arg(fileName(page)));
        else
            m_pTabWidget->keepOverDisk(page);
    }
}

void QZQuorvinWindow::saveTabs()
{
    m_pTabSaveTimer->stop();
    if (m_pTabSaver)
        m_pTabSaver->saveInBackground(m_pTabWidget->session());
}

void QZQuorvinWindow::closeEvent(QCloseEvent *e)
{
    m_pTabSaveTimer->stop();
    // Nothing typed goes without the user's word: a failed save asks.
    while (m_pTabSaver && !m_pTabSaver->saveNow(m_pTabWidget->session(true))) {
        const int answer = askAfterFailedSave(m_pTabSaver->errorString());
        if (answer == QMessageBox::DestructiveRole)
            break;
        if (answer != QMessageBox::AcceptRole) {
            e->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(e);
}

int QZQuorvinWindow::askAfterFailedSave(const QString &error)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Velquin"),
                    QStringLiteral("タブを保存できませんでした（%1）。").arg(error), QMessageBox::NoButton,
                    this);
    box.setObjectName(QStringLiteral("TabSaveFailedMessageBox"));
    box.setInformativeText(QStringLiteral("保存せずに閉じると、%1").arg(unsavedSinceLastSave()));
    QPushButton *retry = box.addButton(QStringLiteral("もう一度試す"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("保存せずに閉じる"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(retry);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == discard)
        return QMessageBox::DestructiveRole;
    return box.clickedButton() == retry ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
}

QString QZQuorvinWindow::unsavedSinceLastSave() const
{
    QStringList lost;
    for (const TabState &tab : m_pTabWidget->session().tabs)
        if (!m_pTabSaver->isKept(tab.text))
            lost << tab.label;
    if (lost.isEmpty())
        return QStringLiteral("前回保存できた後のタブの並びやカーソルの位置が失われます。");
    return QStringLiteral("次のタブで前回保存できた後に入力した内容が失われます: %1")
        .arg(lost.join(QStringLiteral("、")));
}
