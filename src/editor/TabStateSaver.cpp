#include "TabStateSaver.h"

#include <QThread>

TabStateSaver::TabStateSaver(std::unique_ptr<TabStateStore> store, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store))
{
}

TabStateSaver::~TabStateSaver()
{
    collect();
}

void TabStateSaver::saveInBackground(const TabSession &session)
{
    if (m_thread) {
        m_next = session;
        return;
    }
    startWrite(session);
}

void TabStateSaver::startWrite(const TabSession &session)
{
    m_writing = session;
    m_written = std::make_shared<bool>(false);
    // The texts are shared with the editors, not copied; the store is
    // touched by this one thread until collect().
    m_thread = QThread::create([store = m_store.get(), session, written = m_written] {
        *written = store->save(session);
    });
    m_thread->setObjectName(QStringLiteral("tab state"));
    connect(m_thread, &QThread::finished, this, [this, thread = m_thread] {
        if (m_thread != thread)
            return; // already collected by saveNow()
        collect();
        if (m_next)
            startWrite(*std::exchange(m_next, std::nullopt));
    });
    m_thread->start(QThread::LowPriority);
}

void TabStateSaver::collect()
{
    if (!m_thread)
        return;
    QThread *thread = std::exchange(m_thread, nullptr);
    thread->wait();
    thread->deleteLater();
    finish(*m_written, m_writing);
}

void TabStateSaver::finish(bool ok, const TabSession &session)
{
    m_error = ok ? QString() : m_store->errorString();
    if (ok)
        m_lastSaved = session;
    emit saved(ok, m_error);
}

bool TabStateSaver::saveNow(const TabSession &session)
{
    collect();
    m_next.reset();
    const bool ok = m_store->save(session);
    finish(ok, session);
    return ok;
}
