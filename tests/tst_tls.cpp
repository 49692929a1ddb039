// TLS modes, client certificates and sockets against the plain test server
// and the TLS one scripts/test starts; what counts is the server's Ssl_cipher.

#include "ConnectDialog.h"
#include "DatabaseConnection.h"
#include "QZQuorvinWindow.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>

Q_DECLARE_METATYPE(ConnectionParams)

namespace {

const QString Database = QStringLiteral("vq_tls");

DbError openOn(DatabaseConnection &connection, const ConnectionParams &params)
{
    DbError error{ 0, {}, QStringLiteral("no outcome") };
    connection.open(params, [&](const DbError &e) { error = e; });
    (void)QTest::qWaitFor([&] { return error.message != QLatin1String("no outcome"); }, 20000);
    return error;
}

QString serverCipher(DatabaseConnection &connection)
{
    const auto model = queryAll(connection, QStringLiteral("SHOW SESSION STATUS LIKE 'Ssl_cipher'"));
    return model && model->rowCount() == 1 ? model->index(0, 1).data().toString() : QStringLiteral("?");
}

// Sessions on vq_tls but the checking one: a refused connect leaves none.
int sessionsOn(const TestServer &server)
{
    int count = -1;
    {
        QSqlDatabase db = server.check(QStringLiteral("vq_count"), QString());
        count = scalar(db, "SELECT count(*) FROM information_schema.processlist WHERE db = 'vq_tls' "
                           "AND id <> connection_id()").toInt();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("vq_count"));
    return count;
}

} // namespace

class tst_Tls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modes_data();
    void modes();
    void cancelOverTls();
    void windowShowsTlsAndRemembersIt();

private:
    ConnectionParams params(bool tls, const char *ca = "", const char *cert = "", const char *key = "") const;

    TestServer m_plain, m_tls;
    QTemporaryDir m_files;
    QHash<QString, QString> m_paths; // a certificate of the run, or a bad file, by its short name
};

void tst_Tls::initTestCase()
{
    m_plain = m_tls = TestServer::fromEnvironment();
    m_tls.port = qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT");
    for (const char *name : { "ca.pem", "other-ca.pem", "client.pem", "client-key.pem", "server-key.pem" })
        m_paths[name] = qEnvironmentVariable("VELQUIN_TEST_CERTS") + '/' + name;
    QVERIFY2(m_tls.port > 0 && QFileInfo(m_paths["ca.pem"]).isFile(), "run the suite through scripts/test");
    QVERIFY(m_plain.recreateDatabase(Database) && m_tls.recreateDatabase(Database));
    // Japanese, blanks, a comma and a ';': the driver's options cannot carry it.
    const QString odd = m_files.filePath(QStringLiteral("証明書 ,;  置き場"));
    m_paths.insert({ { "odd", odd + "/ca.pem" }, { "odd socket", odd + "/s.sock" }, { "dir", m_files.path() },
                     { "missing", odd + "/missing.pem" }, { "garbage", m_files.filePath("garbage.pem") } });
    QVERIFY(QDir().mkpath(odd) && QFile::copy(m_paths["ca.pem"], m_paths["odd"]));
    QVERIFY(QFile::link(qEnvironmentVariable("VELQUIN_TEST_TLS_SOCKET"), m_paths["odd socket"]));
    QFile garbage(m_paths["garbage"]);
    QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write("-----BEGIN CERTIFICATE-----\nno\n") > 0);
}

ConnectionParams tst_Tls::params(bool tls, const char *ca, const char *cert, const char *key) const
{
    ConnectionParams p = (tls ? m_tls : m_plain).params(Database);
    p.tlsCa = m_paths.value(ca);
    p.tlsCert = m_paths.value(cert);
    p.tlsKey = m_paths.value(key);
    return p;
}

void tst_Tls::modes_data()
{
    QTest::addColumn<ConnectionParams>("p");
    QTest::addColumn<QString>("expect"); // tls, plain, or what the refusal's reason says
    auto row = [this](const char *label, bool tls, const char *host, TlsMode mode, const char *expect,
                      const char *ca = "", const char *cert = "", const char *key = "") {
        ConnectionParams p = params(tls, ca, cert, key);
        p.host = *host ? m_paths.value(host, host) : p.host;
        p.tlsMode = mode;
        p.user = QString(cert).startsWith("client") || !qstrcmp(expect, "1045") ? "velquin_x509" : "velquin";
        QTest::newRow(label) << p << expect;
    };
    row("plain server, 優先 falls back", false, "", TlsMode::Preferred, "plain");
    row("plain server, 必須 refused", false, "", TlsMode::Required, "TLS");
    row("plain server, CA を検証 refused", false, "", TlsMode::VerifyCa, "TLS", "ca.pem");
    row("plain server's socket", false, qPrintable(qEnvironmentVariable("VELQUIN_TEST_SOCKET")), TlsMode::Preferred, "plain");
    row("無効 ignores even missing files", true, "", TlsMode::Off, "plain", "missing", "missing", "missing");
    row("優先", true, "", TlsMode::Preferred, "tls");
    row("必須 verifies nothing", true, "127.0.0.2", TlsMode::Required, "tls", "other-ca.pem");
    row("CA を検証 ignores the name", true, "127.0.0.2", TlsMode::VerifyCa, "tls", "ca.pem");
    row("CA を検証, another CA", true, "", TlsMode::VerifyCa, "TLS", "other-ca.pem");
    row("CA を検証, system store only", true, "", TlsMode::VerifyCa, "TLS");
    row("ホスト名, IP in subjectAltName", true, "", TlsMode::VerifyIdentity, "tls", "ca.pem");
    row("ホスト名, another address", true, "127.0.0.2", TlsMode::VerifyIdentity, "TLS.*127.0.0.2", "ca.pem");
    row("odd CA path", true, "", TlsMode::VerifyIdentity, "tls", "odd");
    row("odd socket path", true, "odd socket", TlsMode::Required, "tls");
    row("X509 account without its certificate", true, "", TlsMode::Required, "1045");
    row("CA file missing", true, "", TlsMode::VerifyCa, "TLS.*証明書.*ありません", "missing");
    row("directory as CA file", true, "", TlsMode::VerifyCa, "TLS.*ディレクトリ", "dir");
    row("garbage PEM", true, "", TlsMode::Required, "TLS.*PEM", "", "garbage", "client-key.pem");
    row("key of another certificate", true, "", TlsMode::Required, "TLS.*一致しません", "", "client.pem", "server-key.pem");
    row("socket that does not exist", true, "/nonexistent/v.sock", TlsMode::Preferred, "ソケット.*ありません");
    row("socket path that is a file", true, "odd", TlsMode::Preferred, "ソケットではありません");
}

