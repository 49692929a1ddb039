#include "QZEditTabWidget.h"

#include "QZTextEdit.h"

#include <QTextCursor>

QZEditTabWidget::QZEditTabWidget(QWidget *parent, const char *name, Qt::WindowFlags f)
    : QTabWidget(parent)
    , m_strSQL(QStringLiteral(" "))
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    if (f)
        setWindowFlags(f);
}

QZEditTabWidget::~QZEditTabWidget() = default;

QZTextEdit *QZEditTabWidget::currentPage() const
{
    return qobject_cast<QZTextEdit *>(currentWidget());
}

void QZEditTabWidget::NewTab(const QString &)
{
    auto *page = new QZTextEdit(this, "SQL Editor");
    // Numbered by the count at creation, so labels may repeat after a close;
    // users refer to tabs by position, not by number.
    const QString label = QStringLiteral("タブ") + QString::number(count() + 1);
    addTab(page, label);
    setCurrentWidget(page);
}

void QZEditTabWidget::NewTab()
{
    NewTab(QString());
}

void QZEditTabWidget::CloseTab()
{
    const int tabs = count();
    QZTextEdit *page = currentPage();
    if (page) {
        removeTab(indexOf(page));
        // A closed page keeps its text as a hidden child until the tab set goes.
        page->setParent(this);
        page->hide();
    }
    if (tabs == 1)
        NewTab();
}

void QZEditTabWidget::Undo()
{
    if (QZTextEdit *page = currentPage())
        page->undo();
}

void QZEditTabWidget::Redo()
{
    if (QZTextEdit *page = currentPage())
        page->redo();
}

void QZEditTabWidget::Copy()
{
    if (QZTextEdit *page = currentPage())
        page->copy();
}

void QZEditTabWidget::Cut()
{
    if (QZTextEdit *page = currentPage())
        page->cut();
}

void QZEditTabWidget::Paste()
{
    if (QZTextEdit *page = currentPage())
        page->paste();
}

void QZEditTabWidget::Clear()
{
    QZTextEdit *page = currentPage();
    if (!page)
        return;
    // Cleared through an edit rather than QPlainTextEdit::clear(), which also
    // drops the undo history: a slip on the Clear button must be undoable.
    QTextCursor cursor(page->document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
}

void QZEditTabWidget::RecSQL()
{
    m_strSQL = QStringLiteral(" ");
    if (QZTextEdit *page = currentPage())
        m_strSQL = page->toPlainText();
}

void QZEditTabWidget::PastSQL()
{
    if (QZTextEdit *page = currentPage())
        page->setPlainText(m_strSQL);
}
