#pragma once

#include <QWidget>

class QZTextEdit;

// The margin left of an editor's text that shows its line numbers; the
// editor paints it, since only the editor knows where its lines are.
class LineNumberArea : public QWidget
{
    Q_OBJECT

public:
    explicit LineNumberArea(QZTextEdit *editor);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    QZTextEdit *m_pEditor;
};
