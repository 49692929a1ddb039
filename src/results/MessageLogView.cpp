#include "MessageLogView.h"

#include "MessageLog.h"

#include <QScrollBar>
#include <QTextBlock>

MessageLogView::MessageLogView(MessageLog *log, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_pLog(log)
{
    setObjectName(QStringLiteral("m_pMessageLog"));
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    connect(log, &MessageLog::added, this, &MessageLogView::append);
    // The user's own scrolling decides: at the end the view follows new
    // entries, elsewhere it stays where the user put it.
    QScrollBar *bar = verticalScrollBar();
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, bar] { m_following = bar->sliderPosition() >= bar->maximum(); });
    // The range also grows after the entry is in, when a long line brings
    // the horizontal bar with the next layout.
    connect(bar, &QAbstractSlider::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_following)
            bar->setValue(maximum);
    });
}

void MessageLogView::append(const QString &entry, int droppedLines)
{
    appendPlainText(entry);
    if (droppedLines > 0)
        dropOldest(droppedLines);
    // Qt's own following stops once the view is not at the end, which a long
    // line does by bringing the horizontal bar, and dropped lines by moving
    // the text.
    if (m_following)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void MessageLogView::dropOldest(int droppedLines)
{
    // The first line counts the entries dropped; the oldest entry follows it.
    QTextDocument *text = document();
    const int first = m_hasDropLine ? 1 : 0;
    QTextCursor cursor(text);
    cursor.setPosition(text->findBlockByNumber(first).position());
    cursor.setPosition(text->findBlockByNumber(first + droppedLines).position(),
                       QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.setPosition(0);
    if (m_hasDropLine) {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    } else {
        cursor.insertBlock();
        cursor.setPosition(0);
        m_hasDropLine = true;
    }
    cursor.insertText(m_pLog->droppedText());
}
