#include "QZEditTabWidget.h"

#include "FindBar.h"
#include "QZTextEdit.h"
#include "StatementSplitter.h"
#include "TextFileCodec.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabBar>
#include <QTextCursor>
#include <QTimer>

QZEditTabWidget::QZEditTabWidget(QWidget *parent, const char *name, Qt::WindowFlags f)
    : QTabWidget(parent)
    , m_strSQL(QStringLiteral(" "))
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    if (f)
        setWindowFlags(f);

    m_pFindBar = new FindBar(this);
    m_pLoadTimer = new QTimer(this);
    m_pLoadTimer->setInterval(0);
    connect(m_pLoadTimer, &QTimer::timeout, this, &QZEditTabWidget::loadNextSlice);
    connect(this, &QTabWidget::currentChanged, this, [this] {
        m_pFindBar->setEditor(currentPage());
        markCurrentStatement();
        emit sessionChanged();
    });

    // Scoped to the tab set, so the keys reach the bar from the editor too.
    const auto shortcut = [this](const QKeySequence &keys, auto handler) {
        auto *action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_H), [this] { showFindBar(true); });
    shortcut(QKeySequence(Qt::Key_F3), [this] {
        if (m_pFindBar->findEdit()->text().isEmpty())
            showFindBar(false);
        else
            m_pFindBar->findNext();
    });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { m_pFindBar->findPrevious(); });
    m_pEscapeAct = shortcut(QKeySequence(Qt::Key_Escape), [this] {
        m_pFindBar->hide();
        if (QZTextEdit *page = currentPage())
            page->setFocus();
    });
    // Only while the bar shows, so that Escape still reaches everything else.
    m_pEscapeAct->setEnabled(false);
    m_pFindBar->installEventFilter(this);
}

QZEditTabWidget::~QZEditTabWidget() = default;

QZTextEdit *QZEditTabWidget::currentPage() const
{
    return qobject_cast<QZTextEdit *>(currentWidget());
}

QZTextEdit *QZEditTabWidget::addPage(const QString &label, int index)
{
    auto *page = new QZTextEdit(this, "SQL Editor");
    insertTab(index, page, label);
    connect(page->document(), &QTextDocument::contentsChanged, this,
            &QZEditTabWidget::sessionChanged);
    connect(page, &QPlainTextEdit::cursorPositionChanged, this, [this, page] {
        if (page == currentPage())
            markCurrentStatement();
        emit sessionChanged();
    });
    connect(page->document(), &QTextDocument::modificationChanged, this, [this, page] {
        updateLabel(page);
        emit sessionChanged();
    });
    return page;
}

void QZEditTabWidget::markCurrentStatement()
{
    QZTextEdit *page = currentPage();
    if (!page)
        return;
    // The text is read again on every cursor move; past this size typing
    // would lag, and such a text is a file to run, not a statement to pick.
    constexpr int MaxMarkedText = 1 << 20;
    std::optional<SqlStatement> statement;
    if (page->document()->characterCount() <= MaxMarkedText)
        statement = statementAt(page->toPlainText(), page->textCursor().position());
    if (statement)
        page->markStatement(int(statement->start), int(statement->end));
    else
        page->clearStatementMark();
}

void QZEditTabWidget::updateLabel(QZTextEdit *page)
{
    const int index = indexOf(page);
    if (index < 0 || page->filePath().isEmpty() || page->isLoading())
        return;
    // The mark tells which files differ from what is on disk.
    const QString name = QFileInfo(page->filePath()).fileName();
    setTabText(index, page->document()->isModified() ? u'*' + name : name);
}

void QZEditTabWidget::NewTab(const QString &)
{
    // Numbered by the count at creation, so labels may repeat after a close;
    // users refer to tabs by position, not by number.
    QZTextEdit *page = addPage(QStringLiteral("タブ") + QString::number(count() + 1));
    setCurrentWidget(page);
    emit sessionChanged();
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
        const int index = indexOf(page);
        m_closed.append({ page, index, tabText(index) });
        removeTab(index);
        // A closed page keeps its text as a hidden child, for ReopenTab().
        page->setParent(this);
        page->hide();
        // Bounded, so that a long session of opening and closing tabs does
        // not keep every text it ever held.
        while (m_closed.size() > MaxClosed)
            delete m_closed.takeFirst().page.data();
    }
    if (tabs == 1)
        NewTab();
    if (page)
        emit pageClosed(page);
    emit sessionChanged();
}

void QZEditTabWidget::ReopenTab()
{
    while (!m_closed.isEmpty()) {
        const ClosedTab closed = m_closed.takeLast();
        if (!closed.page)
            continue;
        insertTab(qMin(closed.index, count()), closed.page, closed.label);
        updateLabel(closed.page);
        setCurrentWidget(closed.page);
        emit sessionChanged();
        return;
    }
}

