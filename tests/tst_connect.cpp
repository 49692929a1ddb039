#include "ConnectDialog.h"
#include "QZQuorvinWindow.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

const QString Database = QStringLiteral("vq_connect");

QStringList traced;
QtMessageHandler previousHandler = nullptr;

void recordTrace(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg)
        traced << text;
    previousHandler(type, context, text);
}

QByteArray fileBytes()
{
    QFile f(QStringLiteral("database.ini"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_Connect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void successfulConnect();
    void cancelLeavesNothing();
    void failures_data();
    void failures();
    void wrongPasswordStaysRegistered();
    void connectWhileConnected();
    void disconnectWithNothingRegistered();
    void dialogIsPrefilledFromFile();

private:
    TestServer m_server;
    WindowSession m_session;
};

void tst_Connect::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    previousHandler = qInstallMessageHandler(recordTrace);
}

void tst_Connect::init()
{
    m_session.start();
    traced.clear();
}

void tst_Connect::cleanup()
{
    m_session.stop();
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
}

void tst_Connect::successfulConnect()
{
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    ConnectionInput input = inputFor(m_server, Database);
    input.host = QStringLiteral("127.0.0.1");
    QVERIFY(m_session.connect(input));

    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("接続完了。"));
    QCOMPARE(m_session->windowTitle(),
             QStringLiteral("Velquin(vq_connect@%1...に接続)").arg(m_server.user));
    QCOMPARE(fileBytes(), QStringLiteral("vq_connect,%1,%2,127.0.0.1")
                              .arg(m_server.password, m_server.user).toUtf8());
    // The trace names driver, host and database, then the product; never
    // the user, the password or the port.
    QCOMPARE(traced, (QStringList{ "QMYSQL", "127.0.0.1", "vq_connect", "Velquin" }));

    QVERIFY(QSqlDatabase::contains(QStringLiteral("MySQL")));
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("MySQL")));
        QVERIFY(q.exec("SELECT @@character_set_client, @@character_set_connection, "
                       "@@character_set_results"));
        QVERIFY(q.next());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(q.value(i).toString(), QStringLiteral("utf8mb4"));
    }
    // The dialog of a connect is kept, hidden, as a child of the window.
    auto *dialog = m_session->findChild<ConnectDialog *>(QStringLiteral("Connection Dialog"));
    QVERIFY(dialog && dialog->isHidden());
}

void tst_Connect::cancelLeavesNothing()
{
    emit m_session->message(QStringLiteral("before"));
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    ModalAnswerer cancel(QStringLiteral("Connection Dialog"), [](QWidget *d) {
        QTest::keyClick(d, Qt::Key_Escape);
    });
    m_session.trigger("m_pConnectAct");
    QVERIFY(cancel.answered());
    QCOMPARE(status.size(), 0);
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
    QCOMPARE(fileBytes(), QByteArray("<missing>"));
    QCOMPARE(m_session->windowTitle(), QStringLiteral("Velquin"));
}

void tst_Connect::failures_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("registered");

    QTest::newRow("unknown driver") << "QNOSUCH" << "" << "" << false;
    QTest::newRow("empty driver") << "" << "" << "" << false;
    QTest::newRow("wrong user") << "QMYSQL" << "user" << "nobody" << true;
    QTest::newRow("unknown database") << "QMYSQL" << "database" << "vq_missing" << true;
    QTest::newRow("nothing listening") << "QMYSQL" << "port" << "1" << true;
    QTest::newRow("unknown host") << "QMYSQL" << "host" << "no-such-host.invalid" << true;
}

void tst_Connect::failures()
{
    QFETCH(QString, driver);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, registered);

    ConnectionInput input = inputFor(m_server, Database);
    input.driver = driver;
    if (field == "user")
        input.user = value;
    else if (field == "database")
        input.database = value;
    else if (field == "port")
        input.port = value.toInt();
    else if (field == "host")
        input.host = value;

    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    QVERIFY(m_session.connect(input));
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("接続できませんでした。"));
    QCOMPARE(m_session->windowTitle(), QStringLiteral("Velquin"));
    QCOMPARE(QSqlDatabase::contains(QStringLiteral("MySQL")), registered);
    QCOMPARE(fileBytes(), QByteArray("<missing>"));
    // The driver name is traced even when there is no such driver; the
    // product name only after a successful open.
    QCOMPARE(traced.value(0), driver);
    QVERIFY(!traced.contains(QStringLiteral("Velquin")));
}

void tst_Connect::wrongPasswordStaysRegistered()
{
    QVERIFY(m_session.connect(inputFor(m_server, Database)));
    const QByteArray good = fileBytes();

    ConnectionInput wrong = inputFor(m_server, Database);
    wrong.password = QStringLiteral("wrong");
    QVERIFY(m_session.connect(wrong));
    QVERIFY(QSqlDatabase::contains(QStringLiteral("MySQL")));
    QCOMPARE(fileBytes(), good);

    // Registered though not open: F5 runs (and fails) instead of asking to connect.
    setEditorText(m_session.window(), QStringLiteral("select 1"));
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    m_session.trigger("m_pExecAct");
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("データベースに接続して下さい。"));
    QVERIFY(!m_session->findChild<ConnectDialog *>(QString(), Qt::FindDirectChildrenOnly)->isVisible());
}

void tst_Connect::connectWhileConnected()
{
    QVERIFY(m_session.connect(inputFor(m_server, Database)));
    QVERIFY(m_session->windowTitle() != QStringLiteral("Velquin"));

    bool tornDown = false;
    QString captionDuringDialog;
    ModalAnswerer look(QStringLiteral("Connection Dialog"), [&](QWidget *d) {
        tornDown = !QSqlDatabase::contains(QStringLiteral("MySQL"));
        captionDuringDialog = m_session->windowTitle();
        QTest::keyClick(d, Qt::Key_Escape);
    });
    m_session.trigger("m_pConnectAct");
    QVERIFY(look.answered());
    QVERIFY(tornDown);
    QCOMPARE(captionDuringDialog, QStringLiteral("Velquin"));
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
}

void tst_Connect::disconnectWithNothingRegistered()
{
    m_session->setWindowTitle(QStringLiteral("unchanged"));
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    m_session.trigger("m_pDisconnectAct");
    QCOMPARE(status.size(), 0);
    QCOMPARE(m_session->windowTitle(), QStringLiteral("unchanged"));
}

void tst_Connect::dialogIsPrefilledFromFile()
{
    ConnectionInput input = inputFor(m_server, Database);
    input.driver = QStringLiteral("QMARIADB");
    QVERIFY(m_session.connect(input));

    // The next dialog shows the saved fields, but driver and port are back
    // at their defaults.
    QStringList seen;
    ModalAnswerer look(QStringLiteral("Connection Dialog"), [&](QWidget *w) {
        auto *d = static_cast<ConnectDialog *>(w);
        seen << d->editDatabase->text() << d->editUsername->text() << d->editPassword->text()
             << d->editHostname->text() << QString::number(d->comboDriver->currentIndex())
             << d->portSpinBox->text();
        QTest::keyClick(d, Qt::Key_Escape);
    });
    m_session.trigger("m_pConnectAct");
    QCOMPARE(seen, (QStringList{ Database, m_server.user, m_server.password, m_server.host, "0",
                                 "Default" }));
    // Only the latest dialog is kept: repeated connects do not pile them up.
    QCOMPARE(m_session->findChildren<ConnectDialog *>().size(), 1);
}

QTEST_MAIN(tst_Connect)
#include "tst_connect.moc"
