#pragma once

#include "CompletionSite.h"

#include <QObject>

#include <functional>

class QCompleter;
class QInputMethodEvent;
class QKeyEvent;
class QPlainTextEdit;
class QStringListModel;

// Completion on one editor page. The page knows no database: the entries
// come from a provider the window sets, asked with what the lexer finds at
// the cursor. Like Qt's customcompleter example, the popup takes the keys
// while it is open and hands every other key back to the editor.
class SqlCompleter : public QObject
{
    Q_OBJECT

public:
    // The entries for a site, in the order shown, each as it is to be
    // inserted (backquoted where the name needs it).
    using Provider = std::function<QStringList(const CompletionSite &site)>;

    explicit SqlCompleter(QPlainTextEdit *editor);
    ~SqlCompleter() override;

    void setProvider(Provider provider) { m_provider = std::move(provider); }
    QCompleter *completer() const { return m_completer; }
    bool popupVisible() const;

    // Before the editor handles a key: true when it belongs to the open
    // popup (Enter, Tab, Escape), which the editor must then ignore.
    bool popupTakes(QKeyEvent *e) const;
    // After the editor has handled a key or an input method's commit.
    void keyHandled(QKeyEvent *e);
    void inputMethodHandled(QInputMethodEvent *e);

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    bool isPopupKey(const QKeyEvent *e) const;
    void update();
    void insert(const QString &entry);
    void hidePopup();

    QPlainTextEdit *m_editor;
    QCompleter *m_completer;
    QStringListModel *m_model;
    Provider m_provider;
};
