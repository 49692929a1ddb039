#include "TabKeeper.h"

#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "TabStateSaver.h"
#include "TabStateStore.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

QString fileName(const QZTextEdit *page)
{
    return QFileInfo(page->filePath()).fileName();
}

} // namespace

TabKeeper::TabKeeper(QZEditTabWidget *tabs, const QString &directory, QObject *parent)
    : QObject(parent)
    , m_pTabs(tabs)
    , m_pSaveTimer(new QTimer(this))
{
    // Not restarted by each keystroke: the first unsaved change starts it.
    m_pSaveTimer->setSingleShot(true);
    m_pSaveTimer->setInterval(2000);
    connect(m_pSaveTimer, &QTimer::timeout, this, &TabKeeper::save);
    claim(directory);
}

TabKeeper::~TabKeeper() = default;

void TabKeeper::claim(const QString &directory)
{
    auto store = std::make_unique<TabStateStore>(directory);
    const int slot = store->claim();
    const QString name = QFileInfo(store->statePath()).fileName();
    m_pSaver = new TabStateSaver(std::move(store), this);
    QString note;
    if (slot == 0)
        note = QStringLiteral("このフォルダーの Velquin が多すぎるため、このウィンドウのタブは保存しません。");
    else if (slot > 1)
        note = QStringLiteral("このフォルダーは別の Velquin が使っています。このウィンドウのタブは "
                              "%1 に保存します。").arg(name);
    if (slot == 0) {
        delete m_pSaver;
        m_pSaver = nullptr;
    }
    if (!note.isEmpty())
        QTimer::singleShot(0, this, [this, note] { emit message(note); });
}

void TabKeeper::restore()
{
    TabSession session;
    const TabStateStore::Load result =
        m_pSaver ? m_pSaver->store().load(&session) : TabStateStore::Load::NoState;
    if (result == TabStateStore::Load::Restored) {
        m_pTabs->restore(session);
        m_pSaver->setKept(session);
    } else {
        m_pTabs->NewTab();
    }
    if (result == TabStateStore::Load::Unreadable) {
        const QString aside = QFileInfo(m_pSaver->store().setAsidePath()).fileName();
        // Posted once the status bar listens, after the window is built.
        QTimer::singleShot(0, this, [this, aside] {
            emit message(QStringLiteral("前回のタブを読み込めませんでした（%1 に残しました）。").arg(aside));
        });
    }
    QTimer::singleShot(0, this, &TabKeeper::askAboutFilesChangedWhileClosed);
    // What was just put back needs no save.
    connect(m_pTabs, &QZEditTabWidget::sessionChanged, m_pSaveTimer, [this] {
        if (!m_pSaveTimer->isActive())
            m_pSaveTimer->start();
    });
    if (m_pSaver) {
        connect(m_pSaver, &TabStateSaver::saved, this, [this](bool ok, const QString &error) {
            if (!ok)
                emit message(QStringLiteral("タブを保存できませんでした（%1）。").arg(error));
        });
    }
}

void TabKeeper::askAboutFilesChangedWhileClosed()
{
    for (QZTextEdit *page : m_pTabs->takeChangedWhileClosed()) {
        if (m_pTabs->indexOf(page) < 0)
            continue;
        m_pTabs->setCurrentWidget(page);
        if (!QFileInfo::exists(page->filePath())) {
            m_pTabs->keepOverDisk(page);
            emit message(QStringLiteral("「%1」はなくなっています。タブの内容はそのままです。").arg(fileName(page)));
            continue;
        }
        QMessageBox box(QMessageBox::Question, QStringLiteral("Velquin"),
                        QStringLiteral("「%1」は前回の終了後に他のプログラムで変更されています。"
                                       "どちらの内容を使いますか？").arg(fileName(page)), QMessageBox::NoButton, m_pTabs->window());
        box.setObjectName(QStringLiteral("FileChangedMessageBox"));
        box.setInformativeText(QStringLiteral("ファイルの内容を読み込んでも、元に戻す（Ctrl+Z）で"
                                              "タブに残っていた内容に戻せます。"));
        QPushButton *file = box.addButton(QStringLiteral("ファイルの内容"), QMessageBox::AcceptRole);
        QPushButton *kept = box.addButton(QStringLiteral("タブに残っていた内容"), QMessageBox::RejectRole);
        box.setDefaultButton(kept);
        box.setEscapeButton(kept);
        box.exec();
        QString error;
        if (box.clickedButton() == file && m_pTabs->reloadFromDisk(page, &error))
            emit message(QStringLiteral("「%1」をファイルから読み込みました。").arg(fileName(page)));
        else
            m_pTabs->keepOverDisk(page);
    }
}

void TabKeeper::save()
{
    m_pSaveTimer->stop();
    if (m_pSaver)
        m_pSaver->saveInBackground(m_pTabs->session());
}

bool TabKeeper::saveForClosing()
{
    m_pSaveTimer->stop();
    // Nothing typed goes without the user's word: a failed save asks.
    while (m_pSaver && !m_pSaver->saveNow(m_pTabs->session(true))) {
        const int answer = askAfterFailedSave(m_pSaver->errorString());
        if (answer == QMessageBox::DestructiveRole)
            return true;
        if (answer != QMessageBox::AcceptRole)
            return false;
    }
    return true;
}

int TabKeeper::askAfterFailedSave(const QString &error)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Velquin"),
                    QStringLiteral("タブを保存できませんでした（%1）。").arg(error), QMessageBox::NoButton,
                    m_pTabs->window());
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

QString TabKeeper::unsavedSinceLastSave() const
{
    QStringList lost;
    for (const TabState &tab : m_pTabs->session().tabs)
        if (!m_pSaver->isKept(tab.text))
            lost << tab.label;
    if (lost.isEmpty())
        return QStringLiteral("前回保存できた後のタブの並びやカーソルの位置が失われます。");
    return QStringLiteral("次のタブで前回保存できた後に入力した内容が失われます: %1")
        .arg(lost.join(QStringLiteral("、")));
}
