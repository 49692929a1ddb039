// The one connection under faults: peers that go silent, statements that are
// cancelled or will not stop, results larger than allowed, a connection
// killed under a stream. The window's thread must never wait on any of it.

#include "DatabaseConnection.h"
#include "QueryExecutor.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

const QString Database = QStringLiteral("vq_conn");

// Sits between the client and the server and passes the server's first
// `packets` protocol packets on; after that, or once told, it says nothing
// more in either direction. With no upstream it never says anything.
class SilentProxy : public QTcpServer
{
public:
    SilentProxy(const TestServer &server, int packets)
        : m_server(server)
        , m_limit(packets)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, &SilentProxy::accept);
    }
    bool silent = false;

private:
    void accept()
    {
        QTcpSocket *client = nextPendingConnection();
        if (m_limit == 0)
            return; // accepted, and never a word
        auto *upstream = new QTcpSocket(client);
        auto buffer = std::make_shared<QByteArray>();
        auto sent = std::make_shared<int>(0);
        connect(client, &QTcpSocket::readyRead, upstream, [this, client, upstream] {
            const QByteArray bytes = client->readAll();
            if (!silent)
                upstream->write(bytes);
        });
        connect(upstream, &QTcpSocket::readyRead, client, [=] {
            buffer->append(upstream->readAll());
            while (!silent && buffer->size() >= 4) {
                const int length = quint8((*buffer)[0]) | quint8((*buffer)[1]) << 8
                    | quint8((*buffer)[2]) << 16;
                if (buffer->size() < 4 + length)
                    break;
                client->write(buffer->left(4 + length));
                buffer->remove(0, 4 + length);
                if (++*sent == m_limit)
                    silent = true;
            }
        });
        upstream->connectToHost(m_server.host, quint16(m_server.port));
    }

    TestServer m_server;
    int m_limit;
};

// Measures the longest time the event loop went without running.
struct StallMeter
{
    StallMeter()
    {
        clock.start();
        QObject::connect(&tick, &QTimer::timeout, [this] {
            worst = qMax(worst, clock.restart());
        });
        tick.start(5);
    }
    QTimer tick;
    QElapsedTimer clock;
    qint64 worst = 0;
};

} // namespace

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void openFailures_data();
    void openFailures();
    void silentPeers_data();
    void silentPeers();
    void cancel_data();
    void cancel();
    void cancelledChangeLeavesNothing();
    void resultStopsAtTheMemoryLimit();
    void connectionKilledUnderAStream();
    void closingWhileRowsStreamIsQuick();
    void statementThatWillNotStopLosesItsConnection();
    void closeDoesNotWaitForAKill();

private:
    TestServer m_server;
};

void tst_Connection::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    const QSqlDatabase check = m_server.check(QStringLiteral("check"), Database);
    QVERIFY(exec(check, "CREATE TABLE items (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB"));
    QVERIFY(exec(check, "INSERT INTO items VALUES (1, 'one'), (2, 'two')"));
}

void tst_Connection::openFailures_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("wrong password") << "password" << 1045 << "Access denied";
    QTest::newRow("nothing listening") << "port" << 2002 << "Can't connect";
}

void tst_Connection::openFailures()
{
    QFETCH(QString, what);
    QFETCH(int, code);
    QFETCH(QString, says);
    ConnectionParams params = m_server.params(Database);
    if (what == "password")
        params.password += "-wrong";
    if (what == "port") {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        params.port = closed.serverPort();
    }
    DatabaseConnection connection;
    DbError error{ -1, {}, {} };
    connection.open(params, [&](const DbError &e) { error = e; });
    QTRY_VERIFY(error.code != -1);
    QVERIFY2(error.code == code || (code == 2002 && error.code == 2003), qPrintable(error.text()));
    QVERIFY2(error.message.contains(says), qPrintable(error.text()));
    QCOMPARE(connection.state(), DatabaseConnection::Closed);
    QTRY_VERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
}

void tst_Connection::silentPeers_data()
{
    QTest::addColumn<int>("packets");
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("silent from the start") << 0 << false;
    QTest::newRow("silent after the login") << 2 << false;
    QTest::newRow("given up on by the user") << 0 << true;
}

