#include "TabKeeper.h"

#include "QZEditTabWidget.h"
#include "TabStateStore.h"

#include <QFileInfo>
#include <QTimer>

TabKeeper::TabKeeper(QZEditTabWidget *tabs, const QString &directory, QObject *parent)
    : QObject(parent)
    , m_pTabs(tabs)
    , m_pStore(std::make_unique<TabStateStore>(directory))
    , m_pSaveTimer(new QTimer(this))
{
    // Not restarted by each keystroke: the first unsaved change starts it.
    m_pSaveTimer->setSingleShot(true);
    m_pSaveTimer->setInterval(2000);
    connect(m_pSaveTimer, &QTimer::timeout, this, &TabKeeper::save);
}

TabKeeper::~TabKeeper() = default;

void TabKeeper::restore()
{
    TabSession session;
    const TabStateStore::Load result = m_pStore->load(&session);
    if (result == TabStateStore::Load::Restored)
        m_pTabs->restore(session);
    else
        m_pTabs->NewTab();
    if (result == TabStateStore::Load::Unreadable) {
        const QString aside = QFileInfo(m_pStore->setAsidePath()).fileName();
        // Posted once the status bar listens, after the window is built.
        QTimer::singleShot(0, this, [this, aside] {
            emit message(QStringLiteral("前回のタブを読み込めませんでした（%1 に残しました）。").arg(aside));
        });
    }
    // What was just put back needs no save.
    connect(m_pTabs, &QZEditTabWidget::sessionChanged, m_pSaveTimer, [this] {
        if (!m_pSaveTimer->isActive())
            m_pSaveTimer->start();
    });
}

void TabKeeper::save()
{
    m_pSaveTimer->stop();
    if (!m_pStore->save(m_pTabs->session()))
        emit message(QStringLiteral("タブを保存できませんでした（%1）。").arg(m_pStore->errorString()));
}