void tst_Tls::modes()
{
    QFETCH(ConnectionParams, p);
    QFETCH(QString, expect);
    DatabaseConnection connection;
    const DbError error = openOn(connection, p);
    if (expect != QLatin1String("tls") && expect != QLatin1String("plain")) {
        QVERIFY2(error.text().contains(QRegularExpression(expect)), qPrintable(error.text()));
        QVERIFY(connection.state() == DatabaseConnection::Closed && !connection.session().encrypted());
        QVERIFY(!QSqlDatabase::contains(DatabaseConnection::connectionName()));
        return;
    }
    QVERIFY2(!error.isSet(), qPrintable(error.text()));
    const QString cipher = serverCipher(connection);
    QCOMPARE(cipher.isEmpty(), expect == QLatin1String("plain"));
    QCOMPARE(connection.session().cipher, cipher);
    QCOMPARE(connection.session().version.startsWith(QLatin1String("TLSv")), !cipher.isEmpty());
}

// KILL QUERY goes over a connection of its own, which an X509 account enters
// only with its certificate: it must go the same way, by TCP or the socket.
void tst_Tls::cancelOverTls()
{
    for (const QString &host : { QStringLiteral("127.0.0.1"), qEnvironmentVariable("VELQUIN_TEST_TLS_SOCKET") }) {
        ConnectionParams p = params(true, "ca.pem", "client.pem", "client-key.pem");
        p.user = QStringLiteral("velquin_x509");
        p.host = host;
        p.tlsMode = TlsMode::VerifyIdentity;
        DatabaseConnection connection;
        QVERIFY2(!openOn(connection, p).isSet(), qPrintable(host));
        std::optional<StatementResult> result;
        connection.run(QStringLiteral("select sleep(30)"), false, [&](const StatementResult &r) { result = r; });
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        connection.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(result, 10000); // no answer before the server ends the statement
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(result->kind != StatementResult::Failed && connection.state() == DatabaseConnection::Open);
        QVERIFY(!serverCipher(connection).isEmpty());
    }
}

void tst_Tls::windowShowsTlsAndRemembersIt()
{
    WindowSession session;
    session.start();
    auto *label = session.window().findChild<QLabel *>(QStringLiteral("m_pTlsLabel"));
    QVERIFY(label && label->isHidden() && label->text().isEmpty());
    ConnectionParams p = params(false);
    p.tlsMode = TlsMode::Required;
    QVERIFY(!session.connect(p));
    const auto *log = session.window().findChild<QPlainTextEdit *>(QStringLiteral("m_pMessageLog"));
    QVERIFY2(log->toPlainText().contains(QLatin1String("TLS")), qPrintable(log->toPlainText()));
    QVERIFY(label->isHidden() && !QFile::exists("database.ini") && !QFile::exists("database-tls.json"));
    QTRY_COMPARE(sessionsOn(m_plain), 0);

    p = params(true, "odd");
    p.tlsMode = TlsMode::VerifyIdentity;
    QVERIFY(session.connect(p));
    QVERIFY2(!label->isHidden() && label->text().startsWith(QLatin1String("TLS 1.")), qPrintable(label->text()));
    // Remembered verbatim, owner-only; database.ini keeps its one line of four.
    QFile ini(QStringLiteral("database.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly) && ini.readAll() == QStringList({ p.database, p.password, p.user, p.host }).join(',').toUtf8());
    QCOMPARE(QFile::permissions("database-tls.json"),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    ConnectDialog next;
    next.ReadSettings(QStringLiteral("database.ini"));
    QVERIFY(next.params().tlsMode == p.tlsMode && next.editTlsCa->text() == p.tlsCa);
    session.trigger("m_pDisconnectAct");
    QVERIFY(label->isHidden() && label->text().isEmpty());
    QVERIFY(QFile::remove("database-tls.json") && ini.remove());
    ConnectDialog fresh; // a new connection, or an old database.ini: 優先, no paths
    QVERIFY(fresh.comboTlsMode->currentText() == QStringLiteral("優先") && fresh.editTlsCa->text().isEmpty());
    session.stop();
}

QTEST_MAIN(tst_Tls)
#include "tst_tls.moc"
