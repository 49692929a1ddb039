// What the user does with the rows in the grid: sort, copy, export.

#include "QZQuorvinWindow.h"

#include "ResultExporter.h"
#include "ResultModel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QPointer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QTableView>

namespace {

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

} // namespace

void QZQuorvinWindow::setUpResultGrid()
{
    // The header's sort indicator drives the model's sort(); none at first.
    m_pDataTable->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_pDataTable->setSortingEnabled(true);

    createAction(m_pCopyCellsAct, "m_pCopyCellsAct", QStringLiteral("コピー"),
                 QKeySequence(QKeySequence::Copy));
    createAction(m_pCopyWithHeadersAct, "m_pCopyWithHeadersAct",
                 QStringLiteral("列名付きでコピー"), {});
    createAction(m_pCopyAsInsertAct, "m_pCopyAsInsertAct",
                 QStringLiteral("INSERT文としてコピー"), {});
    // Only while the grid has focus; elsewhere Ctrl+C is the editor's.
    m_pCopyCellsAct->setShortcutContext(Qt::WidgetShortcut);
    m_pDataTable->addActions({ m_pCopyCellsAct, m_pCopyWithHeadersAct, m_pCopyAsInsertAct });
    m_pDataTable->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_pDataTable->installEventFilter(this);

    connect(m_pCopyCellsAct, &QAction::triggered, this,
            [this] { copyResult(int(ResultExporter::Format::Tsv), false); });
    connect(m_pCopyWithHeadersAct, &QAction::triggered, this,
            [this] { copyResult(int(ResultExporter::Format::Tsv), true); });
    connect(m_pCopyAsInsertAct, &QAction::triggered, this,
            [this] { copyResult(int(ResultExporter::Format::SqlInsert), false); });
    connect(m_pExportAct, &QAction::triggered, this, &QZQuorvinWindow::exportResult);
}

bool QZQuorvinWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The Edit menu's Ctrl+C is a window-wide shortcut: claim the key while
    // the grid has focus, so that it copies cells, not editor text.
    if (watched == m_pDataTable
        && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            m_pCopyCellsAct->trigger();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void QZQuorvinWindow::copyResult(int format, bool withHeaders)
{
    const ResultModel *model = resultModel();
    if (!model || !m_pDataTable->selectionModel()->hasSelection())
        return;
    ResultExporter::Options options;
    options.format = ResultExporter::Format(format);
    options.header = withHeaders;
    // Pasted into a spreadsheet, "" and an empty field look the same anyway.
    options.quoteEmpty = false;
    ResultExporter exporter(*model, options);
    exporter.select(m_pDataTable->selectionModel()->selection());
    // A million rows take a moment: the window goes on painting meanwhile.
    QProgressDialog progress(QStringLiteral("コピーしています…"), QStringLiteral("キャンセル"), 0,
                             1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    bool complete = false;
    const QByteArray text = exporter.text(
        [&progress](qint64 done, qint64 total) {
            progress.setValue(total > 0 ? int(done * 1000 / total) : 1000);
            return !progress.wasCanceled();
        },
        &complete);
    progress.reset();
    if (!complete) {
        emit message(QStringLiteral("コピーを中止しました。"));
        return;
    }
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text));
}

void QZQuorvinWindow::exportResult()
{
    ResultModel *model = resultModel();
    if (!model) {
        emit message(QStringLiteral("エクスポートする結果がありません。"));
        return;
    }
    QStringList filters;
    for (const ExportFilter &f : ExportFilters)
        filters << QString::fromUtf16(f.text);
    QString chosenFilter;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("エクスポート"), QString(),
                                                      filters.join(QStringLiteral(";;")), &chosenFilter);
    if (path.isEmpty())
        return;

    // The filter decides unless the name's suffix says otherwise.
    const ExportFilter &filter = ExportFilters[qMax(0, int(filters.indexOf(chosenFilter)))];
    ResultExporter::Options options;
    options.header = true;
    bool known = false;
    options.format = ResultExporter::formatForSuffix(QFileInfo(path).suffix(), &known);
    if (!known)
        options.format = filter.format;
    options.byteOrderMark = options.format == ResultExporter::Format::Csv
        && (filter.format != ResultExporter::Format::Csv || filter.byteOrderMark);

    // An export holds every row: the rest of a stream comes in first.
    if (model->isLoading()) {
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
        if (!guard || guard->isLoading()) {
            emit message(QStringLiteral("エクスポートを中止しました。"));
            return;
        }
    }

    QProgressDialog progress(QStringLiteral("エクスポートしています…"), QStringLiteral("キャンセル"),
                             0, 1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    QString error;
    const ResultExporter exporter(*model, options);
    const auto outcome = exporter.writeFile(
        path,
        [&progress](qint64 done, qint64 total) {
            progress.setValue(total > 0 ? int(done * 1000 / total) : 1000);
            return !progress.wasCanceled();
        },
        &error);
    progress.reset();

    switch (outcome) {
    case ResultExporter::Outcome::Written:
        emit message(model->loadFailed()
                         ? QStringLiteral("エクスポートしました（結果は途中までです）。")
                         : QStringLiteral("エクスポートしました。"));
        break;
    case ResultExporter::Outcome::Cancelled:
        emit message(QStringLiteral("エクスポートを中止しました。"));
        break;
    case ResultExporter::Outcome::Failed:
        emit message(QStringLiteral("エクスポートできませんでした：%1").arg(error));
        break;
    }
}

void QZQuorvinWindow::fitColumnsToWidest(bool fresh)
{
    const ResultModel *model = resultModel();
    if (!model || (!fresh && model->widthVersion() == m_widthVersion))
        return;
    m_widthVersion = model->widthVersion();
    QHeaderView *columns = m_pDataTable->horizontalHeader();
    if (fresh)
        m_columnWidths.assign(size_t(columns->count()), -1);
    const QFontMetrics metrics = m_pDataTable->fontMetrics();
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
