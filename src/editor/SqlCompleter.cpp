#include "SqlCompleter.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextBlock>

namespace {

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt
        || key == Qt::Key_Meta || key == Qt::Key_AltGr;
}

// Keys the popup moves its selection with.
bool isNavigationKey(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp
        || key == Qt::Key_PageDown;
}

} // namespace

SqlCompleter::SqlCompleter(QPlainTextEdit *editor)
    : QObject(editor)
    , m_editor(editor)
    , m_completer(new QCompleter(this))
    , m_model(new QStringListModel(this))
{
    m_completer->setObjectName(QStringLiteral("m_pCompleter"));
    m_completer->setWidget(editor);
    // The provider has chosen and ordered the entries already.
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setModel(m_model);
    m_completer->setMaxVisibleItems(12);
    m_completer->setWrapAround(false);
    editor->installEventFilter(this);
    m_completer->popup()->installEventFilter(this);
    connect(m_completer, qOverload<const QModelIndex &>(&QCompleter::activated), this,
            [this](const QModelIndex &index) {
                insert(index.data(Qt::EditRole).toString());
            });
}

SqlCompleter::~SqlCompleter() = default;

bool SqlCompleter::popupVisible() const
{
    return m_completer->popup()->isVisible();
}

bool SqlCompleter::isPopupKey(const QKeyEvent *e) const
{
    if (!popupVisible())
        return false;
    switch (e->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        return true;
    default:
        return false;
    }
}

bool SqlCompleter::popupTakes(QKeyEvent *e) const
{
    if (!isPopupKey(e))
        return false;
    e->ignore();
    return true;
}

bool SqlCompleter::eventFilter(QObject *watched, QEvent *e)
{
    // Escape is also the window's shortcut for cancelling a statement:
    // while the popup is open, the key is the popup's.
    if (e->type() == QEvent::ShortcutOverride && isPopupKey(static_cast<QKeyEvent *>(e))) {
        e->accept();
        return true;
    }
    // Typing goes on in the editor while the popup is open. QCompleter would
    // pass the key on too, but then closes the popup whenever the editor
    // does not report the focus at that instant, which a popup that has just
    // opened can take from it for a moment: the next letter would close it.
    if (watched == m_completer->popup() && e->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(e);
        if (!isPopupKey(key) && !isNavigationKey(key->key())) {
            static_cast<QObject *>(m_editor)->event(key);
            return true;
        }
    }
    return QObject::eventFilter(watched, e);
}

void SqlCompleter::keyHandled(QKeyEvent *e)
{
    if (!m_provider)
        return;
    const QString text = e->text();
    const bool typed = !text.isEmpty() && text.at(0).isPrint()
        && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    const bool erased = e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete;
    if (typed || (popupVisible() && (erased || e->key() == Qt::Key_Left
                                     || e->key() == Qt::Key_Right)))
        update();
    else if (popupVisible() && !isModifierKey(e->key()))
        hidePopup();
}

void SqlCompleter::inputMethodHandled(QInputMethodEvent *e)
{
    // A commit is typing; a preedit alone is not text yet.
    if (m_provider && !e->commitString().isEmpty() && e->preeditString().isEmpty())
        update();
}

void SqlCompleter::update()
{
    const QString text = m_editor->toPlainText();
    const CompletionSite site = CompletionSite::at(text, m_editor->textCursor().position());
    // A name needs one typed character, except right after `qualifier.`.
    const bool wanted = site.place != CompletionSite::None
        && (!site.prefix.isEmpty() || site.place == CompletionSite::Column);
    const QStringList entries = wanted ? m_provider(site) : QStringList();
    if (entries.isEmpty()) {
        hidePopup();
        return;
    }
    m_model->setStringList(entries);
    QAbstractItemView *popup = m_completer->popup();
    QRect rect = m_editor->cursorRect();
    rect.setWidth(popup->sizeHintForColumn(0) + popup->verticalScrollBar()->sizeHint().width());
    m_completer->complete(rect);
    popup->setCurrentIndex(m_completer->completionModel()->index(0, 0));
}

void SqlCompleter::insert(const QString &entry)
{
    if (entry.isEmpty())
        return;
    // Found again: the text may have changed since the popup was filled.
    const CompletionSite site =
        CompletionSite::at(m_editor->toPlainText(), m_editor->textCursor().position());
    QTextCursor cursor = m_editor->textCursor();
    if (site.place != CompletionSite::None)
        cursor.setPosition(int(site.start), QTextCursor::KeepAnchor);
    cursor.insertText(entry);
    m_editor->setTextCursor(cursor);
    hidePopup();
}

void SqlCompleter::hidePopup()
{
    if (popupVisible())
        m_completer->popup()->hide();
}