void tst_Connection::silentPeers()
{
    QFETCH(int, packets);
    QFETCH(bool, cancelled);
    SilentProxy proxy(m_server, packets);
    ConnectionParams params = m_server.params(Database);
    params.port = proxy.serverPort();
    DatabaseConnection connection;
    connection.setConnectTimeout(2);
    StallMeter meter;
    QElapsedTimer clock;
    clock.start();
    DbError error{ -1, {}, {} };
    connection.open(params, [&](const DbError &e) { error = e; });
    if (cancelled)
        QTimer::singleShot(300, &connection, &DatabaseConnection::cancel);
    QTRY_VERIFY_WITH_TIMEOUT(error.code != -1, 10000);
    QVERIFY2(error.isSet(), "a silent peer cannot be connected");
    QCOMPARE(error.cancelled, cancelled);
    QVERIFY2(clock.elapsed() < 3500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(meter.worst < 200, qPrintable(QString::number(meter.worst)));
    QCOMPARE(connection.state(), DatabaseConnection::Closed);
    // The next connect works, whatever the last attempt still holds, and
    // the time limit of opening is not one of the statements.
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    const auto model = queryAll(connection, QStringLiteral("select sleep(2.5)"));
    QVERIFY(model);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("0"));
}

void tst_Connection::cancel_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("rowsKept");
    QTest::newRow("a long query") << "select sleep(30)" << false;
    QTest::newRow("a stream of rows") << "select seq from seq_1_to_50000000" << true;
}

void tst_Connection::cancel()
{
    QFETCH(QString, sql);
    QFETCH(bool, rowsKept);
    DatabaseConnection connection;
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    QueryExecutor executor(&connection);
    QSignalSpy messages(&executor, &QueryExecutor::message);
    std::unique_ptr<ResultModel> model;
    connect(&executor, &QueryExecutor::resultReady, this,
            [&](ResultModel *m) { model.reset(m); });
    executor.execute(sql);
    if (rowsKept)
        QTRY_VERIFY(model && model->rowCount() > 0);
    else
        QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    executor.cancel();
    QTRY_VERIFY(!connection.isBusy());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(messages.size(), 1);
    QCOMPARE(messages.first().first().toString(), QStringLiteral("キャンセルしました。"));
    if (rowsKept) {
        QCOMPARE(model->streamEnd().kind, StreamEnd::Cancelled);
        QVERIFY(model->rowCount() > 0 && model->rowCount() < 50000000);
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("1"));
    }
    // The next statement after a cancel runs as usual.
    const auto next = queryAll(connection, QStringLiteral("select 42"));
    QVERIFY(next);
    QCOMPARE(next->index(0, 0).data().toString(), QStringLiteral("42"));
}

void tst_Connection::cancelledChangeLeavesNothing()
{
    DatabaseConnection connection;
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    QueryExecutor executor(&connection);
    bool asked = false;
    executor.setCommitQuestion([&](const QueryExecutor::Change &) {
        asked = true;
        return QueryExecutor::Yes;
    });
    QSignalSpy messages(&executor, &QueryExecutor::message);
    executor.execute(QStringLiteral("update items set name = concat(name, sleep(10))"));
    QTest::qWait(400);
    executor.cancel();
    QTRY_VERIFY_WITH_TIMEOUT(!executor.running(), 5000);
    QVERIFY(!asked);
    QCOMPARE(messages.last().first().toString(), QStringLiteral("キャンセルしました。"));
    const QSqlDatabase check = QSqlDatabase::database(QStringLiteral("check"));
    QCOMPARE(scalar(check, "SELECT GROUP_CONCAT(name ORDER BY id) FROM items").toString(),
             QStringLiteral("one,two"));
    QCOMPARE(scalar(check, "SELECT COUNT(*) FROM information_schema.innodb_trx t JOIN "
                           "information_schema.processlist p ON p.id = t.trx_mysql_thread_id "
                           "WHERE p.db = 'vq_conn'")
                 .toInt(),
             0);
}

