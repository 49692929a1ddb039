// Real scripts at the client's speed, each beside the mariadb client on the
// same file in the same run:
// - a mariadb-dump of a table of N rows (1,000,000 by default: about 80 MB),
//   run from its file with ファイル → SQL ファイルを実行 (the executor's file
//   run): time against `mariadb < dump.sql` (target ≤ 1.2 ×), how much the
//   process grows while it runs (target ≤ 100 MB), and the longest stall of
//   the event loop (target ≤ 50 ms);
// - MariaDB's fill_help_tables.sql pasted into a tab and run with F5 through
//   the window, answered Yes: time against the client (target ≤ 1.5 ×) and
//   the longest stall.
//
//   velquin_file_bench [--rows N] [--no-help]   (server from VELQUIN_TEST_*
//       variables; VELQUIN_TEST_ADMIN for the help tables, which --no-help skips)

#include "BenchSupport.h"
#include "DatabaseConnection.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "QueryRun.h"
#include "ResultModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

const QString From = QStringLiteral("vq_bench_dump");
const QString To = QStringLiteral("vq_bench_load");

// The longest gap between ticks of a 5 ms timer: how long the window
// could not have answered a key or a repaint.
class StallMeter
{
public:
    StallMeter()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_worst = qMax(m_worst, m_clock.restart());
        });
        m_timer.start(5);
        m_clock.start();
    }
    qint64 worstMs() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

bool clientLoads(const TestServer &server, const QString &database, const QString &path,
                 double *ms)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), server.password);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(path);
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral("mariadb"), { "--no-defaults", "-h", server.host, "-P",
                                         QString::number(server.port), "-u", server.user,
                                         database });
    const bool ok = p.waitForFinished(1800000) && p.exitCode() == 0;
    *ms = double(clock.nsecsElapsed()) / 1e6;
    if (!ok)
        std::printf("the mariadb client failed: %s\n", p.readAllStandardError().constData());
    return ok;
}

bool makeDump(const TestServer &server, int rows, const QString &path)
{
    const QSqlDatabase check = server.check(QStringLiteral("dump"), From);
    const qint64 have = scalar(check, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES "
                                                     "WHERE TABLE_SCHEMA = '%1' AND TABLE_NAME = 'goods'")
                                          .arg(From))
                            .toLongLong();
    if (have == 0 || scalar(check, "SELECT COUNT(*) FROM goods").toLongLong() != rows) {
        if (!exec(check, "DROP TABLE IF EXISTS goods")
            || !exec(check, "CREATE TABLE goods (id INT PRIMARY KEY, code CHAR(10), name "
                            "VARCHAR(60), price DECIMAL(12,2), added DATETIME, note VARCHAR(100)) "
                            "ENGINE=InnoDB CHARACTER SET utf8mb4")
            || !exec(check, QStringLiteral("INSERT INTO goods SELECT seq, CONCAT('C', LPAD(seq, 9, "
                                           "'0')), CONCAT('商品 ', seq), seq % 100000 / 100, "
                                           "'2024-01-01' + INTERVAL seq MINUTE, CONCAT('メモ '"
                                           "'', seq, ''' と説明') FROM seq_1_to_%1")
                                .arg(rows)))
            return false;
    }
    QProcess dump;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), server.password);
    dump.setProcessEnvironment(env);
    dump.setStandardOutputFile(path);
    dump.start(QStringLiteral("mariadb-dump"),
               { "--no-defaults", "--hex-blob", "-h", server.host, "-P",
                 QString::number(server.port), "-u", server.user, From });
    return dump.waitForFinished(1800000) && dump.exitCode() == 0;
}

bool recreate(const TestServer &server, const QString &database)
{
    const QSqlDatabase check = server.check(QStringLiteral("recreate"), QString());
    return exec(check, QStringLiteral("DROP DATABASE IF EXISTS %1").arg(database))
        && exec(check, QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(database));
}

