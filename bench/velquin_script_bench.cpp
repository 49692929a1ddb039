// A script of 10,000 single-row INSERTs in one transaction, answered Yes:
// Velquin's time from F5's text to the commit, beside `mariadb < script.sql`
// running the same statements wrapped in one transaction, in the same run.
//
//   velquin_script_bench [--statements N]   (server from VELQUIN_TEST_* variables)

#include "DatabaseConnection.h"
#include "QueryExecutor.h"
#include "StatementSplitter.h"
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>

namespace {

const QString Database = QStringLiteral("vq_bench");

bool resetTable(const QSqlDatabase &check)
{
    return exec(check, "DROP TABLE IF EXISTS script_rows")
        && exec(check, "CREATE TABLE script_rows (id INT PRIMARY KEY, note VARCHAR(60)) "
                       "ENGINE=InnoDB CHARACTER SET utf8mb4");
}

// The mariadb client reading the script from a file: milliseconds, or -1.
double clientRun(const TestServer &server, const QString &path)
{
    QProcess mariadb;
    mariadb.setStandardInputFile(path);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), server.password);
    mariadb.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    mariadb.start(QStringLiteral("mariadb"),
                  { QStringLiteral("--no-defaults"), QStringLiteral("-h"), server.host,
                    QStringLiteral("-P"), QString::number(server.port), QStringLiteral("-u"),
                    server.user, Database });
    if (!mariadb.waitForFinished(600000) || mariadb.exitCode() != 0) {
        std::printf("the mariadb client failed: %s\n", mariadb.readAllStandardError().constData());
        return -1;
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

// The program's own run of the script, committed: milliseconds, or -1.
double ourRun(const TestServer &server, const QSqlDatabase &check, const QString &script,
              int statements)
{
    DatabaseConnection connection;
    if (!openAndWait(connection, server.params(Database)))
        return -1;
    QueryExecutor executor(&connection);
    executor.setCommitQuestion([](const QueryExecutor::Change &) { return QueryExecutor::Yes; });
    QString last;
    QObject::connect(&executor, &QueryExecutor::message,
                     [&last](const QString &text) { last = text; });
    QElapsedTimer clock;
    clock.start();
    executor.executeScript(splitStatements(script).statements);
    waitUntil([&] { return !executor.running(); }, 600000);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    const int stored = scalar(check, "SELECT COUNT(*) FROM script_rows").toInt();
    if (last != QStringLiteral("コミットしました。") || stored != statements) {
        std::printf("the script did not commit: %s, %d rows\n", qPrintable(last), stored);
        return -1;
    }
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int statements = 10000;
    const QStringList args = app.arguments();
    if (const int at = args.indexOf(QStringLiteral("--statements")); at > 0 && at + 1 < args.size())
        statements = args[at + 1].toInt();
    const std::optional<TestServer> found = benchServer(Database);
    if (!found)
        return 1;
    const TestServer &server = *found;
    const QSqlDatabase check = server.check(QStringLiteral("check"), Database);

    QString script;
    for (int i = 1; i <= statements; ++i)
        script += QStringLiteral("insert into script_rows values (%1, '行 %1 のメモ');\n").arg(i);
    QTemporaryFile file;
    if (!file.open())
        return 1;
    file.write("START TRANSACTION;\n" + script.toUtf8() + "COMMIT;\n");
    file.flush();

    std::vector<double> client, ours;
    for (int round = 0; round < 3; ++round) {
        if (!resetTable(check))
            return 1;
        client.push_back(clientRun(server, file.fileName()));
        if (client.back() < 0 || !resetTable(check))
            return 1;
        ours.push_back(ourRun(server, check, script, statements));
        if (ours.back() < 0)
            return 1;
    }
    std::printf("script of %d INSERTs   %.0f ms (median of 3); mariadb < script.sql %.0f ms, "
                "ratio %.2f (target <= 1.2)\n",
                statements, median(ours), median(client), median(ours) / median(client));
    return 0;
}
