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

TabStateSaver::Fingerprints TabStateSaver::fingerprints(const TabSession &session)
{
    Fingerprints out;
    for (const TabState &tab : session.tabs)
        out.insert({ tab.text.size(), qHash(tab.text) });
    return out;
}

bool TabStateSaver::isKept(const QString &text) const
{
    return m_kept.contains({ text.size(), qHash(text) });
}

void TabStateSaver::startWrite(const TabSession &session)
{
    m_written = std::make_shared<Written>();
    // The texts are shared with the editors, not copied; the store is
    // touched by this one thread until collect().
    m_thread = QThread::create([store = m_store.get(), session, written = m_written] {
        written->ok = store->save(session);
        if (written->ok)
            written->kept = fingerprints(session);
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
    const std::shared_ptr<Written> written = std::exchange(m_written, nullptr);
    finish(written->ok, std::move(written->kept));
}

void TabStateSaver::finish(bool ok, Fingerprints kept)
{
    m_error = ok ? QString() : m_store->errorString();
    if (ok)
        m_kept = std::move(kept);
    emit saved(ok, m_error);
}

bool TabStateSaver::saveNow(const TabSession &session)
{
    collect();
    m_next.reset();
    const bool ok = m_store->save(session);
    finish(ok, ok ? fingerprints(session) : Fingerprints());
    return ok;
}
