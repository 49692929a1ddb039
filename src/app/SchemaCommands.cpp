// The schema dock's wiring: it opens with the connection, refreshes after
// DDL the program ran, and feeds completion on every editor page.

#include "QZQuorvinWindow.h"

#include "QZEditTabWidget.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "SchemaPanel.h"

#include <QMenu>
#include <QMenuBar>

void QZQuorvinWindow::setUpSchemaDock()
{
    m_pSchemaPanel = new SchemaPanel(this);
    m_pSchemaTree = m_pSchemaPanel->tree();
    m_pSchemaFilter = m_pSchemaPanel->filter();
    addDockWidget(Qt::LeftDockWidgetArea, m_pSchemaPanel);
    resizeDocks({ m_pSchemaPanel }, { 220 }, Qt::Horizontal);
    if (auto *viewMenu = menuBar()->findChild<QMenu *>(QStringLiteral("View Popup Menu")))
        viewMenu->addAction(m_pSchemaPanel->toggleViewAction());

    m_pTabWidget->setCompletionProvider(m_pSchemaPanel->completionProvider());
    connect(m_pSchemaPanel, &SchemaPanel::nameChosen, this, [this](const QString &name) {
        if (QZTextEdit *page = m_pTabWidget->currentPage()) {
            page->completeLoad();
            page->insertPlainText(name);
            page->setFocus();
        }
    });
    // Every statement that ran, from a tab or from a file, DDL included.
    connect(m_pExecutor, &QueryExecutor::statementRan, m_pSchemaPanel, &SchemaPanel::statementRan);
}