void tst_Connection::resultStopsAtTheMemoryLimit()
{
    DatabaseConnection connection;
    connection.setRowMemoryLimit(4 << 20);
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    const auto model =
        queryAll(connection, QStringLiteral("select seq, repeat('x', 200) from seq_1_to_200000"));
    QVERIFY(model);
    QCOMPARE(model->streamEnd().kind, StreamEnd::Cut);
    QVERIFY2(model->rowCount() > 1000 && model->rowCount() < 200000,
             qPrintable(QString::number(model->rowCount())));
    QCOMPARE(model->index(model->rowCount() - 1, 0).data().toInt(), model->rowCount());
    QVERIFY(queryAll(connection, QStringLiteral("select 1")));
}

void tst_Connection::connectionKilledUnderAStream()
{
    DatabaseConnection connection;
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    std::unique_ptr<ResultModel> model;
    connection.run(QStringLiteral("select seq, 'メモ' from seq_1_to_20000000"), false,
                   [&](const StatementResult &result) {
                       model = std::make_unique<ResultModel>(result.columns, result.firstRows);
                       model->follow(&connection, result.streamId);
                   });
    QTRY_VERIFY(model && model->rowCount() > 0);
    const QSqlDatabase check = QSqlDatabase::database(QStringLiteral("check"));
    const int id = scalar(check, "SELECT id FROM information_schema.processlist "
                                 "WHERE db = 'vq_conn' AND info LIKE 'select seq%'")
                       .toInt();
    QVERIFY(id > 0);
    QVERIFY(exec(check, QStringLiteral("KILL CONNECTION %1").arg(id)));
    QTRY_VERIFY_WITH_TIMEOUT(!model->isLoading(), 10000);
    QCOMPARE(model->streamEnd().kind, StreamEnd::Failed);
    QVERIFY(model->rowCount() > 0);
    QCOMPARE(model->index(model->rowCount() - 1, 1).data().toString(), QStringLiteral("メモ"));
}

void tst_Connection::closingWhileRowsStreamIsQuick()
{
    auto connection = std::make_unique<DatabaseConnection>();
    QVERIFY(openAndWait(*connection, m_server.params(Database)));
    std::unique_ptr<ResultModel> model;
    connection->run(QStringLiteral("select seq from seq_1_to_50000000"), false,
                    [&](const StatementResult &result) {
                        model = std::make_unique<ResultModel>(result.columns, result.firstRows);
                        model->follow(connection.get(), result.streamId);
                    });
    QTRY_VERIFY(model && model->rowCount() > 0);
    QElapsedTimer clock;
    clock.start();
    connection->close();
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
    connection.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!model->isLoading());
    QVERIFY(model->rowCount() > 0);
}

void tst_Connection::statementThatWillNotStopLosesItsConnection()
{
    SilentProxy proxy(m_server, -1);
    ConnectionParams params = m_server.params(Database);
    params.port = proxy.serverPort();
    DatabaseConnection connection;
    connection.setCancelGrace(500);
    QVERIFY(openAndWait(connection, params));
    QSignalSpy dropped(&connection, &DatabaseConnection::dropped);
    proxy.silent = true; // the statement never reaches the server
    bool answered = false;
    connection.run(QStringLiteral("select 1"), false,
                   [&](const StatementResult &) { answered = true; });
    QTest::qWait(200);
    connection.cancel();
    QTRY_COMPARE_WITH_TIMEOUT(dropped.size(), 1, 3000);
    QCOMPARE(connection.state(), DatabaseConnection::Closed);
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
    QVERIFY(!connection.isBusy());
}

void tst_Connection::closeDoesNotWaitForAKill()
{
    SilentProxy proxy(m_server, -1);
    ConnectionParams params = m_server.params(Database);
    params.port = proxy.serverPort();
    auto connection = std::make_unique<DatabaseConnection>();
    connection->setCancelGrace(60000);
    QVERIFY(openAndWait(*connection, params));
    proxy.silent = true; // the statement hangs, and so does the KILL for it
    connection->run(QStringLiteral("select 1"), false, [](const StatementResult &) {});
    QTest::qWait(200);
    connection->cancel();
    connection->run(QStringLiteral("select 2"), false, [](const StatementResult &) {});
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    connection->close();
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
    connection.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
