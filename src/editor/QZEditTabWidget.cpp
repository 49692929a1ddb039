#include "QZEditTabWidget.h"

#include "FindBar.h"
#include "QZTextEdit.h"
#include "StatementSplitter.h"
#include "TextFileCodec.h"

#include <QAction>
#include <QFileInfo>
#include <QFileSystemWatcher>
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
    m_pWatcher = new QFileSystemWatcher(this);
    connect(m_pWatcher, &QFileSystemWatcher::fileChanged, this, &QZEditTabWidget::fileTouched);
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
    if (m_completionProvider)
        page->setCompletionProvider(m_completionProvider);
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
    // In slices or at once, the page's own key included.
    connect(page, &QZTextEdit::loadingDone, this, [this, page] {
        updateLabel(page);
        emit loadingChanged();
        if (!isLoading()) {
            m_pLoadTimer->stop();
            emit loadingFinished();
        }
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
    if (index < 0 || page->filePath().isEmpty())
        return;
    // The mark tells which files differ from what is on disk.
    const QString name = QFileInfo(page->filePath()).fileName();
    const QString label = page->isTextModified() ? u'*' + name : name;
    setTabText(index, page->changedOnDisk() ? QStringLiteral("⚠") + label : label);
    setTabToolTip(index, page->changedOnDisk()
                             ? page->filePath() + QStringLiteral("\n他のプログラムがファイルを変更しました")
                             : page->filePath());
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

TabSession QZEditTabWidget::session(bool reread) const
{
    TabSession session;
    session.current = qMax(0, currentIndex());
    for (int i = 0; i < count(); ++i) {
        auto *page = qobject_cast<QZTextEdit *>(widget(i));
        if (!page)
            continue;
        TabState tab;
        if (reread)
            page->forgetTextCache();
        tab.text = page->wholeText();
        tab.label = tabText(i);
        tab.cursor = page->wholeCursor();
        tab.filePath = page->filePath();
        tab.modified = page->isTextModified();
        tab.origin = page->origin();
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
        page->setOrigin(tab.origin);
        page->setWholeText(tab.text, tab.cursor, tab.modified);
        // Changed while we were not running: the kept text and the file's
        // are both the user's, so neither is dropped without asking.
        if (!tab.filePath.isEmpty() && tab.origin.stamp.isSet()
            && !TextFileCodec::unchanged(tab.origin.stamp, tab.filePath)) {
            page->setChangedOnDisk(true);
            m_changedWhileClosed << page;
        }
        updateLabel(page);
    }
    if (count() == 0)
        NewTab();
    setCurrentIndex(qBound(0, session.current, count() - 1));
    watchFiles();
    if (isLoading())
        startLoading();
}

void QZEditTabWidget::startLoading()
{
    m_pLoadTimer->start();
    emit loadingChanged();
}

void QZEditTabWidget::finishLoadingNow(QZTextEdit *page)
{
    page->completeLoad();
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
            page->loadSlice();
            return;
        }
    }
    m_pLoadTimer->stop();
    emit loadingFinished();
}

QZEditTabWidget::OpenResult QZEditTabWidget::openFile(const QString &path, QString *error,
                                                      const TextFileCodec::Encoding *as)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QZTextEdit *page = nullptr;
    for (int i = 0; i < count() && !page; ++i) {
        auto *p = qobject_cast<QZTextEdit *>(widget(i));
        if (p && p->filePath() == absolute)
            page = p;
    }
    // Reading the file again would drop what was typed in its tab.
    if (page && !as && (page->isLoading() || page->document()->isModified())) {
        setCurrentWidget(page);
        return OpenResult::KeptEdits;
    }
    TextFileCodec::Decoded decoded;
    if (!TextFileCodec::readFile(absolute, &decoded, error, as))
        return OpenResult::Failed;

    QZTextEdit *current = currentPage();
    if (!page && current && current->filePath().isEmpty() && !current->isLoading()
        && current->document()->isEmpty() && !current->document()->isUndoAvailable())
        page = current;
    const bool replacing = page && !page->document()->isEmpty();
    if (!page)
        page = addPage(QString());
    if (replacing)
        finishLoadingNow(page);
    page->setFilePath(absolute);
    page->setOrigin(decoded.origin);
    page->setChangedOnDisk(false);
    if (replacing) {
        page->replaceWholeText(decoded.text);
        page->document()->setModified(false);
    } else {
        page->setWholeText(decoded.text, 0, false);
    }
    updateLabel(page);
    setCurrentWidget(page);
    watchFiles();
    if (isLoading())
        startLoading();
    emit sessionChanged();
    return OpenResult::Opened;
}

