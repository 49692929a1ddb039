#include "MessageLog.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

namespace {

const QString Indent(10, QLatin1Char(' '));

// Never cuts between the halves of a surrogate pair.
QString cut(const QString &text, int limit)
{
    if (text.size() <= limit)
        return text;
    qsizetype at = limit - 1;
    if (at > 0 && text.at(at).isLowSurrogate())
        --at;
    return text.left(at) + QChar(0x2026);
}

bool isLineBreaking(QChar c)
{
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

} // namespace

QString countText(qint64 count)
{
    static const QLocale english(QLocale::English);
    return english.toString(count);
}

QString secondsText(qint64 millis)
{
    return QStringLiteral("%1 秒").arg(double(millis) / 1000.0, 0, 'f', 2);
}

qsizetype errorPosition(const QString &statement, const QString &message)
{
    // The server quotes the rest of the statement from the failing token on
    // (cut after some 80 characters) and counts lines from the statement's
    // first character.
    static const QRegularExpression near(QStringLiteral("near '(.*)' at line (\\d+)$"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = near.match(message);
    if (!match.hasMatch())
        return -1;
    const QString quoted = match.captured(1);
    const int line = match.captured(2).toInt();
    qsizetype lineStart = 0;
    for (int i = 1; i < line; ++i) {
        const qsizetype next = statement.indexOf(QLatin1Char('\n'), lineStart);
        if (next < 0)
            return -1;
        lineStart = next + 1;
    }
    if (quoted.isEmpty()) {
        // Near nothing: the statement ended too early.
        qsizetype end = statement.size();
        while (end > lineStart && statement.at(end - 1).isSpace())
            --end;
        return end;
    }
    // Characters outside the server's message character set (an emoji)
    // come back as '?': there any one character matches.
    const auto pattern = [](const QString &text) {
        QStringList parts = text.split(QLatin1Char('?'));
        for (QString &part : parts)
            part = QRegularExpression::escape(part);
        return QRegularExpression(parts.join(QLatin1Char('.')),
                                  QRegularExpression::DotMatchesEverythingOption);
    };
    qsizetype at = statement.lastIndexOf(pattern(quoted));
    if (at >= lineStart)
        return at;
    at = statement.indexOf(pattern(quoted.section(QLatin1Char('\n'), 0, 0).left(40)), lineStart);
    return at >= 0 ? at : lineStart;
}

MessageLog::MessageLog(int capacity, QObject *parent)
    : QObject(parent)
    , m_capacity(qMax(1, capacity))
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &MessageLog::flush);
}

QString MessageLog::flatten(const QString &text, int limit)
{
    QString flat = text.left(qsizetype(limit) + 1);
    for (QChar &c : flat) {
        if (isLineBreaking(c))
            c = QLatin1Char(' ');
    }
    return cut(flat, limit);
}

QString MessageLog::statementLine(const QString &statement)
{
    qsizetype start = 0;
    while (start < statement.size() && statement.at(start).isSpace())
        ++start;
    // Only the head is looked at: a statement may be megabytes on one line.
    QString head = statement.mid(start, MaxWhat * 4);
    const qsizetype lineEnd = head.indexOf(QLatin1Char('\n'));
    const bool more = lineEnd >= 0 || start + head.size() < statement.size();
    if (lineEnd >= 0)
        head.truncate(lineEnd);
    head = flatten(head, MaxWhat);
    if (more && !head.endsWith(QChar(0x2026)))
        head += QChar(0x2026);
    return head;
}

QString MessageLog::droppedText() const
{
    return QStringLiteral("（古い記録 %1 件を削除しました）").arg(countText(m_dropped));
}

void MessageLog::add(const QString &what, const QString &outcome, const QStringList &details)
{
    QString entry = QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QStringLiteral("  ")
        + statementLine(what);
    if (!outcome.isEmpty())
        entry += QLatin1Char('\n') + Indent + flatten(outcome);
    for (const QString &detail : details)
        entry += QLatin1Char('\n') + Indent + flatten(detail);

    m_entries.push_back(entry);
    ++m_pending;
    while (int(m_entries.size()) > m_capacity) {
        if (int(m_entries.size()) > m_pending)
            m_droppedShownLines += int(m_entries.front().count(QLatin1Char('\n'))) + 1;
        else
            --m_pending; // never shown: it just goes
        m_entries.pop_front();
        ++m_dropped;
    }
    if (m_flushTimer.isActive())
        return;
    // A single entry shows at once; a flood (a script of thousands of
    // statements) is shown a few times a second, which the view can bear.
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : FlushMillis;
    if (since >= FlushMillis)
        flush();
    else
        m_flushTimer.start(int(FlushMillis - since));
}

void MessageLog::flush()
{
    m_flushTimer.stop();
    if (m_pending == 0)
        return;
    QStringList shown;
    for (auto it = m_entries.end() - m_pending; it != m_entries.end(); ++it)
        shown << *it;
    m_pending = 0;
    m_sinceFlush.start();
    emit added(shown.join(QLatin1Char('\n')), std::exchange(m_droppedShownLines, 0));
}