// The program's own run of the dump, agreeing to every question.
bool programLoads(const TestServer &server, const QString &path, double *ms, qint64 *growthKiB,
                  qint64 *stallMs)
{
    DatabaseConnection connection;
    if (!openAndWait(connection, server.params(To)))
        return false;
    QueryExecutor executor(&connection);
    executor.setCommitQuestion([](const QueryExecutor::Change &) { return QueryExecutor::Yes; });
    executor.setImplicitCommitQuestion([](const QStringList &) { return true; });
    QStringList statuses;
    QObject::connect(&executor, &QueryExecutor::message, [&](const QString &t) { statuses << t; });
    QObject::connect(&executor, &QueryExecutor::resultReady, [](ResultModel *m) { delete m; });
    const qint64 before = residentKiB();
    qint64 peak = before;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = qMax(peak, residentKiB()); });
    sampler.start(20);
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    executor.execute(QueryRun::fromFile(path, "UTF-8"));
    const bool done = waitUntil([&] { return !executor.running() && !connection.isBusy(); },
                                1800000);
    *ms = double(clock.nsecsElapsed()) / 1e6;
    *growthKiB = qMax(peak, residentKiB()) - before;
    *stallMs = stalls.worstMs();
    if (!done || statuses.contains(QStringLiteral("エラー")))
        std::printf("the program's run failed: %s\n", qPrintable(statuses.join(u" / ")));
    return done && !statuses.contains(QStringLiteral("エラー"));
}

int dumpFigures(const TestServer &server, int rows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dump.sql"));
    if (!makeDump(server, rows, path))
        return 1;
    const double mb = double(QFile(path).size()) / (1 << 20);
    double clientMs = 0, ourMs = 0;
    qint64 growth = 0, stall = 0;
    if (!recreate(server, To) || !clientLoads(server, To, path, &clientMs))
        return 1;
    if (!recreate(server, To) || !programLoads(server, path, &ourMs, &growth, &stall))
        return 1;
    const QSqlDatabase check = server.check(QStringLiteral("count"), To);
    const qint64 loaded = scalar(check, "SELECT COUNT(*) FROM goods").toLongLong();
    std::printf("dump of %d rows, %.1f MB, run from its file (%lld rows loaded)\n", rows, mb,
                qlonglong(loaded));
    std::printf("  mariadb < dump.sql         %9.0f ms\n", clientMs);
    std::printf("  Velquin, SQL ファイルを実行 %9.0f ms  = %.2f × the client   target ≤ 1.2 ×\n",
                ourMs, ourMs / clientMs);
    std::printf("  process growth while it ran %8.1f MB                      target ≤ 100 MB\n",
                double(growth) / 1024);
    std::printf("  longest event-loop stall    %8lld ms                      target ≤ 50 ms\n",
                qlonglong(stall));
    return loaded == rows ? 0 : 1;
}

int helpTablesFigures(const TestServer &admin)
{
    const QString path = QStringLiteral("/usr/share/mysql/fill_help_tables.sql");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("%s is missing (mariadb-server-core)\n", qPrintable(path));
        return 1;
    }
    const QString text = QString::fromUtf8(file.readAll());
    double clientMs = 0;
    if (!clientLoads(admin, QStringLiteral("mysql"), path, &clientMs))
        return 1;
    WindowSession session;
    session.start();
    if (!session.connect(admin.params(QStringLiteral("mysql"))))
        return 1;
    session.type(text);
    ModalAnswerer yes(QStringLiteral("ConfirmCommitMessageBox"),
                      [](QWidget *box) { static_cast<QMessageBox *>(box)->done(QMessageBox::Yes); },
                      600000);
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    session.trigger("m_pExecAct");
    waitUntil([&] { return session.idle() && yes.answered(); }, 600000);
    const double ourMs = double(clock.nsecsElapsed()) / 1e6;
    const bool committed = session.statuses().contains(QStringLiteral("コミットしました。"));
    std::printf("fill_help_tables.sql, %.1f MB, in a tab with F5\n", double(file.size()) / (1 << 20));
    std::printf("  mariadb < fill_help_tables.sql %6.0f ms\n", clientMs);
    std::printf("  Velquin, F5 to the commit      %6.0f ms  = %.2f × the client   target ≤ 1.5 ×%s\n",
                ourMs, ourMs / clientMs, committed ? "" : "  (NOT COMMITTED)");
    std::printf("  longest event-loop stall       %6lld ms                      target ≤ 50 ms\n",
                qlonglong(stalls.worstMs()));
    session.stop();
    return committed ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int rows = 1000000;
    const QStringList args = app.arguments();
    if (const int at = args.indexOf(QStringLiteral("--rows")); at > 0 && at + 1 < args.size())
        rows = args[at + 1].toInt();
    const std::optional<TestServer> found = benchServer(From);
    if (!found || !benchServer(To))
        return 1;
    int failed = dumpFigures(*found, rows);
    if (args.contains(QStringLiteral("--no-help")))
        return failed;
    TestServer admin = *found;
    admin.user = qEnvironmentVariable("VELQUIN_TEST_ADMIN");
    if (admin.user.isEmpty()) {
        std::printf("VELQUIN_TEST_ADMIN is not set: the help tables are not measured\n");
        return 1;
    }
    failed |= helpTablesFigures(admin);
    return failed;
}
