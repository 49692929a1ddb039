#pragma once

#include "TabStateStore.h"

#include <QObject>

#include <memory>
#include <optional>

class QThread;

// Writes the kept tabs off the window's thread, so that a save with a large
// tab never holds up typing. One write at a time; a session handed over
// while one is written waits, and only the newest is written.
class TabStateSaver : public QObject
{
    Q_OBJECT

public:
    TabStateSaver(std::unique_ptr<TabStateStore> store, QObject *parent = nullptr);
    ~TabStateSaver() override;

    TabStateStore &store() const { return *m_store; }
    void saveInBackground(const TabSession &session);
    // Waits for a write on its way, then writes session before returning.
    bool saveNow(const TabSession &session);
    QString errorString() const { return m_error; }
    // What the kept state holds now: what a failed save would lose is the
    // difference to this.
    const TabSession &lastSaved() const { return m_lastSaved; }
    void setLastSaved(const TabSession &session) { m_lastSaved = session; }

signals:
    void saved(bool ok, const QString &error);

private:
    void startWrite(const TabSession &session);
    void collect();
    void finish(bool ok, const TabSession &session);

    std::unique_ptr<TabStateStore> m_store;
    QThread *m_thread = nullptr;
    TabSession m_writing;
    std::shared_ptr<bool> m_written;
    std::optional<TabSession> m_next;
    TabSession m_lastSaved;
    QString m_error;
};