QZEditTabWidget::SaveResult QZEditTabWidget::saveCurrent(const QString &path, QString *error,
                                                         bool asUtf8)
{
    QZTextEdit *page = currentPage();
    if (!page)
        return SaveResult::Failed;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    TextFileCodec::Origin origin = page->filePath().isEmpty() ? TextFileCodec::Origin() : page->origin();
    if (asUtf8)
        origin.encoding = TextFileCodec::Encoding::Utf8;
    QByteArray bytes;
    if (!TextFileCodec::encode(page->wholeText(), origin.encoding, origin.ends, &bytes))
        return SaveResult::DoesNotFit;
    if (!TextFileCodec::writeFile(absolute, bytes, &origin.stamp, error))
        return SaveResult::Failed;
    // What is on disk now is exactly the text: a later save is lossless.
    origin.sure = true;
    origin.lossless = true;
    page->setFilePath(absolute);
    page->setOrigin(origin);
    page->setChangedOnDisk(false);
    page->markSaved();
    updateLabel(page);
    watchFiles();
    emit sessionChanged();
    return SaveResult::Saved;
}

bool QZEditTabWidget::changedOnDisk(QZTextEdit *page)
{
    const TextFileCodec::Stamp &stamp = page->origin().stamp;
    if (page->filePath().isEmpty() || !stamp.isSet() || !QFileInfo::exists(page->filePath()))
        return false;
    return !TextFileCodec::unchanged(stamp, page->filePath());
}

bool QZEditTabWidget::reloadFromDisk(QZTextEdit *page, QString *error)
{
    TextFileCodec::Decoded decoded;
    const TextFileCodec::Encoding encoding = page->origin().encoding;
    if (!TextFileCodec::readFile(page->filePath(), &decoded, error, &encoding))
        return false;
    finishLoadingNow(page);
    page->setOrigin(decoded.origin);
    page->setChangedOnDisk(false);
    page->replaceWholeText(decoded.text);
    page->document()->setModified(false);
    updateLabel(page);
    emit sessionChanged();
    return true;
}

void QZEditTabWidget::keepOverDisk(QZTextEdit *page)
{
    TextFileCodec::Origin origin = page->origin();
    origin.stamp = TextFileCodec::stampOf(page->filePath());
    page->setOrigin(origin);
    page->setChangedOnDisk(false);
    if (page->isLoading())
        finishLoadingNow(page);
    page->document()->setModified(true);
    updateLabel(page);
    emit sessionChanged();
}

void QZEditTabWidget::watchFiles()
{
    QStringList paths;
    for (QZTextEdit *page : findChildren<QZTextEdit *>())
        if (!page->filePath().isEmpty() && QFileInfo::exists(page->filePath()))
            paths << page->filePath();
    const QStringList watched = m_pWatcher->files();
    for (const QString &path : paths)
        if (!watched.contains(path))
            m_pWatcher->addPath(path);
}

void QZEditTabWidget::fileTouched(const QString &path)
{
    // A program that saves by renaming a new file into place ends the watch.
    if (QFileInfo::exists(path) && !m_pWatcher->files().contains(path))
        m_pWatcher->addPath(path);
    for (QZTextEdit *page : findChildren<QZTextEdit *>()) {
        if (page->filePath() != path || page->changedOnDisk() || !changedOnDisk(page))
            continue;
        page->setChangedOnDisk(true);
        updateLabel(page);
        emit fileChangedOnDisk(page);
    }
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
    if (QZTextEdit *page = editablePage())
        page->undo();
}

void QZEditTabWidget::Redo()
{
    if (QZTextEdit *page = editablePage())
        page->redo();
}

void QZEditTabWidget::Copy()
{
    if (QZTextEdit *page = currentPage())
        page->copy();
}

void QZEditTabWidget::Cut()
{
    if (QZTextEdit *page = editablePage())
        page->cut();
}

void QZEditTabWidget::Paste()
{
    if (QZTextEdit *page = editablePage())
        page->paste();
}

QZTextEdit *QZEditTabWidget::editablePage() const
{
    // A page still being laid out holds only part of its text: an edit
    // there would be lost or would cut the text short for good.
    QZTextEdit *page = currentPage();
    return page && !page->isLoading() ? page : nullptr;
}

void QZEditTabWidget::Clear()
{
    QZTextEdit *page = editablePage();
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
    // As an edit, so that the text it replaces comes back with Undo.
    if (QZTextEdit *page = editablePage())
        page->replaceWholeText(m_strSQL);
}

void QZEditTabWidget::setCompletionProvider(SqlCompleter::Provider provider)
{
    m_completionProvider = std::move(provider);
    for (QZTextEdit *page : findChildren<QZTextEdit *>())
        page->setCompletionProvider(m_completionProvider);
}
