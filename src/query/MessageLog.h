#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QString>
#include <QStringList>

#include <deque>

// Counts as the window shows them, "1,000,000", whatever the system locale:
// the C locale would leave the separators out.
QString countText(qint64 count);
// "0.41 秒"
QString secondsText(qint64 millis);

// Where in `statement` the server's "… near '…' at line N" points, as an
// offset into the statement text; -1 when the message names no place.
qsizetype errorPosition(const QString &statement, const QString &message);

// What each command ran and what came of it, in the server's own words.
// Kept bounded, and every entry a few short lines, so that a long session,
// a huge statement or an error full of control characters cannot make the
// log unwieldy.
class MessageLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultCapacity = 1000;
    static constexpr int MaxLine = 500;
    static constexpr int MaxWhat = 80;

    explicit MessageLog(int capacity = DefaultCapacity, QObject *parent = nullptr);

    // One entry, stamped with the time: `what` shortened to its first line,
    // `outcome` and each detail line flattened to one line and capped.
    void add(const QString &what, const QString &outcome, const QStringList &details = {});

    QStringList entries() const { return { m_entries.begin(), m_entries.end() }; }
    qint64 dropped() const { return m_dropped; }
    QString droppedText() const;

    // Line breaks and control characters become blanks; past `limit` the
    // text is cut with an ellipsis.
    static QString flatten(const QString &text, int limit = MaxLine);
    // The first line of a statement that is not blank, shortened.
    static QString statementLine(const QString &statement);

    // Shows what is waiting now instead of at the next flush.
    void flush();

signals:
    // New entries (lines joined with '\n'); the oldest entries shown before,
    // `droppedLines` lines in all, left to make room for them.
    void added(const QString &entries, int droppedLines);

private:
    static constexpr qint64 FlushMillis = 250;

    std::deque<QString> m_entries;
    int m_capacity;
    qint64 m_dropped = 0;
    int m_pending = 0;            // the newest entries, not yet in an added()
    int m_droppedShownLines = 0;  // lines of shown entries dropped since
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
};
