#pragma once

#include <QFrame>
#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// Find and replace over one editor, shown over it. Searches wrap around the
// end of the text; a replacement is one undo step.
class FindBar : public QFrame
{
    Q_OBJECT

public:
    explicit FindBar(QWidget *parent = nullptr);

    void setEditor(QPlainTextEdit *editor);
    // Shows the bar, seeded with the editor's selection when it is one line.
    void open(bool withReplace);

    QLineEdit *findEdit() const { return m_pFindEdit; }
    QLineEdit *replaceEdit() const { return m_pReplaceEdit; }
    QCheckBox *matchCase() const { return m_pMatchCase; }
    // What the last command found or did, as the bar shows it.
    QString statusText() const;

public slots:
    bool findNext();
    bool findPrevious();
    bool replace();
    int replaceAll();

protected:
    void keyPressEvent(QKeyEvent *e) override;

private:
    bool find(bool backward);
    void completeText();
    bool selectionMatches() const;
    void setStatus(const QString &text);

    QPointer<QPlainTextEdit> m_pEditor;
    QLineEdit *m_pFindEdit = nullptr;
    QLineEdit *m_pReplaceEdit = nullptr;
    QCheckBox *m_pMatchCase = nullptr;
    QLabel *m_pStatus = nullptr;
    QWidget *m_pReplaceRow = nullptr;
};
