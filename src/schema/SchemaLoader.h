#pragma once

#include "ConnectionParams.h"
#include "SchemaSnapshot.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

class MetadataConnection;

// The window's side of the metadata connection: opens it after the user's
// connection, loads the names in the background and hands each snapshot
// over as it is ready, the table names first and the columns after them.
// Nothing here blocks the thread it lives on.
class SchemaLoader : public QObject
{
    Q_OBJECT

public:
    explicit SchemaLoader(QObject *parent = nullptr);
    ~SchemaLoader() override;

    void open(const ConnectionParams &params);
    // Loads again over the same connection (opened again if it was lost).
    // Requests made while a load is on its way fold into one more load.
    void refresh();
    void close();
    bool isOpen() const { return m_open; }
    // The server's id for the metadata connection, once it is open.
    unsigned long threadId() const { return m_threadId; }

signals:
    void loaded(std::shared_ptr<const SchemaSnapshot> snapshot);
    // The names could not be read; the text says why in the server's words.
    void failed(const QString &text);

private:
    struct Mailbox
    {
        std::mutex lock;
        SchemaLoader *target = nullptr;
        std::atomic<quint64> generation{ 0 }; // the newest load asked for
    };
    template<typename F>
    static void deliver(const std::shared_ptr<Mailbox> &mailbox, quint64 generation, F &&f);
    void postLoad();

    std::shared_ptr<Mailbox> m_mailbox;
    std::unique_ptr<MetadataConnection> m_connection;
    ConnectionParams m_params;
    std::shared_ptr<SchemaSnapshot> m_words; // used on the metadata thread only
    bool m_open = false;
    unsigned long m_threadId = 0;
};
