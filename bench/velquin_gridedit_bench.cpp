// One edited cell in a result of a million rows, all loaded: the time from
// Apply to the commit question (the UPDATE has run in its transaction),
// beside the same UPDATE in a transaction through the `mariadb` client, in
// the same run.
//
//   velquin_gridedit_bench [--rows N]   (server from VELQUIN_TEST_* variables)

#include "BenchSupport.h"
#include "DatabaseConnection.h"
#include "GridEditApply.h"
#include "ResultModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

namespace {

const QString Database = QStringLiteral("vq_bench");

std::unique_ptr<ResultModel> loadAll(DatabaseConnection &connection, const QString &sql)
{
    std::unique_ptr<ResultModel> model;
    bool decided = false;
    connection.run(sql, false, [&](const StatementResult &result) {
        if (result.kind != StatementResult::Rows)
            return;
        model = std::make_unique<ResultModel>(result.columns, result.firstRows);
        QObject::connect(model.get(), &ResultModel::editabilityDecided, [&decided] { decided = true; });
        model->setStatement(sql);
        model->follow(&connection, result.streamId);
    });
    if (!waitUntil([&] { return decided; }, 600000))
        return nullptr;
    return model;
}

double clientUpdate(const TestServer &server, const QString &sql)
{
    QProcess mariadb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), server.password);
    mariadb.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    mariadb.start(QStringLiteral("mariadb"),
                  { QStringLiteral("--no-defaults"), QStringLiteral("-h"), server.host,
                    QStringLiteral("-P"), QString::number(server.port), QStringLiteral("-u"),
                    server.user, Database, QStringLiteral("-e"),
                    QStringLiteral("BEGIN; ") + sql + QStringLiteral("; ROLLBACK") });
    if (!mariadb.waitForFinished(60000) || mariadb.exitCode() != 0)
        return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int rows = 1000000;
    const QStringList args = app.arguments();
    if (const int at = args.indexOf(QStringLiteral("--rows")); at > 0 && at + 1 < args.size())
        rows = args[at + 1].toInt();
    const std::optional<TestServer> found = benchServer(Database);
    if (!found)
        return 1;
    const TestServer &server = *found;
    const QSqlDatabase check = server.check(QStringLiteral("check"), Database);
    if (!exec(check, "DROP TABLE IF EXISTS edit_rows")
        || !exec(check, "CREATE TABLE edit_rows (id INT PRIMARY KEY, name VARCHAR(40), qty INT) "
                        "ENGINE=InnoDB")
        || !exec(check, QStringLiteral("INSERT INTO edit_rows SELECT seq, CONCAT('row ', seq), "
                                       "seq % 100 FROM seq_1_to_%1").arg(rows)))
        return 1;

    DatabaseConnection connection;
    if (!openAndWait(connection, server.params(Database)))
        return 1;
    const std::unique_ptr<ResultModel> model = loadAll(connection, QStringLiteral("select * from edit_rows"));
    if (!model || !model->isEditable() || model->rowCount() != rows) {
        std::printf("the result did not load as editable: %s\n",
                    model ? qPrintable(model->readOnlyReason()) : "no result");
        return 1;
    }
    GridEditApply apply(&connection);
    QElapsedTimer clock;
    std::vector<double> ours, client;
    apply.setCommitQuestion([&](const QueryExecutor::Change &) {
        ours.push_back(double(clock.nsecsElapsed()) / 1e6);
        return QueryExecutor::No;
    });
    for (int round = 0; round < 5; ++round) {
        const int row = rows / 2 + round;
        model->setData(model->index(row, 1), QStringLiteral("edited %1").arg(round));
        const QList<EditBuffer::Change> changes = model->pendingChanges();
        bool finished = false;
        QObject::connect(&apply, &GridEditApply::finished, [&finished] { finished = true; });
        clock.start();
        if (!apply.apply(model.get()) || !waitUntil([&] { return finished; }, 60000))
            return 1;
        QObject::disconnect(&apply, &GridEditApply::finished, nullptr, nullptr);
        model->discardEdits();
        client.push_back(clientUpdate(server, changes.value(0).sql));
    }
    if (ours.size() != 5 || median(client) < 0) {
        std::printf("a round did not reach the commit question\n");
        return 1;
    }
    std::printf("one edited cell of %d rows, Apply to the commit question %.1f ms (median of 5, "
                "target <= 100); the same UPDATE in a transaction through mariadb -e %.1f ms\n",
                rows, median(ours), median(client));
    return 0;
}
