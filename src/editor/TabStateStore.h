#pragma once

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

#include "TextFileCodec.h"

class QLockFile;

// One editor tab as it is kept between runs.
struct TabState
{
    QString text;
    QString label;
    int cursor = 0;
    QString filePath;
    bool modified = false;   // unsaved changes to filePath
    TextFileCodec::Origin origin; // of filePath
};

struct TabSession
{
    QList<TabState> tabs;
    int current = 0;
};

// Keeps the editor tabs in the working directory so that quitting, a crash
// or a power cut never costs the user their SQL. The state is one JSON file
// replaced atomically; large texts live in files of their own, named by
// their content, so the JSON stays quick to parse and an unchanged large
// text is never written again.
class TabStateStore
{
public:
    enum class Load { NoState, Restored, Unreadable };

    // Texts above this many UTF-8 bytes get a file of their own.
    static constexpr qsizetype InlineLimit = 1 << 20;

    explicit TabStateStore(const QString &directory);
    ~TabStateStore();

    // Takes the first state of the directory no other running window owns:
    // "tabs.json", else "tabs-2.json" and so on. Two windows started in one
    // directory each keep their own tabs instead of writing over each
    // other's. Returns the slot taken (1 for the usual one), or 0 when none
    // could be locked.
    int claim();
    int slot() const { return m_slot; }

    QString statePath() const;
    // Where load() put a state it could not read, so nothing is lost.
    QString setAsidePath() const { return m_setAside; }
    QString errorString() const { return m_error; }

    Load load(TabSession *session);
    bool save(const TabSession &session);

private:
    bool readSession(const QByteArray &json, TabSession *session, QSet<QString> *files) const;
    bool writeTextFile(const QString &name, const QByteArray &bytes);
    void setAside();
    QString textDir() const;
    void removeUnreferenced(const QSet<QString> &stillReferenced);

    QDir m_dir;
    QString m_setAside;
    QString m_error;
    int m_slot = 1;
    std::unique_ptr<QLockFile> m_lock;
    // Side files this store read or wrote: only these may be removed when no
    // longer referenced, never a file another window or an unreadable state
    // set aside may still name.
    QSet<QString> m_known;
};
