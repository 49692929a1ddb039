// Measures the result grid on a large query against a real server and prints
// each figure beside the reference measured in the same run: the mariadb
// command-line client fetching the same result.
//
//   velquin_bench [--rows N]      (server from VELQUIN_TEST_* variables)

#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "ResultExporter.h"
#include "ResultModel.h"
#include "BenchSupport.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Database = QStringLiteral("vq_bench");

struct ClientRun
{
    double ms = 0;
    long peakKiB = 0;
};

// The reference: `mariadb --batch -e "select ..."` with its output thrown
// away, or written to a file.
ClientRun runClient(const TestServer &server, const QString &sql, const char *output = "/dev/null")
{
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        setenv("MYSQL_PWD", server.password.toLocal8Bit().constData(), 1);
        const QByteArray host = server.host.toLocal8Bit(), port = QByteArray::number(server.port),
                         user = server.user.toLocal8Bit(), db = Database.toLocal8Bit(),
                         query = sql.toUtf8();
        execlp("mariadb", "mariadb", "--no-defaults", "--batch", "-h", host.constData(), "-P",
               port.constData(), "-u", user.constData(), db.constData(), "-e", query.constData(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    ClientRun run;
    run.ms = double(clock.nsecsElapsed()) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.ms = -1;
    return run;
}

bool prepareTable(const TestServer &server, int rows, QString &table)
{
    table = QStringLiteral("items_%1").arg(rows);
    QSqlDatabase db = server.check(QStringLiteral("setup"), Database);
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)) && q.next()
        && q.value(0).toInt() == rows)
        return true;
    std::printf("creating %s (%d rows)...\n", qPrintable(table), rows);
    const bool ok = q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(table))
        && q.exec(QStringLiteral("CREATE TABLE %1 (id INT PRIMARY KEY, name VARCHAR(40), qty INT, "
                                 "price DECIMAL(10,2), created DATETIME, note VARCHAR(100)) "
                                 "CHARACTER SET utf8mb4").arg(table))
        && q.exec(QStringLiteral("INSERT INTO %1 SELECT seq, CONCAT('商品', seq), seq %% 1000, "
                                 "(seq %% 100000) / 100, TIMESTAMP'2024-01-01 00:00:00' + INTERVAL seq SECOND, "
                                 "CONCAT('備考：日本語のテキストです。番号', seq) FROM seq_1_to_%2")
                      .arg(table).arg(rows).replace(QStringLiteral("%%"), QStringLiteral("%")));
    if (!ok)
        std::printf("setup failed: %s\n", qPrintable(q.lastError().text()));
    return ok;
}

// Every other column a number, the rest text: 4,096 of them, 300 rows.
QString wideQuery()
{
    QStringList columns;
    for (int c = 1; c <= 4096; ++c)
        columns << (c % 2 ? QStringLiteral("seq + %1 as c%1") : QStringLiteral("concat('値', seq, '_%1') as c%1")).arg(c);
    return QStringLiteral("select %1 from seq_1_to_300").arg(columns.join(QStringLiteral(", ")));
}

double timed(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    return double(clock.nsecsElapsed()) / 1e6;
}

// What one run measures, printed at the end.
struct Figures
{
    int rows = 0;
    int columns = 0;
    std::vector<double> clientMs, firstScreen, ctrlEnd, steps, exportMs, clientFileMs, wideMs;
    long clientPeak = 0;
    double stallMs = 0, loadMs = 0, copyMs = 0, sortMs = 0, sortBackMs = 0;
    qint64 growthKiB = 0, exportBytes = 0, clientBytes = 0;
    bool atEnd = false;
    int wideColumns = 0;
};

bool measureClient(const TestServer &server, const QString &sql, Figures &f)
{
    for (int i = 0; i < 3; ++i) {
        const ClientRun run = runClient(server, sql);
        if (run.ms < 0) {
            std::printf("the mariadb client failed\n");
            return false;
        }
        f.clientMs.push_back(run.ms);
        f.clientPeak = std::max(f.clientPeak, run.peakKiB);
    }
    return true;
}

