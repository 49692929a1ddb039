#pragma once

#include "TabStateStore.h"

#include <QObject>
#include <QPair>
#include <QSet>

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
    // Whether the kept state on disk holds this text: what a failed save
    // would lose is the texts it does not.
    bool isKept(const QString &text) const;
    void setKept(const TabSession &session) { m_kept = fingerprints(session); }

signals:
    void saved(bool ok, const QString &error);

private:
    // Texts are remembered by size and hash, not held: a held copy would
    // make the next keystroke in a 50 MB tab copy all of it.
    using Fingerprints = QSet<QPair<qsizetype, size_t>>;
    static Fingerprints fingerprints(const TabSession &session);
    void startWrite(const TabSession &session);
    void collect();
    void finish(bool ok, Fingerprints kept);

    std::unique_ptr<TabStateStore> m_store;
    QThread *m_thread = nullptr;
    struct Written
    {
        bool ok = false;
        Fingerprints kept;
    };
    std::shared_ptr<Written> m_written;
    std::optional<TabSession> m_next;
    Fingerprints m_kept;
    QString m_error;
};
