#pragma once

#include "CompletionSite.h"
#include "ConnectionParams.h"

#include <QDockWidget>
#include <QSet>

#include <functional>
#include <memory>

class QLineEdit;
class QTreeView;
class SchemaCompletion;
class SchemaLoader;
class SchemaModel;

// The dock that shows what the server holds, with a filter above the tree.
// It owns the loader and hands completion its names; the window only tells
// it when a connection opens or closes and when DDL has run.
class SchemaPanel : public QDockWidget
{
    Q_OBJECT

public:
    explicit SchemaPanel(QWidget *parent = nullptr);
    ~SchemaPanel() override;

    void open(const ConnectionParams &params);
    void close();
    void refresh();
    // A statement the program ran has ended: DDL changes what the tree shows.
    void statementRan(const QString &statement);
    // What completion on the editor's pages asks.
    std::function<QStringList(const CompletionSite &)> completionProvider() const;

    SchemaLoader *loader() const { return m_pLoader; }
    SchemaModel *model() const { return m_pModel; }
    QTreeView *tree() const { return m_pSchemaTree; }
    QLineEdit *filter() const { return m_pSchemaFilter; }

signals:
    // A table or column was double-clicked: its name, as it is to be typed.
    void nameChosen(const QString &name);

private:
    void expandAgain();
    void itemActivated(const QModelIndex &index);

    QLineEdit *m_pSchemaFilter;
    QTreeView *m_pSchemaTree;
    SchemaModel *m_pModel;
    SchemaLoader *m_pLoader;
    std::shared_ptr<SchemaCompletion> m_completion;
    QSet<QString> m_expandedTables;
};