TabSession QZEditTabWidget::session() const
{
    TabSession session;
    session.current = qMax(0, currentIndex());
    for (int i = 0; i < count(); ++i) {
        auto *page = qobject_cast<QZTextEdit *>(widget(i));
        if (!page)
            continue;
        TabState tab;
        tab.text = page->wholeText();
        tab.label = tabText(i);
        tab.cursor = page->wholeCursor();
        tab.filePath = page->filePath();
        tab.modified = page->isLoading() ? false : page->document()->isModified();
        tab.guessed = page->encodingGuessed();
        tab.crlf = page->crlf();
        session.tabs << tab;
    }
    return session;
}

void QZEditTabWidget::restore(const TabSession &session)
{
    for (const TabState &tab : session.tabs) {
        QZTextEdit *page = addPage(tab.label.isEmpty() ? QStringLiteral("タブ%1").arg(count() + 1)
                                                       : tab.label);
        page->setFilePath(tab.filePath);
        page->setEncodingGuessed(tab.guessed);
        page->setCrlf(tab.crlf);
        page->setWholeText(tab.text, tab.cursor, tab.modified);
        updateLabel(page);
    }
    if (count() == 0)
        NewTab();
    setCurrentIndex(qBound(0, session.current, count() - 1));
    if (isLoading())
        m_pLoadTimer->start();
}

bool QZEditTabWidget::isLoading() const
{
    for (QZTextEdit *page : findChildren<QZTextEdit *>())
        if (page->isLoading())
            return true;
    return false;
}

void QZEditTabWidget::loadNextSlice()
{
    // The tab in front first: that is the text the user is waiting for.
    QList<QZTextEdit *> pages{ currentPage() };
    pages += findChildren<QZTextEdit *>();
    for (QZTextEdit *page : pages) {
        if (page && page->isLoading()) {
            if (page->loadSlice())
                updateLabel(page);
            return;
        }
    }
    m_pLoadTimer->stop();
    emit loadingFinished();
}

QZEditTabWidget::OpenResult QZEditTabWidget::openFile(const QString &path, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    TextFileCodec::Decoded decoded;
    if (!TextFileCodec::readFile(absolute, &decoded, error))
        return OpenResult::Failed;

    QZTextEdit *page = nullptr;
    for (int i = 0; i < count() && !page; ++i) {
        auto *p = qobject_cast<QZTextEdit *>(widget(i));
        if (p && p->filePath() == absolute)
            page = p;
    }
    QZTextEdit *current = currentPage();
    if (!page && current && current->filePath().isEmpty() && !current->isLoading()
        && current->document()->isEmpty() && !current->document()->isUndoAvailable())
        page = current;
    if (!page)
        page = addPage(QString());
    page->setFilePath(absolute);
    page->setEncodingGuessed(decoded.guessed);
    page->setCrlf(decoded.crlf);
    page->setWholeText(decoded.text, 0, false);
    updateLabel(page);
    setCurrentWidget(page);
    if (isLoading())
        m_pLoadTimer->start();
    emit sessionChanged();
    return decoded.guessed ? OpenResult::OpenedGuessing : OpenResult::Opened;
}

bool QZEditTabWidget::saveCurrent(const QString &path, QString *error)
{
    QZTextEdit *page = currentPage();
    if (!page)
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const bool crlf = absolute == page->filePath() && page->crlf();
    if (!TextFileCodec::writeFile(absolute, page->wholeText(), crlf, error))
        return false;
    if (absolute != page->filePath())
        page->setCrlf(false);
    page->setFilePath(absolute);
    page->setEncodingGuessed(false);
    page->markSaved();
    updateLabel(page);
    emit sessionChanged();
    return true;
}

void QZEditTabWidget::showFindBar(bool withReplace)
{
    m_pFindBar->setEditor(currentPage());
    placeFindBar();
    m_pFindBar->open(withReplace);
    placeFindBar();
}

void QZEditTabWidget::placeFindBar()
{
    // Over the top right of the editor, clear of the tab bar and the
    // vertical scroll bar, like the find bars users know.
    const QSize hint = m_pFindBar->sizeHint();
    const int width = qMin(hint.width(), this->width() - 24);
    m_pFindBar->setGeometry(this->width() - width - 20, tabBar()->height() + 2, width, hint.height());
}

bool QZEditTabWidget::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == m_pFindBar && (e->type() == QEvent::Show || e->type() == QEvent::Hide))
        m_pEscapeAct->setEnabled(e->type() == QEvent::Show);
    return QTabWidget::eventFilter(watched, e);
}

void QZEditTabWidget::resizeEvent(QResizeEvent *e)
{
    QTabWidget::resizeEvent(e);
    placeFindBar();
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
