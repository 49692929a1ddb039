#include "QueryRun.h"

#include "MessageLog.h"
#include "ScriptFileReader.h"

namespace {

constexpr int FirstCommittingShown = 5;

// "CREATE TABLE", "DROP VIEW", "TRUNCATE": what the summary counts by,
// read as the server reads it (a dump's /*!40000 ALTER TABLE … */ included).
QString kindOf(const QString &statement)
{
    static const QStringList objects = { "TABLE", "VIEW", "INDEX", "PROCEDURE", "FUNCTION",
                                         "TRIGGER", "EVENT", "DATABASE", "SCHEMA", "USER",
                                         "ROLE", "SEQUENCE", "SERVER", "TABLESPACE" };
    const QStringList words = leadingWords(statement, 8);
    const QString first = words.value(0).toUpper();
    if (first != u"CREATE" && first != u"DROP" && first != u"ALTER")
        return first;
    for (const QString &word : words.mid(1))
        if (objects.contains(word.toUpper()))
            return first + u' ' + word.toUpper();
    return first;
}

bool needsTransaction(StatementNature nature)
{
    // What the program cannot place may change anything: it gets the care
    // of a change.
    return nature == StatementNature::DataChange || nature == StatementNature::Other;
}

} // namespace

std::shared_ptr<QueryRun> QueryRun::fromText(QObject *origin, qsizetype offset,
                                             QList<SqlStatement> statements)
{
    std::shared_ptr<QueryRun> run(new QueryRun);
    run->m_origin = origin;
    run->m_hadOrigin = origin != nullptr;
    run->m_offset = offset;
    run->m_statements = std::move(statements);
    return run;
}

std::shared_ptr<QueryRun> QueryRun::fromFile(const QString &path, const QByteArray &encoding)
{
    std::shared_ptr<QueryRun> run(new QueryRun);
    run->m_path = path;
    run->m_encoding = encoding;
    run->m_reader = std::make_shared<ScriptFileReader>(path, encoding);
    return run;
}

QueryRun::~QueryRun() = default;

void QueryRun::note(Preview &preview, const QString &statement)
{
    ++preview.statements;
    const StatementNature nature = natureOf(statement);
    preview.changes = preview.changes || needsTransaction(nature);
    if (nature != StatementNature::ImplicitCommit)
        return;
    ++preview.committing;
    ++preview.committingKinds[kindOf(statement)];
    if (preview.firstCommitting.size() < FirstCommittingShown)
        preview.firstCommitting << MessageLog::statementLine(statement);
}

QueryRun::Preview QueryRun::preview() const
{
    Preview preview;
    if (!isFile()) {
        for (const SqlStatement &s : m_statements)
            note(preview, s.text);
        return preview;
    }
    ScriptFileReader reader(m_path, m_encoding);
    SqlStatement s;
    while (!m_stop && reader.next(s)) {
        note(preview, s.text);
        m_previewBytes = reader.bytesRead();
    }
    preview.cancelled = m_stop;
    preview.error = reader.error();
    preview.errorLine = reader.errorLine();
    return preview;
}

QStringList QueryRun::committingSummary(const Preview &preview)
{
    QStringList lines;
    for (auto it = preview.committingKinds.cbegin(); it != preview.committingKinds.cend(); ++it)
        lines << QStringLiteral("%1 × %L2").arg(it.key()).arg(it.value());
    if (preview.committing > preview.firstCommitting.size()) {
        lines << QString() << QStringLiteral("最初の %1 文（全 %L2 文）:")
                                  .arg(preview.firstCommitting.size())
                                  .arg(preview.committing);
    } else {
        lines << QString();
    }
    lines << preview.firstCommitting;
    return lines;
}

StatementFeed QueryRun::feed()
{
    if (!isFile()) {
        auto index = std::make_shared<int>(0);
        return [this, index](ScriptStatement &next) {
            if (*index >= m_statements.size())
                return false;
            const QString &text = m_statements.at((*index)++).text;
            next.sql = text;
            next.change = needsTransaction(natureOf(text));
            ++m_fed;
            return true;
        };
    }
    return [this, reader = m_reader](ScriptStatement &next) {
        SqlStatement s;
        if (!reader->next(s))
            return false;
        next.change = needsTransaction(natureOf(s.text));
        {
            std::lock_guard<std::mutex> guard(m_placesLock);
            m_places.push_back({ MessageLog::statementLine(s.text), -1, -1, s.line });
        }
        next.sql = std::move(s.text);
        ++m_fed;
        return true;
    };
}

QueryRun::Place QueryRun::place(int index) const
{
    if (isFile()) {
        std::lock_guard<std::mutex> guard(m_placesLock);
        const qsizetype at = qsizetype(index) - m_placesBase;
        return at >= 0 && at < qsizetype(m_places.size()) ? m_places[size_t(at)] : Place();
    }
    if (index < 0 || index >= m_statements.size())
        return {};
    const SqlStatement &s = m_statements.at(index);
    return { s.text, m_offset + s.start, m_offset + s.end, s.line };
}

void QueryRun::forget(int index)
{
    std::lock_guard<std::mutex> guard(m_placesLock);
    while (m_placesBase < index && !m_places.empty()) {
        m_places.pop_front();
        ++m_placesBase;
    }
}

QString QueryRun::readError() const
{
    return m_reader ? m_reader->error() : QString();
}

qsizetype QueryRun::readErrorLine() const
{
    return m_reader ? m_reader->errorLine() : 0;
}

qint64 QueryRun::bytesDone() const
{
    return m_reader ? m_reader->bytesRead() : 0;
}

qint64 QueryRun::bytesTotal() const
{
    return m_reader ? m_reader->size() : 0;
}
