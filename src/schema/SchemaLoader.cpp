#include "SchemaLoader.h"

#include "MetadataConnection.h"
#include "SchemaReader.h"

namespace {

constexpr int OpenTimeoutSeconds = 10;

QString failureText(const DbError &error)
{
    return QStringLiteral("スキーマを読み込めませんでした: ") + error.text();
}

// Reads one full snapshot; on a lost connection opens it once more and
// starts over, since a refresh is often the first thing after a kill.
DbError readSnapshot(MetadataConnection::Session &session, SchemaSnapshot &snapshot,
                     const std::function<void(const SchemaSnapshot &)> &namesRead)
{
    SchemaReader reader(session);
    DbError error = reader.readNames(snapshot);
    if (error.isSet() && MetadataConnection::isLostConnection(error)) {
        error = session.open(session.params(), OpenTimeoutSeconds);
        if (!error.isSet())
            error = reader.readNames(snapshot);
    }
    if (error.isSet())
        return error;
    namesRead(snapshot);
    return reader.readColumns(snapshot);
}

} // namespace

SchemaLoader::SchemaLoader(QObject *parent)
    : QObject(parent)
    , m_mailbox(std::make_shared<Mailbox>())
{
    m_mailbox->target = this;
}

SchemaLoader::~SchemaLoader()
{
    {
        std::lock_guard<std::mutex> lock(m_mailbox->lock);
        m_mailbox->target = nullptr;
    }
}

template<typename F>
void SchemaLoader::deliver(const std::shared_ptr<Mailbox> &mailbox, quint64 generation, F &&f)
{
    std::lock_guard<std::mutex> lock(mailbox->lock);
    if (!mailbox->target || mailbox->generation != generation)
        return;
    SchemaLoader *target = mailbox->target;
    QMetaObject::invokeMethod(target, [mailbox, generation, target, f = std::forward<F>(f)] {
        if (mailbox->generation == generation)
            f(target);
    });
}

void SchemaLoader::open(const ConnectionParams &params)
{
    close();
    m_params = params;
    m_open = true;
    m_connection = std::make_unique<MetadataConnection>();
    m_words = std::make_shared<SchemaSnapshot>();
    postLoad();
}

void SchemaLoader::refresh()
{
    if (m_open)
        postLoad();
}

void SchemaLoader::postLoad()
{
    const quint64 generation = ++m_mailbox->generation;
    std::shared_ptr<Mailbox> mailbox = m_mailbox;
    std::shared_ptr<SchemaSnapshot> words = m_words;
    const ConnectionParams params = m_params;
    m_connection->post([mailbox, generation, words, params](MetadataConnection::Session &session) {
        // A newer load is queued behind this one: it alone is worth reading.
        if (mailbox->generation != generation)
            return;
        DbError error;
        if (!session.isOpen())
            error = session.open(params, OpenTimeoutSeconds);
        // The words do not change while the server runs: read once per connection.
        if (!error.isSet() && words->keywords.isEmpty())
            SchemaReader(session).readWords(*words);
        auto snapshot = std::make_shared<SchemaSnapshot>();
        snapshot->database = params.database;
        snapshot->keywords = words->keywords;
        snapshot->functions = words->functions;
        const auto send = [&](const SchemaSnapshot &s) {
            auto copy = std::make_shared<const SchemaSnapshot>(s);
            deliver(mailbox, generation, [copy](SchemaLoader *loader) { emit loader->loaded(copy); });
        };
        if (!error.isSet())
            error = readSnapshot(session, *snapshot, send);
        const unsigned long id = session.threadId();
        deliver(mailbox, generation, [error, id, snapshot](SchemaLoader *loader) {
            loader->m_threadId = id;
            if (error.isSet())
                emit loader->failed(failureText(error));
            else
                emit loader->loaded(snapshot);
        });
    });
}

void SchemaLoader::close()
{
    ++m_mailbox->generation;
    m_open = false;
    m_threadId = 0;
    // The old connection's thread finishes what it reads by itself.
    m_connection.reset();
}
