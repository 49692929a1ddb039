// TLS modes, client certificates and the Unix socket against real servers:
// the plain test server and the TLS one scripts/test starts with
// certificates made for the run. What counts is what the server reports
// for the session (Ssl_cipher), not what the program says.

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
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString Database = QStringLiteral("vq_tls");

// Waits for the outcome of opening; an empty error is success.
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
    return model && model->rowCount() == 1 ? model->index(0, 1).data().toString()
                                           : QStringLiteral("(no answer)");
}

// Sessions on vq_tls other than the checking one: a refused connect must
// leave none behind.
int sessionsOn(const TestServer &server)
{
    int count = -1;
    {
        QSqlDatabase db = server.check(QStringLiteral("vq_count"), QString());
        count = scalar(db, QStringLiteral("SELECT count(*) FROM information_schema.processlist "
                                          "WHERE db = 'vq_tls' AND id <> connection_id()"))
                    .toInt();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("vq_count"));
    return count;
}

// Fills the dialog as a user would, the TLS fields found by their names,
// presses OK and returns the status text that follows.
QString connectThrough(WindowSession &session, const ConnectionParams &p)
{
    ModalAnswerer answer(QStringLiteral("Connection Dialog"), [&](QWidget *dialog) {
        static_cast<ConnectDialog *>(dialog)->setParams(p);
        dialog->findChild<QComboBox *>(QStringLiteral("comboTlsMode"))->setCurrentIndex(int(p.tlsMode));
        dialog->findChild<QLineEdit *>(QStringLiteral("editTlsCa"))->setText(p.tlsCa);
        dialog->findChild<QLineEdit *>(QStringLiteral("editTlsCert"))->setText(p.tlsCert);
        dialog->findChild<QLineEdit *>(QStringLiteral("editTlsKey"))->setText(p.tlsKey);
        dialog->findChild<QPushButton *>(QStringLiteral("PushButton1"))->click();
    });
    const int before = session.statuses().size();
    session.trigger("m_pConnectAct");
    waitUntil([&] { return session.statuses().size() > before; }, 20000);
    return session.statuses().value(before);
}

} // namespace

class tst_Tls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modes_data();
    void modes();
    void cancelOverTls_data();
    void cancelOverTls();
    void windowShowsTlsAndRemembersIt();
    void oldSettingsStartAtPreferred();

private:
    // A file by its short name: a certificate of the run, or a bad one.
    QString cert(const QString &name) const
    {
        return name.isEmpty() ? name : m_paths.value(name, m_certs + QLatin1Char('/') + name);
    }
    ConnectionParams params(const TestServer &server, const QString &user = QStringLiteral("velquin")) const
    {
        ConnectionParams p = server.params(Database);
        p.user = user;
        return p;
    }

    TestServer m_plain, m_tls;
    QString m_certs;
    QTemporaryDir m_files;
    QHash<QString, QString> m_paths;
};

