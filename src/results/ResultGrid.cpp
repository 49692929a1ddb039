#include "ResultGrid.h"

#include "ResultExporter.h"
#include "ResultModel.h"

#include <QAction>
#include <QClipboard>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMetaProperty>
#include <QStyledItemDelegate>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressDialog>

namespace {

// Leaving an editor without changing its text changes nothing: a NULL cell
// opened and left stays NULL instead of becoming ''.
class UnchangedKeepingDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override
    {
        const QByteArray property = editor->metaObject()->userProperty().name();
        if (editor->property(property.constData()) == index.data(Qt::EditRole))
            return;
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};

// The file dialog's filters, in the order of the formats they stand for.
struct ExportFilter
{
    const char16_t *text;
    ResultExporter::Format format;
    bool byteOrderMark;
};
const ExportFilter ExportFilters[] = {
    { u"CSV (*.csv)", ResultExporter::Format::Csv, true },
    { u"CSV、BOMなし (*.csv)", ResultExporter::Format::Csv, false },
    { u"TSV (*.tsv *.txt)", ResultExporter::Format::Tsv, false },
    { u"JSON (*.json)", ResultExporter::Format::Json, false },
    { u"SQL INSERT (*.sql)", ResultExporter::Format::SqlInsert, false },
};

ResultExporter::Progress showingProgress(QProgressDialog &progress)
{
    return [&progress](qint64 done, qint64 total) {
        progress.setValue(total > 0 ? int(done * 1000 / total) : 1000);
        return !progress.wasCanceled();
    };
}

// The filter decides unless the name's suffix says otherwise.
ResultExporter::Options exportOptions(const QString &path, const ExportFilter &filter)
{
    ResultExporter::Options options;
    options.header = true;
    bool known = false;
    options.format = ResultExporter::formatForSuffix(QFileInfo(path).suffix(), &known);
    if (!known)
        options.format = filter.format;
    options.byteOrderMark = options.format == ResultExporter::Format::Csv
        && (filter.format != ResultExporter::Format::Csv || filter.byteOrderMark);
    return options;
}

} // namespace

ResultGrid::ResultGrid(QWidget *parent)
    : QTableView(parent)
{
    setObjectName(QStringLiteral("m_pDataTable"));
    // Fixed row heights keep scrolling through millions of rows cheap.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setWordWrap(false);
    // The header's sort indicator drives the model's sort(); none at first.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    createCopyActions();
    setItemDelegate(new UnchangedKeepingDelegate(this));
    // The view opens no editor on a read-only cell; say why instead.
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        ResultModel *result = resultModel();
        if (result && !(result->flags(index) & Qt::ItemIsEditable))
            sayReadOnly(result->readOnlyReason());
    });
}

void ResultGrid::sayReadOnly(const QString &reason)
{
    emit message(QStringLiteral("この結果は編集できません: ") + reason);
}

void ResultGrid::createCopyActions()
{
    auto action = [this](QAction *&member, const char *name, const QString &text) {
        member = new QAction(text, this);
        member->setObjectName(QString::fromLatin1(name));
        member->setToolTip(text);
        addAction(member);
    };
    action(m_pCopyCellsAct, "m_pCopyCellsAct", QStringLiteral("コピー"));
    action(m_pCopyWithHeadersAct, "m_pCopyWithHeadersAct", QStringLiteral("列名付きでコピー"));
    action(m_pCopyAsInsertAct, "m_pCopyAsInsertAct", QStringLiteral("INSERT文としてコピー"));
    m_pCopyCellsAct->setShortcut(QKeySequence(QKeySequence::Copy));
    // Only while the grid has focus; elsewhere Ctrl+C is the editor's.
    m_pCopyCellsAct->setShortcutContext(Qt::WidgetShortcut);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(m_pCopyCellsAct, &QAction::triggered, this,
            [this] { copySelection(int(ResultExporter::Format::Tsv), false); });
    connect(m_pCopyWithHeadersAct, &QAction::triggered, this,
            [this] { copySelection(int(ResultExporter::Format::Tsv), true); });
    connect(m_pCopyAsInsertAct, &QAction::triggered, this,
            [this] { copySelection(int(ResultExporter::Format::SqlInsert), false); });
}

ResultModel *ResultGrid::resultModel() const
{
    return qobject_cast<ResultModel *>(model());
}

void ResultGrid::showModel(QAbstractItemModel *shown)
{
    if (model() == shown)
        return;
    if (model())
        disconnect(model(), &QAbstractItemModel::rowsInserted, this, &ResultGrid::fitGrownColumns);
    setModel(shown);
    scrollToTop();
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    fitColumnsToWidest(true);
    // Wider rows may still arrive: their columns grow with them.
    if (resultModel())
        connect(shown, &QAbstractItemModel::rowsInserted, this, &ResultGrid::fitGrownColumns,
                Qt::UniqueConnection);
}

