#pragma once

#include <QPlainTextEdit>

class MessageLog;

// The message log as the user reads it (object name "m_pMessageLog"): its
// text is the log, a line per entry, and, once the oldest entries were
// dropped, a first line that counts them.
class MessageLogView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit MessageLogView(MessageLog *log, QWidget *parent = nullptr);

private:
    void append(const QString &entry, int droppedLines);
    void dropOldest(int droppedLines);

    MessageLog *m_pLog;
    bool m_hasDropLine = false;
    bool m_following = true;
};
