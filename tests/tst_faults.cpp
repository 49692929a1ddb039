#include "PrivateServer.h"
#include "QZQuorvinWindow.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTcpServer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// What the program does when the server dies under it, or never answers.
class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void killedBetweenStatements();
    void killedDuringStatement();
    void killedDuringCommitQuestion();
    void killedWhileRowsArrive();
    void nothingListening();
    void listenerThatNeverSpeaks();

private:
    void connectToServer();
    QStringList rowsOnServer(const QString &table);

    PrivateServer m_server;
    WindowSession m_session;
};

void tst_Faults::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.lastError()));
    QSqlDatabase db = m_server.address().openCheckConnection(QStringLiteral("setup"), m_server.database());
    QSqlQuery q(db);
    QVERIFY(q.exec("CREATE TABLE items (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB"));
    QVERIFY(q.exec("INSERT INTO items VALUES (1, 'one'), (2, 'two')"));
    QVERIFY(q.exec("CREATE TABLE big (id INT PRIMARY KEY, note VARCHAR(100))"));
    QVERIFY(q.exec("INSERT INTO big SELECT seq, CONCAT('行', seq, REPEAT('x', 60)) FROM seq_1_to_300000"));
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
}

void tst_Faults::init()
{
    if (!m_server.isRunning())
        QVERIFY2(m_server.start(), qPrintable(m_server.lastError()));
    m_session.start();
}

void tst_Faults::cleanup()
{
    m_session.stop();
}

void tst_Faults::connectToServer()
{
    QVERIFY(m_session.connect(inputFor(m_server.address(), m_server.database())));
    QVERIFY(QSqlDatabase::database(QStringLiteral("MySQL")).isOpen());
}

QStringList tst_Faults::rowsOnServer(const QString &table)
{
    QStringList ids;
    {
        QSqlDatabase db = m_server.address().openCheckConnection(QStringLiteral("check"), m_server.database());
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT id FROM %1 ORDER BY id").arg(table));
        while (q.next())
            ids << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return ids;
}

void tst_Faults::killedBetweenStatements()
{
    connectToServer();
    m_session.run(QStringLiteral("select id, name from items order by id"));
    QCOMPARE(m_session.grid()->model()->rowCount(), 2);
    m_server.kill();

    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    m_session.run(QStringLiteral("select * from items"));
    {
        // Scoped: once past its time, the answerer closes whatever modal it
        // meets next, which would be the reconnect's dialog below.
        ModalAnswerer noBox(QStringLiteral("ConfirmCommitMessageBox"),
                            [](QWidget *w) { w->close(); }, 500);
        m_session.run(QStringLiteral("insert into items values (3, 'three')"));
        QVERIFY(!noBox.answered());
    }
    const QStringList seen = statusTexts(status);
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen[0], QStringLiteral("データベースに接続して下さい。"));
    QCOMPARE(seen[1], QStringLiteral("トランザクション失敗"));
    QCOMPARE(seen[2], QStringLiteral("エラー"));

    // The grid keeps the rows it had, and paints them.
    QCOMPARE(m_session.grid()->model()->rowCount(), 2);
    QCOMPARE(m_session.grid()->model()->index(1, 1).data().toString(), QStringLiteral("two"));
    m_session.grid()->viewport()->repaint();

    QVERIFY2(m_server.start(), qPrintable(m_server.lastError()));
    m_session.trigger("m_pDisconnectAct");
    connectToServer();
    m_session.run(QStringLiteral("select count(*) from items"));
    QCOMPARE(m_session.grid()->model()->index(0, 0).data().toString(), QStringLiteral("2"));
}

void tst_Faults::killedDuringStatement()
{
    connectToServer();
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    std::thread killer([this] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        m_server.kill();
    });
    QElapsedTimer clock;
    clock.start();
    m_session.run(QStringLiteral("select sleep(20)"));
    const qint64 took = clock.elapsed();
    killer.join();
    QVERIFY2(took < 15000, qPrintable(QString::number(took)));
    QCOMPARE(statusTexts(status), QStringList{ QStringLiteral("データベースに接続して下さい。") });
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void tst_Faults::killedDuringCommitQuestion()
{
    connectToServer();
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    ModalAnswerer yesAfterDeath(QStringLiteral("ConfirmCommitMessageBox"), [this](QWidget *w) {
        m_server.kill();
        static_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click();
    });
    m_session.run(QStringLiteral("insert into items values (7, 'never committed')"));
    QVERIFY(yesAfterDeath.answered());
    QCOMPARE(statusTexts(status), (QStringList{ QStringLiteral("トランザクション開始"),
                                          QStringLiteral("コミット失敗。") }));

    QVERIFY2(m_server.start(), qPrintable(m_server.lastError()));
    QCOMPARE(rowsOnServer(QStringLiteral("items")), (QStringList{ "1", "2" }));
}

void tst_Faults::killedWhileRowsArrive()
{
    connectToServer();
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    m_session.run(QStringLiteral("select id, note from big order by id"));
    auto *model = qobject_cast<ResultModel *>(m_session.grid()->model());
    QVERIFY(model);
    QVERIFY(model->isLoading());
    const int early = model->rowCount();
    m_server.kill();

    QSignalSpy finished(model, &ResultModel::loadingFinished);
    if (model->isLoading())
        QVERIFY(finished.wait(30000));
    QVERIFY(model->loadFailed());
    QVERIFY(model->rowCount() >= early);
    QVERIFY(model->rowCount() < 300000);
    QCOMPARE(statusTexts(status), QStringList{ QStringLiteral("データベースに接続して下さい。") });
    // What did arrive stays, exact and paintable, after Disconnect too.
    m_session.trigger("m_pDisconnectAct");
    const int last = model->rowCount() - 1;
    QCOMPARE(model->index(last, 0).data().toString(), QString::number(last + 1));
    m_session.grid()->scrollToBottom();
    m_session.grid()->viewport()->repaint();
}

void tst_Faults::nothingListening()
{
    int port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    ConnectionInput input = inputFor(m_server.address(), m_server.database());
    input.port = port;
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_session.connect(input));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(statusTexts(status), QStringList{ QStringLiteral("接続できませんでした。") });
}

void tst_Faults::listenerThatNeverSpeaks()
{
    // The kernel completes the handshake for a listening socket even though
    // nobody ever accepts or writes: the client waits for a greeting that
    // never comes.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    QCOMPARE(::listen(fd, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);

    ConnectionInput input = inputFor(m_server.address(), m_server.database());
    input.port = ntohs(addr.sin_port);
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_session.connect(input));
    const qint64 took = clock.elapsed();
    ::close(fd);
    QVERIFY2(took < 30000, qPrintable(QString::number(took)));
    QCOMPARE(statusTexts(status), QStringList{ QStringLiteral("接続できませんでした。") });
    QCOMPARE(m_session->windowTitle(), QStringLiteral("Velquin"));
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
