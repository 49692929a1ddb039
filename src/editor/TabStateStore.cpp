#include "TabStateStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>

#include "FileError.h"
#include "SafeFile.h"

#include <cstdio>

namespace {

constexpr int Version = 1;
constexpr int MaxSlots = 16;
// SQL often holds passwords and customer data: owner only, from the start.
const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    // QSaveFile writes through a symbolic link to its target (and would
    // make that owner-only): our file goes where the link was instead.
    if (!QFileInfo(path).isSymLink())
        return SafeFile::write(path, bytes, OwnerOnly, error);
    const QString target = path + QStringLiteral(".new");
    if (!SafeFile::write(target, bytes, OwnerOnly, error))
        return false;
    if (std::rename(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) != 0) {
        *error = FileError::describe(errno, QStringLiteral("rename"));
        QFile::remove(target);
        return false;
    }
    return true;
}

QString endsText(const TextFileCodec::LineEnds &ends)
{
    // Runs of one kind: "c120n1c7" for a file of mostly CRLF.
    QString out;
    for (qsizetype i = 0; i < ends.kinds.size();) {
        qsizetype j = i;
        while (j < ends.kinds.size() && ends.kinds[j] == ends.kinds[i])
            ++j;
        out += QLatin1Char(ends.kinds[i]) + QString::number(j - i);
        i = j;
    }
    return out;
}

QByteArray endsFromText(const QString &text)
{
    static const QRegularExpression run(QStringLiteral("([ncr])(\\d+)"));
    QByteArray kinds;
    for (const QRegularExpressionMatch &m : run.globalMatch(text))
        kinds.append(QByteArray(qMin(m.captured(2).toInt(), 1 << 26), m.captured(1).at(0).toLatin1()));
    return kinds;
}

QJsonObject originJson(const TextFileCodec::Origin &origin)
{
    return { { QStringLiteral("encoding"), TextFileCodec::encodingName(origin.encoding) },
             { QStringLiteral("sure"), origin.sure },
             { QStringLiteral("lossless"), origin.lossless },
             { QStringLiteral("lineEnd"), QString(QLatin1Char(origin.ends.usual)) },
             { QStringLiteral("lineEnds"), endsText(origin.ends) },
             { QStringLiteral("fileSize"), origin.stamp.size },
             { QStringLiteral("fileTime"), origin.stamp.modifiedMs },
             { QStringLiteral("fileSha1"), QString::fromLatin1(origin.stamp.sha1.toHex()) } };
}

TextFileCodec::Origin originFromJson(const QJsonObject &o)
{
    TextFileCodec::Origin origin;
    if (!TextFileCodec::encodingFromName(o.value(u"encoding").toString(), &origin.encoding))
        origin.encoding = TextFileCodec::Encoding::Utf8;
    origin.sure = o.value(u"sure").toBool(true);
    // Kept by earlier versions: "guessed" for bytes that fit no encoding,
    // "crlf" for Windows line ends throughout.
    origin.lossless = o.value(u"lossless").toBool(!o.value(u"guessed").toBool());
    const QString usual = o.value(u"lineEnd").toString(o.value(u"crlf").toBool() ? QStringLiteral("c")
                                                                              : QStringLiteral("n"));
    origin.ends.usual = usual == u"c" ? 'c' : usual == u"r" ? 'r' : 'n';
    origin.ends.kinds = endsFromText(o.value(u"lineEnds").toString());
    origin.stamp.size = o.value(u"fileSize").toInteger(-1);
    origin.stamp.modifiedMs = o.value(u"fileTime").toInteger();
    origin.stamp.sha1 = QByteArray::fromHex(o.value(u"fileSha1").toString().toLatin1());
    return origin;
}

} // namespace

TabStateStore::TabStateStore(const QString &directory)
    : m_dir(directory)
{
}

TabStateStore::~TabStateStore() = default;

int TabStateStore::claim()
{
    for (int slot = 1; slot <= MaxSlots; ++slot) {
        m_slot = slot;
        auto lock = std::make_unique<QLockFile>(statePath() + QStringLiteral(".lock"));
        // Only a dead owner makes a lock stale, never its age: a window may
        // stay open for weeks.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            return slot;
        }
    }
    m_slot = 1;
    return 0;
}

QString TabStateStore::statePath() const
{
    return m_dir.filePath(m_slot == 1 ? QStringLiteral("tabs.json")
                                      : QStringLiteral("tabs-%1.json").arg(m_slot));
}

QString TabStateStore::textDir() const
{
    // A folder per state: a text file may be dropped only by the state
    // that wrote it.
    return m_slot == 1 ? QStringLiteral("tabs.d") : QStringLiteral("tabs-%1.d").arg(m_slot);
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
        tab.origin = originFromJson(o);
        if (o.value(u"text").isString()) {
            tab.text = o.value(u"text").toString();
        } else {
            // The name comes from a file anyone may edit: only our own names,
            // so a state can never make us read outside the text directory.
            const QString name = o.value(u"textFile").toString();
            if (!textFileName.match(name).hasMatch())
                return false;
            QFile text(m_dir.filePath(textDir() + u'/' + name));
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
    const QString path = m_dir.filePath(textDir() + u'/' + name);
    // Named by content: an existing file of the right size already holds it.
    if (QFileInfo(path).size() == bytes.size())
        return true;
    if (!m_dir.exists(textDir()) && !m_dir.mkdir(textDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                      | QFileDevice::ExeOwner)) {
        m_error = QStringLiteral("cannot create %1").arg(m_dir.filePath(textDir()));
        return false;
    }
    return writeAtomically(path, bytes, &m_error);
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
            const QJsonObject origin = originJson(tab.origin);
            for (auto it = origin.begin(); it != origin.end(); ++it)
                o.insert(it.key(), it.value());
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
    if (!writeAtomically(statePath(), QJsonDocument(root).toJson(QJsonDocument::Compact), &m_error))
        return false;
    removeUnreferenced(referenced);
    return true;
}

void TabStateStore::removeUnreferenced(const QSet<QString> &stillReferenced)
{
    for (const QString &name : std::as_const(m_known))
        if (!stillReferenced.contains(name))
            m_dir.remove(textDir() + u'/' + name);
    m_known = stillReferenced;
}