void tst_Tls::initTestCase()
{
    m_plain = m_tls = TestServer::fromEnvironment();
    m_tls.port = qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT");
    m_certs = qEnvironmentVariable("VELQUIN_TEST_CERTS");
    QVERIFY2(m_plain.isValid() && m_tls.port > 0 && QFileInfo(cert("ca.pem")).isFile(),
             "no TLS test server: run the suite through scripts/test");
    QVERIFY(m_plain.recreateDatabase(Database) && m_tls.recreateDatabase(Database));
    // Japanese, blanks, a comma and a ';' in one path.
    const QString odd = m_files.filePath(QStringLiteral("証明書 ,;  置き場"));
    QVERIFY(QDir().mkpath(odd) && QFile::copy(cert("ca.pem"), odd + QStringLiteral("/ca.pem")));
    const QString oddSocket = odd + QStringLiteral("/サーバー.sock");
    QVERIFY(QFile::link(qEnvironmentVariable("VELQUIN_TEST_TLS_SOCKET"), oddSocket));
    m_paths = { { "odd", odd + QStringLiteral("/ca.pem") }, { "dir", m_files.path() },
                { "odd socket", oddSocket }, { "file", odd + QStringLiteral("/ca.pem") },
                { "missing", m_files.filePath(QStringLiteral("missing.pem")) },
                { "garbage", m_files.filePath(QStringLiteral("garbage.pem")) } };
    QFile garbage(cert("garbage"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n");
}

void tst_Tls::modes_data()
{
    QTest::addColumn<bool>("tlsServer");
    QTest::addColumn<QString>("host"); // "": 127.0.0.1; "socket": the server's; else as given
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("files"); // CA, certificate, key
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("expect");    // tls, plain, or a pattern the reason matches
    const int off = int(TlsMode::Off), pref = int(TlsMode::Preferred), req = int(TlsMode::Required),
              ca = int(TlsMode::VerifyCa), name = int(TlsMode::VerifyIdentity);
    const QString v = QStringLiteral("velquin"), x509 = QStringLiteral("velquin_x509");
    const QStringList none{ "", "", "" }, caFile{ "ca.pem", "", "" }, client{ "", "client.pem", "client-key.pem" };
    auto row = [](const char *label, bool tls, const char *host, int mode, const QStringList &files,
                  const QString &user, const char *expect) {
        QTest::newRow(label) << tls << host << mode << files << user << expect;
    };
    row("plain server, 無効", false, "", off, none, v, "plain");
    row("plain server, 優先 falls back", false, "", pref, none, v, "plain");
    row("plain server, 必須 refused", false, "", req, none, v, "TLS");
    row("plain server, CA を検証 refused", false, "", ca, caFile, v, "TLS");
    row("plain server, socket, 優先", false, "socket", pref, none, v, "plain");

    row("無効 ignores even missing files", true, "", off, { "missing", "missing", "missing" }, v, "plain");
    row("優先", true, "", pref, none, v, "tls");
    row("必須", true, "", req, none, v, "tls");
    row("必須 verifies nothing", true, "127.0.0.2", req, { "other-ca.pem", "", "" }, v, "tls");
    row("CA を検証", true, "", ca, caFile, v, "tls");
    row("CA を検証 ignores the name", true, "127.0.0.2", ca, caFile, v, "tls");
    row("CA を検証, another CA", true, "", ca, { "other-ca.pem", "", "" }, v, "TLS");
    row("CA を検証, system store only", true, "", ca, none, v, "TLS");
    row("ホスト名, IP in subjectAltName", true, "", name, caFile, v, "tls");
    row("ホスト名, another address", true, "127.0.0.2", name, caFile, v, "TLS.*127\\.0\\.0\\.2");
    row("ホスト名 over the socket is localhost", true, "socket", name, caFile, v, "tls");
    row("path with Japanese, blanks, comma, ';'", true, "", name, { "odd", "", "" }, v, "tls");
    row("socket path with the same", true, "odd socket", req, none, v, "tls");

    row("X509 account with its certificate", true, "", req, client, x509, "tls");
    row("X509 account without it", true, "", req, none, x509, "1045.*Access denied");

    row("CA file missing", true, "", ca, { "missing", "", "" }, v, "TLS.*証明書.*ありません");
    row("directory as CA file", true, "", ca, { "dir", "", "" }, v, "TLS.*ディレクトリ");
    row("garbage PEM", true, "", req, { "", "garbage", "client-key.pem" }, v, "TLS.*PEM");
    row("key of another certificate", true, "", req, { "", "client.pem", "server-key.pem" }, x509, "TLS.*一致しません");
    row("key without certificate", true, "", req, { "", "", "client-key.pem" }, v, "TLS.*証明書");
    row("socket that does not exist", true, "/nonexistent/velquin.sock", pref, none, v, "ソケット.*ありません");
    row("socket path that is a file", true, "file", pref, none, v, "ソケットではありません");
}

void tst_Tls::modes()
{
    QFETCH(bool, tlsServer);
    QFETCH(QString, host);
    QFETCH(int, mode);
    QFETCH(QStringList, files);
    QFETCH(QString, user);
    QFETCH(QString, expect);

    const TestServer &server = tlsServer ? m_tls : m_plain;
    ConnectionParams p = params(server, user);
    if (host == QLatin1String("socket"))
        p.host = qEnvironmentVariable(tlsServer ? "VELQUIN_TEST_TLS_SOCKET" : "VELQUIN_TEST_SOCKET");
    else if (!host.isEmpty())
        p.host = m_paths.value(host, host);
    p.tlsMode = TlsMode(mode);
    p.tlsCa = cert(files[0]);
    p.tlsCert = cert(files[1]);
    p.tlsKey = cert(files[2]);

    DatabaseConnection connection;
    const DbError error = openOn(connection, p);
    if (expect != QLatin1String("tls") && expect != QLatin1String("plain")) {
        QVERIFY2(error.text().contains(QRegularExpression(expect)), qPrintable(error.text()));
        QCOMPARE(connection.state(), DatabaseConnection::Closed);
        QVERIFY(!QSqlDatabase::contains(DatabaseConnection::connectionName()));
        QVERIFY(!connection.session().encrypted());
        QTRY_COMPARE(sessionsOn(server), 0);
        return;
    }
    QVERIFY2(!error.isSet(), qPrintable(error.text()));
    const QString cipher = serverCipher(connection);
    QCOMPARE(cipher.isEmpty(), expect == QLatin1String("plain"));
    QCOMPARE(connection.session().cipher, cipher);
    QCOMPARE(connection.session().version.startsWith(QLatin1String("TLSv")), !cipher.isEmpty());
}

void tst_Tls::cancelOverTls_data()
{
    QTest::addColumn<bool>("socket");
    QTest::newRow("TCP, host verified") << false;
    QTest::newRow("socket") << true;
}

// The KILL QUERY goes over a connection of its own: an X509 account logs in
// there only with its certificate, so it must travel the same way.
void tst_Tls::cancelOverTls()
{
    QFETCH(bool, socket);
    ConnectionParams p = params(m_tls, QStringLiteral("velquin_x509"));
    if (socket)
        p.host = qEnvironmentVariable("VELQUIN_TEST_TLS_SOCKET");
    p.tlsMode = TlsMode::VerifyIdentity;
    p.tlsCa = cert(QStringLiteral("ca.pem"));
    p.tlsCert = cert(QStringLiteral("client.pem"));
    p.tlsKey = cert(QStringLiteral("client-key.pem"));
    DatabaseConnection connection;
    const DbError error = openOn(connection, p);
    QVERIFY2(!error.isSet(), qPrintable(error.text()));

    StatementResult result;
    bool done = false;
    connection.run(QStringLiteral("select sleep(30)"), false, [&](const StatementResult &r) {
        result = r;
        done = true;
    });
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    connection.cancel();
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    // Ended by the server within the time: the kill got through (the
    // statement has no answer before it ends), and the session lives on.
    QVERIFY(result.kind != StatementResult::Failed && !result.connectionLost);
    QCOMPARE(connection.state(), DatabaseConnection::Open);
    QVERIFY(!serverCipher(connection).isEmpty());
}

void tst_Tls::windowShowsTlsAndRemembersIt()
{
    WindowSession session;
    session.start();
    auto *label = session.window().findChild<QLabel *>(QStringLiteral("m_pTlsLabel"));
    QVERIFY(label && label->isHidden() && label->text().isEmpty());

    // Refused: no registration, the plain caption, the fixed status text,
    // the reason in the log, nothing remembered, nothing left on the server.
    ConnectionParams refused = params(m_plain);
    refused.tlsMode = TlsMode::Required;
    QCOMPARE(connectThrough(session, refused), QStringLiteral("接続できませんでした。"));
    QCOMPARE(session.window().windowTitle(), QStringLiteral("Velquin"));
    QVERIFY(!QSqlDatabase::contains(DatabaseConnection::connectionName()));
    const QString log = session.window().findChild<QPlainTextEdit *>(QStringLiteral("m_pMessageLog"))->toPlainText();
    QVERIFY2(log.contains(QLatin1String("TLS")), qPrintable(log));
    QVERIFY(label->isHidden() && !QFile::exists(QStringLiteral("database.ini")));
    QTRY_COMPARE(sessionsOn(m_plain), 0);

    ConnectionParams p = params(m_tls);
    p.tlsMode = TlsMode::VerifyIdentity;
    p.tlsCa = cert(QStringLiteral("odd"));
    QCOMPARE(connectThrough(session, p), QStringLiteral("接続完了。"));
    QVERIFY(!label->isHidden());
    QVERIFY2(label->text().startsWith(QLatin1String("TLS 1.")) && label->text().contains(QLatin1String("_")),
             qPrintable(label->text()));

    // Remembered: the same mode and path, database.ini still one record of
    // four fields, both files owner-only.
    QFile ini(QStringLiteral("database.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll(), QStringList({ p.database, p.password, p.user, p.host }).join(',').toUtf8());
    for (const char *name : { "database.ini", "database-tls.json" }) {
        struct stat st;
        QCOMPARE(::stat(name, &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }
    ConnectDialog next;
    next.ReadSettings(QStringLiteral("database.ini"));
    QCOMPARE(next.comboTlsMode->currentText(), QStringLiteral("CA とホスト名を検証"));
    QCOMPARE(next.editTlsCa->text(), cert(QStringLiteral("odd")));

    session.trigger("m_pDisconnectAct");
    QVERIFY(label->isHidden() && label->text().isEmpty());
    session.stop();
}

// A database.ini from before TLS settings existed reads as it did, with the
// TLS fields at 優先 and empty; going back to the defaults removes the file.
void tst_Tls::oldSettingsStartAtPreferred()
{
    ScratchDirectory scratch;
    QFile ini(QStringLiteral("database.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("d,p,u,h:3307") == 12);
    ini.close();
    ConnectDialog dialog;
    dialog.ReadSettings(QStringLiteral("database.ini"));
    QCOMPARE(dialog.params().host, QStringLiteral("h"));
    QCOMPARE(dialog.comboTlsMode->currentText(), QStringLiteral("優先"));
    QVERIFY(dialog.editTlsCa->text().isEmpty() && dialog.editTlsCert->text().isEmpty());
    dialog.comboTlsMode->setCurrentIndex(int(TlsMode::Off));
    QVERIFY(dialog.WriteSettings() && QFile::exists(QStringLiteral("database-tls.json")));
    dialog.comboTlsMode->setCurrentIndex(int(TlsMode::Preferred));
    QVERIFY(dialog.WriteSettings() && !QFile::exists(QStringLiteral("database-tls.json")));
}

QTEST_MAIN(tst_Tls)
#include "tst_tls.moc"
