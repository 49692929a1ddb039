#include "LineNumberArea.h"

#include "QZTextEdit.h"

LineNumberArea::LineNumberArea(QZTextEdit *editor)
    : QWidget(editor), m_pEditor(editor)
{
    setObjectName(QStringLiteral("LineNumberArea"));
}

QSize LineNumberArea::sizeHint() const
{
    return QSize(m_pEditor->lineNumberWidth(), 0);
}

void LineNumberArea::paintEvent(QPaintEvent *e)
{
    m_pEditor->paintLineNumbers(e);
}
