#include "FindBar.h"

#include "QZTextEdit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

FindBar::FindBar(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("FindBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);

    m_pFindEdit = new QLineEdit(this);
    m_pFindEdit->setPlaceholderText(QStringLiteral("検索"));
    m_pReplaceEdit = new QLineEdit(this);
    m_pReplaceEdit->setPlaceholderText(QStringLiteral("置換後"));
    m_pMatchCase = new QCheckBox(QStringLiteral("大文字と小文字を区別"), this);
    m_pStatus = new QLabel(this);

    auto *next = new QPushButton(QStringLiteral("次へ"), this);
    auto *previous = new QPushButton(QStringLiteral("前へ"), this);
    auto *close = new QPushButton(QStringLiteral("閉じる"), this);
    auto *replaceOne = new QPushButton(QStringLiteral("置換"), this);
    auto *replaceEvery = new QPushButton(QStringLiteral("すべて置換"), this);
    for (QPushButton *b : { next, previous, close, replaceOne, replaceEvery })
        b->setAutoDefault(false);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->addWidget(m_pFindEdit, 0, 0);
    grid->addWidget(previous, 0, 1);
    grid->addWidget(next, 0, 2);
    grid->addWidget(m_pMatchCase, 0, 3);
    grid->addWidget(m_pStatus, 0, 4);
    grid->addWidget(close, 0, 5);
    m_pReplaceRow = new QWidget(this);
    auto *row = new QHBoxLayout(m_pReplaceRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_pReplaceEdit, 1);
    row->addWidget(replaceOne);
    row->addWidget(replaceEvery);
    grid->addWidget(m_pReplaceRow, 1, 0, 1, 3);

    connect(next, &QPushButton::clicked, this, &FindBar::findNext);
    connect(previous, &QPushButton::clicked, this, &FindBar::findPrevious);
    connect(close, &QPushButton::clicked, this, &FindBar::hide);
    connect(replaceOne, &QPushButton::clicked, this, &FindBar::replace);
    connect(replaceEvery, &QPushButton::clicked, this, &FindBar::replaceAll);
    connect(m_pFindEdit, &QLineEdit::returnPressed, this, &FindBar::findNext);
    connect(m_pReplaceEdit, &QLineEdit::returnPressed, this, &FindBar::replace);
    hide();
}

void FindBar::setEditor(QPlainTextEdit *editor)
{
    m_pEditor = editor;
    setStatus(QString());
}

void FindBar::open(bool withReplace)
{
    if (m_pEditor) {
        const QString selected = m_pEditor->textCursor().selectedText();
        if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
            m_pFindEdit->setText(selected);
    }
    m_pReplaceRow->setVisible(withReplace);
    show();
    raise();
    QLineEdit *focus = withReplace && !m_pFindEdit->text().isEmpty() ? m_pReplaceEdit : m_pFindEdit;
    focus->setFocus();
    focus->selectAll();
}

QString FindBar::statusText() const
{
    return m_pStatus->text();
}

void FindBar::setStatus(const QString &text)
{
    m_pStatus->setText(text);
}

bool FindBar::findNext()
{
    return find(false);
}

bool FindBar::findPrevious()
{
    return find(true);
}

// A search or a replacement over part of a text still being loaded would
// miss the rest: it goes in first.
void FindBar::completeText()
{
    if (auto *page = qobject_cast<QZTextEdit *>(m_pEditor.data()))
        page->completeLoad();
}

bool FindBar::find(bool backward)
{
    const QString needle = m_pFindEdit->text();
    if (!m_pEditor || needle.isEmpty())
        return false;
    completeText();
    QTextDocument::FindFlags flags;
    if (backward)
        flags |= QTextDocument::FindBackward;
    if (m_pMatchCase->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    QTextDocument *doc = m_pEditor->document();
    QTextCursor found = doc->find(needle, m_pEditor->textCursor(), flags);
    if (found.isNull()) {
        // Wrap around, as every editor the user knows does.
        QTextCursor from(doc);
        if (backward)
            from.movePosition(QTextCursor::End);
        found = doc->find(needle, from, flags);
    }
    if (found.isNull()) {
        setStatus(QStringLiteral("見つかりません"));
        return false;
    }
    m_pEditor->setTextCursor(found);
    setStatus(QString());
    return true;
}

bool FindBar::selectionMatches() const
{
    const Qt::CaseSensitivity cs = m_pMatchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    return m_pEditor->textCursor().selectedText().compare(m_pFindEdit->text(), cs) == 0;
}

bool FindBar::replace()
{
    if (!m_pEditor || m_pEditor->isReadOnly() || m_pFindEdit->text().isEmpty())
        return false;
    completeText();
    if (m_pEditor->textCursor().hasSelection() && selectionMatches()) {
        QTextCursor c = m_pEditor->textCursor();
        c.insertText(m_pReplaceEdit->text());
        m_pEditor->setTextCursor(c);
    }
    return findNext();
}

int FindBar::replaceAll()
{
    const QString needle = m_pFindEdit->text();
    if (!m_pEditor || m_pEditor->isReadOnly() || needle.isEmpty())
        return 0;
    completeText();
    QTextDocument::FindFlags flags;
    if (m_pMatchCase->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    QTextDocument *doc = m_pEditor->document();
    QTextCursor edit(doc);
    edit.beginEditBlock();
    int count = 0;
    // Each search starts after the text just inserted, so a replacement that
    // contains the needle is not replaced again.
    for (QTextCursor found = doc->find(needle, 0, flags); !found.isNull();
         found = doc->find(needle, found, flags)) {
        found.insertText(m_pReplaceEdit->text());
        ++count;
    }
    edit.endEditBlock();
    setStatus(count ? QStringLiteral("%1 件置換しました").arg(count) : QStringLiteral("見つかりません"));
    return count;
}

void FindBar::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) {
        hide();
        if (m_pEditor)
            m_pEditor->setFocus();
        return;
    }
    QFrame::keyPressEvent(e);
}