// F5 to the first screen, and the first screen's model until its last row.
double runToFirstScreen(QZQuorvinWindow &window, QTableView *grid)
{
    // rows of the previous round are freed with their model
    QAbstractItemModel *previous = grid->model();
    return timed([&] {
        window.findChild<QAction *>(QStringLiteral("m_pExecAct"))->trigger();
        waitUntil([&] { return grid->model() != previous; });
        grid->viewport()->repaint();
    });
}

bool measureLoading(QZQuorvinWindow &window, QTableView *grid, Figures &f)
{
    for (int i = 0; i < 3; ++i) {
        const qint64 before = residentKiB();
        f.firstScreen.push_back(runToFirstScreen(window, grid));
        auto *model = qobject_cast<ResultModel *>(grid->model());
        if (!model) {
            std::printf("the query gave no rows\n");
            return false;
        }
        // While the rest arrives, a 1 ms timer measures how long the event
        // loop is ever kept from running.
        QElapsedTimer sinceTick, loading;
        sinceTick.start();
        loading.start();
        double worst = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        tick.start();
        QSignalSpy finished(model, &ResultModel::loadingFinished);
        while (model->isLoading())
            finished.wait(60000);
        tick.stop();
        if (i == 0) {
            f.loadMs = double(loading.nsecsElapsed()) / 1e6;
            f.stallMs = worst;
            f.growthKiB = residentKiB() - before;
        }
        if (model->rowCount() != f.rows || model->loadFailed()) {
            std::printf("loaded %d of %d rows\n", model->rowCount(), f.rows);
            return false;
        }
    }
    return true;
}

void measureScrolling(QTableView *grid, Figures &f)
{
    for (int i = 0; i < 5; ++i) {
        grid->scrollToTop();
        grid->viewport()->repaint();
        f.ctrlEnd.push_back(timed([&] {
            QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
            grid->viewport()->repaint();
        }));
    }
    f.atEnd = grid->currentIndex().row() == f.rows - 1;
    grid->scrollTo(grid->model()->index(std::min(900000, f.rows - 1) - 20, 0), QAbstractItemView::PositionAtTop);
    grid->viewport()->repaint();
    QScrollBar *bar = grid->verticalScrollBar();
    for (int i = 0; i < 40; ++i) {
        f.steps.push_back(timed([&] {
            bar->setValue(bar->value() + (i % 2 ? -1 : 1));
            grid->viewport()->repaint();
        }));
    }
}

// Copy, sort and export of the whole loaded result.
void measureCopySortExport(QZQuorvinWindow &window, QTableView *grid, const TestServer &server,
                           const QString &sql, const QString &scratch, Figures &f)
{
    auto *model = qobject_cast<ResultModel *>(grid->model());
    f.columns = model->columnCount();
    grid->selectAll();
    f.copyMs = timed([&] { window.findChild<QAction *>(QStringLiteral("m_pCopyCellsAct"))->trigger(); });
    grid->clearSelection();
    f.sortMs = timed([&] { model->sort(3, Qt::AscendingOrder); });
    f.sortBackMs = timed([&] { model->sort(3, Qt::DescendingOrder); });
    model->sort(-1);
    const QByteArray exportPath = (scratch + QStringLiteral("/export.csv")).toLocal8Bit();
    const QByteArray clientPath = (scratch + QStringLiteral("/client.tsv")).toLocal8Bit();
    for (int i = 0; i < 3; ++i) {
        f.clientFileMs.push_back(runClient(server, sql, clientPath.constData()).ms);
        ResultExporter::Options csv;
        csv.format = ResultExporter::Format::Csv;
        csv.header = csv.byteOrderMark = true;
        f.exportMs.push_back(timed([&] {
            ResultExporter(*model, csv).writeFile(QString::fromLocal8Bit(exportPath));
        }));
    }
    f.exportBytes = QFileInfo(QString::fromLocal8Bit(exportPath)).size();
    f.clientBytes = QFileInfo(QString::fromLocal8Bit(clientPath)).size();
}

