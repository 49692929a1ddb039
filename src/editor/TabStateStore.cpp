#include "TabStateStore.h"

#include "SafeFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString StateFile = QStringLiteral("tabs.json");
const QString TextDir = QStringLiteral("tabs.d");
constexpr int Version = 1;
// SQL often holds passwords and customer data: owner only, from the start.
const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

TabStateStore::TabStateStore(const QString &directory)
    : m_dir(directory)
{
}

QString TabStateStore::statePath() const
{
    return m_dir.filePath(StateFile);
}

TabStateStore::Load TabStateStore::load(TabSession *session)
{
    m_setAside.clear();
    const QFileInfo info(statePath());
    if (!info.exists() && !info.isSymLink())
        return Load::NoState;
    QFile file(statePath());
    QSet<QString> files;
    TabSession read;
    // Only a regular file: opening a FIFO would block the start for ever.
    if (SafeFile::isRegular(statePath()) && file.open(QIODevice::ReadOnly) && readSession(file.readAll(), &read, &files)) {
        *session = read;
        m_known.unite(files);
        return Load::Restored;
    }
    file.close();
    setAside();
    return Load::Unreadable;
}

bool TabStateStore::readSession(const QByteArray &json, TabSession *session,
                                QSet<QString> *files) const
{
    static const QRegularExpression textFileName(QStringLiteral("^[0-9a-f]{40}\\.sql$"));
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject root = doc.object();
    if (parseError.error != QJsonParseError::NoError || root.value(u"version").toInt() != Version)
        return false;
    const QJsonArray tabs = root.value(u"tabs").toArray();
    if (tabs.isEmpty())
        return false;
    for (const QJsonValue &value : tabs) {
        const QJsonObject o = value.toObject();
        TabState tab;
        tab.label = o.value(u"label").toString();
        tab.filePath = o.value(u"file").toString();
        tab.modified = o.value(u"modified").toBool();
        tab.guessed = o.value(u"guessed").toBool();
        tab.crlf = o.value(u"crlf").toBool();
        if (o.value(u"text").isString()) {
            tab.text = o.value(u"text").toString();
        } else {
            // The name comes from a file anyone may edit: only our own names,
            // so a state can never make us read outside the text directory.
            const QString name = o.value(u"textFile").toString();
            if (!textFileName.match(name).hasMatch())
                return false;
            QFile text(m_dir.filePath(TextDir + u'/' + name));
            if (!text.open(QIODevice::ReadOnly))
                return false;
            const QByteArray bytes = text.readAll();
            if (bytes.size() != o.value(u"bytes").toInteger(-1))
                return false;
            tab.text = QString::fromUtf8(bytes);
            files->insert(name);
        }
        tab.cursor = qBound(0, o.value(u"cursor").toInt(), int(tab.text.size()));
        session->tabs << tab;
    }
    session->current = qBound(0, root.value(u"current").toInt(), int(session->tabs.size()) - 1);
    return true;
}

void TabStateStore::setAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = statePath() + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = statePath() + QStringLiteral(".corrupt-%1-%2").arg(stamp).arg(n);
    if (QFile::rename(statePath(), target))
        m_setAside = target;
}

bool TabStateStore::writeTextFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(TextDir + u'/' + name);
    // Named by content: an existing file of the right size already holds it.
    if (QFileInfo(path).size() == bytes.size())
        return true;
    if (!m_dir.exists(TextDir) && !m_dir.mkdir(TextDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                      | QFileDevice::ExeOwner)) {
        m_error = QStringLiteral("cannot create %1").arg(m_dir.filePath(TextDir));
        return false;
    }
    return SafeFile::write(path, bytes, OwnerOnly, &m_error);
}

bool TabStateStore::save(const TabSession &session)
{
    m_error.clear();
    QJsonArray tabs;
    QSet<QString> referenced;
    for (const TabState &tab : session.tabs) {
        QJsonObject o{ { QStringLiteral("label"), tab.label }, { QStringLiteral("cursor"), tab.cursor } };
        if (!tab.filePath.isEmpty()) {
            o.insert(u"file", tab.filePath);
            o.insert(u"modified", tab.modified);
            o.insert(u"guessed", tab.guessed);
            o.insert(u"crlf", tab.crlf);
        }
        if (tab.text.size() * 3 <= InlineLimit) {
            o.insert(u"text", tab.text);
        } else {
            const QByteArray bytes = tab.text.toUtf8();
            if (bytes.size() <= InlineLimit) {
                o.insert(u"text", tab.text);
            } else {
                const QString name = QString::fromLatin1(
                    QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex()) + QStringLiteral(".sql");
                if (!writeTextFile(name, bytes))
                    return false;
                o.insert(u"textFile", name);
                o.insert(u"bytes", bytes.size());
                referenced.insert(name);
            }
        }
        tabs.append(o);
    }
    const QJsonObject root{ { QStringLiteral("version"), Version }, { QStringLiteral("current"), session.current },
                            { QStringLiteral("tabs"), tabs } };
    if (!SafeFile::write(statePath(), QJsonDocument(root).toJson(QJsonDocument::Compact), OwnerOnly,
                         &m_error))
        return false;
    removeUnreferenced(referenced);
    return true;
}

void TabStateStore::removeUnreferenced(const QSet<QString> &stillReferenced)
{
    for (const QString &name : std::as_const(m_known))
        if (!stillReferenced.contains(name))
            m_dir.remove(TextDir + u'/' + name);
    m_known = stillReferenced;
}
