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

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = 1000000;
    const QStringList args = app.arguments();
    if (const int at = args.indexOf(QStringLiteral("--rows")); at > 0 && at + 1 < args.size())
        rows = args[at + 1].toInt();

    const std::optional<TestServer> found = benchServer(Database);
    if (!found)
        return 1;
    const TestServer &server = *found;
    QString table;
    if (!prepareTable(server, rows, table))
        return 1;
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    const QString sql = QStringLiteral("select * from %1").arg(table);

    std::vector<double> clientMs;
    long clientPeak = 0;
    for (int i = 0; i < 3; ++i) {
        const ClientRun run = runClient(server, sql);
        if (run.ms < 0) {
            std::printf("the mariadb client failed\n");
            return 1;
        }
        clientMs.push_back(run.ms);
        clientPeak = std::max(clientPeak, run.peakKiB);
    }

    ScratchDirectory scratch;
    QZQuorvinWindow window;
    window.InitWindow();
    window.resize(1280, 800);
    window.show();
    QTest::qWaitForWindowExposed(&window);
    if (!connectWindow(window, server.params(Database))
        || !QSqlDatabase::contains(QStringLiteral("MySQL"))) {
        std::printf("could not connect\n");
        return 1;
    }
    auto *grid = window.findChild<QTableView *>(QStringLiteral("m_pDataTable"));
    window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))->currentPage()->setPlainText(sql);

    std::vector<double> firstScreen;
    double stallMs = 0, loadMs = 0;
    qint64 growthKiB = 0;
    for (int i = 0; i < 3; ++i) {
        const qint64 before = residentKiB();
        // rows of the previous round are freed with their model
        QAbstractItemModel *previous = grid->model();
        firstScreen.push_back(timed([&] {
            window.findChild<QAction *>(QStringLiteral("m_pExecAct"))->trigger();
            waitUntil([&] { return grid->model() != previous; });
            grid->viewport()->repaint();
        }));
        auto *model = qobject_cast<ResultModel *>(grid->model());
        if (!model) {
            std::printf("the query gave no rows\n");
            return 1;
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
            loadMs = double(loading.nsecsElapsed()) / 1e6;
            stallMs = worst;
            growthKiB = residentKiB() - before;
        }
        if (model->rowCount() != rows || model->loadFailed()) {
            std::printf("loaded %d of %d rows\n", model->rowCount(), rows);
            return 1;
        }
    }

    std::vector<double> ctrlEnd;
    for (int i = 0; i < 5; ++i) {
        grid->scrollToTop();
        grid->viewport()->repaint();
        ctrlEnd.push_back(timed([&] {
            QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
            grid->viewport()->repaint();
        }));
    }
    const bool atEnd = grid->currentIndex().row() == rows - 1;

    grid->scrollTo(grid->model()->index(std::min(900000, rows - 1) - 20, 0), QAbstractItemView::PositionAtTop);
    grid->viewport()->repaint();
    std::vector<double> steps;
    QScrollBar *bar = grid->verticalScrollBar();
    for (int i = 0; i < 40; ++i) {
        steps.push_back(timed([&] {
            bar->setValue(bar->value() + (i % 2 ? -1 : 1));
            grid->viewport()->repaint();
        }));
    }

    // Copy, sort and export of the whole loaded result.
    auto *model = qobject_cast<ResultModel *>(grid->model());
    const int columns = model->columnCount();
    grid->selectAll();
    const double copyMs = timed([&] {
        window.findChild<QAction *>(QStringLiteral("m_pCopyCellsAct"))->trigger();
    });
    grid->clearSelection();
    const double sortMs = timed([&] { model->sort(3, Qt::AscendingOrder); });
    const double sortBackMs = timed([&] { model->sort(3, Qt::DescendingOrder); });
    model->sort(-1);
    const QByteArray exportPath = (scratch.path() + QStringLiteral("/export.csv")).toLocal8Bit();
    const QByteArray clientPath = (scratch.path() + QStringLiteral("/client.tsv")).toLocal8Bit();
    std::vector<double> exportMs, clientFileMs;
    for (int i = 0; i < 3; ++i) {
        clientFileMs.push_back(runClient(server, sql, clientPath.constData()).ms);
        ResultExporter::Options csv;
        csv.format = ResultExporter::Format::Csv;
        csv.header = csv.byteOrderMark = true;
        exportMs.push_back(timed([&] {
            ResultExporter(*model, csv).writeFile(QString::fromLocal8Bit(exportPath));
        }));
    }
    const qint64 exportBytes = QFileInfo(QString::fromLocal8Bit(exportPath)).size();
    const qint64 clientBytes = QFileInfo(QString::fromLocal8Bit(clientPath)).size();

    // A wide result: 4,096 columns x 300 rows, F5 to the first screen.
    window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))
        ->currentPage()
        ->setPlainText(wideQuery());
    std::vector<double> wideMs;
    for (int i = 0; i < 3; ++i) {
        QAbstractItemModel *previous = grid->model();
        wideMs.push_back(timed([&] {
            window.findChild<QAction *>(QStringLiteral("m_pExecAct"))->trigger();
            waitUntil([&] { return grid->model() != previous; });
            grid->viewport()->repaint();
        }));
        waitUntil([&] { return !qobject_cast<ResultModel *>(grid->model())->isLoading(); });
    }
    const int wideColumns = grid->model()->columnCount();

    const double client = median(clientMs);
    const double first = median(firstScreen);
    std::printf("rows                 %d (%d columns)\n", rows, columns);
    std::printf("client fetch         %.1f ms (median of 3; mariadb --batch to /dev/null)\n", client);
    std::printf("first screen         %.1f ms (median of 3), ratio %.3f of the client (target <= 0.05)\n",
                first, first / client);
    std::printf("all rows loaded      %.1f ms after the first screen\n", loadMs);
    std::printf("longest loop stall   %.1f ms while loading (target <= 50)\n", stallMs);
    std::printf("Ctrl+End             %.2f ms (median of 5; target <= 20), landed on the last row: %s\n",
                median(ctrlEnd), atEnd ? "yes" : "no");
    std::printf("scroll step @900k    %.2f ms median, %.2f ms worst of 40 (target <= 5)\n",
                median(steps), *std::max_element(steps.begin(), steps.end()));
    std::printf("memory growth        %.1f MiB, client peak RSS %.1f MiB, ratio %.3f (target <= 1.0)\n",
                growthKiB / 1024.0, clientPeak / 1024.0, double(growthKiB) / double(clientPeak));

    std::printf("copy all rows         %.1f ms (Ctrl+C with every cell selected; target <= 2000)\n", copyMs);
    std::printf("sort by DECIMAL       %.1f ms ascending, %.1f ms descending (target <= 1000)\n",
                sortMs, sortBackMs);
    std::printf("export to CSV         %.1f ms (median of 3, %.1f MiB); client to a file %.1f ms "
                "(%.1f MiB), ratio %.3f (target <= 0.5)\n",
                median(exportMs), exportBytes / 1048576.0, median(clientFileMs),
                clientBytes / 1048576.0, median(exportMs) / median(clientFileMs));
    std::printf("wide first screen     %.1f ms (median of 3; %d columns x 300 rows; target <= 500)\n",
                median(wideMs), wideColumns);

    window.findChild<QAction *>(QStringLiteral("m_pDisconnectAct"))->trigger();
    return atEnd ? 0 : 1;
}