// A wide result: 4,096 columns x 300 rows, F5 to the first screen.
void measureWide(QZQuorvinWindow &window, QTableView *grid, Figures &f)
{
    window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))
        ->currentPage()
        ->setPlainText(wideQuery());
    for (int i = 0; i < 3; ++i) {
        f.wideMs.push_back(runToFirstScreen(window, grid));
        waitUntil([&] { return !qobject_cast<ResultModel *>(grid->model())->isLoading(); });
    }
    f.wideColumns = grid->model()->columnCount();
}

void printFigures(const Figures &f)
{
    const double client = median(f.clientMs);
    const double first = median(f.firstScreen);
    std::printf("rows                 %d (%d columns)\n", f.rows, f.columns);
    std::printf("client fetch         %.1f ms (median of 3; mariadb --batch to /dev/null)\n", client);
    std::printf("first screen         %.1f ms (median of 3), ratio %.3f of the client (target <= 0.05)\n",
                first, first / client);
    std::printf("all rows loaded      %.1f ms after the first screen\n", f.loadMs);
    std::printf("longest loop stall   %.1f ms while loading (target <= 50)\n", f.stallMs);
    std::printf("Ctrl+End             %.2f ms (median of 5; target <= 20), landed on the last row: %s\n",
                median(f.ctrlEnd), f.atEnd ? "yes" : "no");
    std::printf("scroll step @900k    %.2f ms median, %.2f ms worst of 40 (target <= 5)\n",
                median(f.steps), *std::max_element(f.steps.begin(), f.steps.end()));
    std::printf("memory growth        %.1f MiB, client peak RSS %.1f MiB, ratio %.3f (target <= 1.0)\n",
                f.growthKiB / 1024.0, f.clientPeak / 1024.0, double(f.growthKiB) / double(f.clientPeak));
    std::printf("copy all rows         %.1f ms (Ctrl+C with every cell selected; target <= 2000)\n", f.copyMs);
    std::printf("sort by DECIMAL       %.1f ms ascending, %.1f ms descending (target <= 1000)\n",
                f.sortMs, f.sortBackMs);
    std::printf("export to CSV         %.1f ms (median of 3, %.1f MiB); client to a file %.1f ms "
                "(%.1f MiB), ratio %.3f (target <= 0.5)\n",
                median(f.exportMs), f.exportBytes / 1048576.0, median(f.clientFileMs),
                f.clientBytes / 1048576.0, median(f.exportMs) / median(f.clientFileMs));
    std::printf("wide first screen     %.1f ms (median of 3; %d columns x 300 rows; target <= 500)\n",
                median(f.wideMs), f.wideColumns);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Figures f;
    f.rows = 1000000;
    const QStringList args = app.arguments();
    if (const int at = args.indexOf(QStringLiteral("--rows")); at > 0 && at + 1 < args.size())
        f.rows = args[at + 1].toInt();

    const std::optional<TestServer> found = benchServer(Database);
    if (!found)
        return 1;
    const TestServer &server = *found;
    QString table;
    if (!prepareTable(server, f.rows, table))
        return 1;
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    const QString sql = QStringLiteral("select * from %1").arg(table);
    if (!measureClient(server, sql, f))
        return 1;

    ScratchDirectory scratch;
    QZQuorvinWindow window;
    window.InitWindow();
    window.resize(1280, 800);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    if (!connectWindow(window, server.params(Database))
        || !QSqlDatabase::contains(QStringLiteral("MySQL"))) {
        std::printf("could not connect\n");
        return 1;
    }
    auto *grid = window.findChild<QTableView *>(QStringLiteral("m_pDataTable"));
    window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))->currentPage()->setPlainText(sql);
    if (!measureLoading(window, grid, f))
        return 1;
    measureScrolling(grid, f);
    measureCopySortExport(window, grid, server, sql, scratch.path(), f);
    measureWide(window, grid, f);
    printFigures(f);
    window.findChild<QAction *>(QStringLiteral("m_pDisconnectAct"))->trigger();
    return f.atEnd ? 0 : 1;
}
