#include "SchemaPanel.h"

#include "SchemaCompletion.h"
#include "SchemaLoader.h"
#include "SchemaModel.h"
#include "StatementKeywords.h"

#include <QLineEdit>
#include <QTreeView>
#include <QVBoxLayout>

SchemaPanel::SchemaPanel(QWidget *parent)
    : QDockWidget(QStringLiteral("スキーマ"), parent)
    , m_pModel(new SchemaModel(this))
    , m_pLoader(new SchemaLoader(this))
    , m_completion(std::make_shared<SchemaCompletion>())
{
    setObjectName(QStringLiteral("m_pSchemaDock"));
    auto *body = new QWidget(this);
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    m_pSchemaFilter = new QLineEdit(body);
    m_pSchemaFilter->setObjectName(QStringLiteral("m_pSchemaFilter"));
    m_pSchemaFilter->setPlaceholderText(QStringLiteral("テーブル名で絞り込み"));
    m_pSchemaFilter->setClearButtonEnabled(true);
    layout->addWidget(m_pSchemaFilter);
    m_pSchemaTree = new QTreeView(body);
    m_pSchemaTree->setObjectName(QStringLiteral("m_pSchemaTree"));
    m_pSchemaTree->setHeaderHidden(true);
    // Ten thousand rows lay out at once only when each is one line high.
    m_pSchemaTree->setUniformRowHeights(true);
    m_pSchemaTree->setExpandsOnDoubleClick(false);
    m_pSchemaTree->setModel(m_pModel);
    layout->addWidget(m_pSchemaTree);
    setWidget(body);

    connect(m_pSchemaFilter, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_pModel->setFilter(text);
        expandAgain();
    });
    connect(m_pLoader, &SchemaLoader::loaded, this,
            [this](std::shared_ptr<const SchemaSnapshot> snapshot) {
                m_completion->setSnapshot(snapshot);
                m_pModel->setMessage(snapshot->databases.isEmpty()
                                         ? QStringLiteral("（見えるデータベースがありません）")
                                         : QString());
                m_pModel->setSnapshot(std::move(snapshot));
                expandAgain();
            });
    connect(m_pLoader, &SchemaLoader::failed, this, [this](const QString &text) {
        m_pModel->setMessage(text);
        expandAgain();
    });
    connect(m_pSchemaTree, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        if (index.data(SchemaModel::KindRole).toInt() == SchemaModel::TableItem)
            m_expandedTables.insert(index.data(SchemaModel::NameRole).toString());
    });
    connect(m_pSchemaTree, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        m_expandedTables.remove(index.data(SchemaModel::NameRole).toString());
    });
    connect(m_pSchemaTree, &QTreeView::doubleClicked, this, &SchemaPanel::itemActivated);
}

SchemaPanel::~SchemaPanel() = default;

void SchemaPanel::open(const ConnectionParams &params)
{
    m_expandedTables.clear();
    m_pModel->clear();
    m_completion->setSnapshot(nullptr);
    m_pModel->setMessage(QStringLiteral("読み込み中…"));
    m_pLoader->open(params);
}

void SchemaPanel::close()
{
    m_pLoader->close();
    m_completion->setSnapshot(nullptr);
    m_pModel->clear();
}

void SchemaPanel::refresh()
{
    m_pLoader->refresh();
}

std::function<QStringList(const CompletionSite &)> SchemaPanel::completionProvider() const
{
    std::shared_ptr<SchemaCompletion> completion = m_completion;
    return [completion](const CompletionSite &site) { return completion->entries(site); };
}

void SchemaPanel::expandAgain()
{
    // Opening a node lays out every row below it at once: past this many
    // the database stays closed until the user opens it or the filter
    // narrows it down, so that loading and typing in the filter never stall.
    constexpr int MaxOpenedRows = 20000;
    const QModelIndex database = m_pModel->currentDatabaseIndex();
    if (!database.isValid() || m_pModel->rowCount(database) > MaxOpenedRows)
        return;
    m_pSchemaTree->expand(database);
    for (const QString &name : std::as_const(m_expandedTables)) {
        const QModelIndex table = m_pModel->tableIndex(name);
        if (table.isValid())
            m_pSchemaTree->expand(table);
    }
}

void SchemaPanel::itemActivated(const QModelIndex &index)
{
    const int kind = index.data(SchemaModel::KindRole).toInt();
    if (kind == SchemaModel::TableItem || kind == SchemaModel::ColumnItem)
        emit nameChosen(SchemaCompletion::quoted(index.data(SchemaModel::NameRole).toString()));
}

void SchemaPanel::statementRan(const QString &statement)
{
    static const QStringList namesChange = { QStringLiteral("create"), QStringLiteral("drop"),
                                             QStringLiteral("alter"), QStringLiteral("rename") };
    if (natureOf(statement) == StatementNature::ImplicitCommit
        && namesChange.contains(firstKeyword(statement)))
        refresh();
}