bool ResultGrid::event(QEvent *event)
{
    // The Edit menu's Ctrl+C is a window-wide shortcut: the grid claims the
    // key while it has focus, so that it copies cells, not editor text.
    if (event->type() == QEvent::ShortcutOverride
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void ResultGrid::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        m_pCopyCellsAct->trigger();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ResultGrid::copySelection(int format, bool withHeaders)
{
    const ResultModel *model = resultModel();
    if (!model || !selectionModel()->hasSelection())
        return;
    ResultExporter::Options options;
    options.format = ResultExporter::Format(format);
    options.header = withHeaders;
    // Pasted into a spreadsheet, "" and an empty field look the same anyway.
    options.quoteEmpty = false;
    ResultExporter exporter(*model, options);
    exporter.select(selectionModel()->selection());
    // A million rows take a moment: the window goes on painting meanwhile.
    QProgressDialog progress(QStringLiteral("コピーしています…"), QStringLiteral("キャンセル"), 0,
                             1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    bool complete = false;
    const QByteArray text = exporter.text(showingProgress(progress), &complete);
    progress.reset();
    if (!complete) {
        emit message(QStringLiteral("コピーを中止しました。"));
        return;
    }
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text));
}

bool ResultGrid::waitForLastRow(ResultModel *model)
{
    if (!model->isLoading())
        return true;
    QProgressDialog waiting(QStringLiteral("残りの行を読み込んでいます…"),
                            QStringLiteral("キャンセル"), 0, 0, this);
    waiting.setWindowModality(Qt::WindowModal);
    waiting.setMinimumDuration(500);
    QEventLoop loop;
    QPointer<ResultModel> guard(model);
    connect(model, &ResultModel::loadingFinished, &loop, &QEventLoop::quit);
    connect(model, &QAbstractItemModel::rowsInserted, &waiting, [&waiting, model] {
        waiting.setLabelText(QStringLiteral("残りの行を読み込んでいます… %L1 行")
                                 .arg(model->rowCount()));
    });
    connect(&waiting, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    connect(model, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    return guard && !guard->isLoading();
}

void ResultGrid::exportResult()
{
    QPointer<ResultModel> model = resultModel();
    if (!model) {
        emit message(QStringLiteral("エクスポートする結果がありません。"));
        return;
    }
    QStringList filters;
    for (const ExportFilter &f : ExportFilters)
        filters << QString::fromUtf16(f.text);
    QString chosen;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("エクスポート"), QString(),
                                                      filters.join(QStringLiteral(";;")), &chosen);
    if (path.isEmpty())
        return;
    const auto options = exportOptions(path, ExportFilters[qMax(0, int(filters.indexOf(chosen)))]);
    // An export holds every row: the rest of a stream comes in first.
    if (!waitForLastRow(model)) {
        emit message(QStringLiteral("エクスポートを中止しました。"));
        return;
    }
    QProgressDialog progress(QStringLiteral("エクスポートしています…"), QStringLiteral("キャンセル"),
                             0, 1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    QString error;
    const auto outcome = ResultExporter(*model, options).writeFile(path, showingProgress(progress), &error);
    progress.reset();
    if (outcome == ResultExporter::Outcome::Written)
        emit message(model->loadFailed() ? QStringLiteral("エクスポートしました（結果は途中までです）。")
                                         : QStringLiteral("エクスポートしました。"));
    else if (outcome == ResultExporter::Outcome::Cancelled)
        emit message(QStringLiteral("エクスポートを中止しました。"));
    else
        emit message(QStringLiteral("エクスポートできませんでした：%1").arg(error));
}

void ResultGrid::fitGrownColumns()
{
    fitColumnsToWidest(false);
}

void ResultGrid::fitColumnsToWidest(bool fresh)
{
    const ResultModel *model = resultModel();
    if (!model || (!fresh && model->widthVersion() == m_widthVersion))
        return;
    m_widthVersion = model->widthVersion();
    QHeaderView *columns = horizontalHeader();
    if (fresh)
        m_columnWidths.assign(size_t(columns->count()), -1);
    const QFontMetrics metrics = fontMetrics();
    for (int c = 0; c < columns->count() && size_t(c) < m_columnWidths.size(); ++c) {
        int &applied = m_columnWidths[size_t(c)];
        if (applied >= 0 && columns->sectionSize(c) != applied)
            continue; // resized by the user: his width stays
        const int hint = model->columnWidthHint(c, metrics);
        if (applied < 0 || hint > applied) {
            columns->resizeSection(c, hint);
            applied = hint;
        }
    }
}
