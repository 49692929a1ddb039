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
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString Database = QStringLiteral("vq_tls");

struct Outcome
{
    bool opened = false;
    DbError error;
};

Outcome openOn(DatabaseConnection &connection, const ConnectionParams &params)
{
    Outcome outcome;
    bool done = false;
    connection.open(params, [&](const DbError &e) {
        outcome.error = e;
        outcome.opened = !e.isSet();
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        outcome.error.message = QStringLiteral("no outcome");
    return outcome;
}

QString serverCipher(DatabaseConnection &connection)
{
    const auto model = queryAll(connection, QStringLiteral("SHOW SESSION STATUS LIKE 'Ssl_cipher'"));
    return model && model->rowCount() == 1 ? model->index(0, 1).data().toString()
                                           : QStringLiteral("(no answer)");
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
    void windowRefusesWithTheReason_data();
    void windowRefusesWithTheReason();
    void oldSettingsStartAtPreferred();

private:
    QString cert(const QString &name) const;
    ConnectionParams tlsParams(const QString &user = QStringLiteral("velquin")) const;
    int sessionsOn(const QString &server);

    TestServer m_plain;
    QString m_certs;
    QString m_oddDir; // Japanese, blanks, a comma and a ';' in one path
    QTemporaryDir m_files;
};

void tst_Tls::initTestCase()
{
    m_plain = TestServer::fromEnvironment();
    m_certs = qEnvironmentVariable("VELQUIN_TEST_CERTS");
    QVERIFY2(m_plain.isValid() && QFileInfo(cert("ca.pem")).isFile()
                 && qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT") > 0,
             "no TLS test server: run the suite through scripts/test");
    TestServer tls = m_plain;
    tls.port = qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT");
    QVERIFY(m_plain.recreateDatabase(Database) && tls.recreateDatabase(Database));
    m_oddDir = m_files.filePath(QStringLiteral("証明書 ,;  置き場"));
    QVERIFY(QDir().mkpath(m_oddDir));
    QVERIFY(QFile::copy(cert("ca.pem"), m_oddDir + QStringLiteral("/ca.pem")));
    QFile garbage(m_files.filePath(QStringLiteral("garbage.pem")));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n");
}

QString tst_Tls::cert(const QString &name) const
{
    if (name.isEmpty())
        return QString();
    if (name == QLatin1String("missing"))
        return m_files.filePath(QStringLiteral("missing.pem"));
    if (name == QLatin1String("dir"))
        return m_files.path();
    if (name == QLatin1String("garbage"))
        return m_files.filePath(QStringLiteral("garbage.pem"));
    if (name == QLatin1String("odd"))
        return m_oddDir + QStringLiteral("/ca.pem");
    return m_certs + QLatin1Char('/') + name;
}

ConnectionParams tst_Tls::tlsParams(const QString &user) const
{
    ConnectionParams p = m_plain.params(Database);
    p.port = qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT");
    p.user = user;
    return p;
}

// Sessions on vq_tls other than the checking one: a refused connect must
// leave none behind.
int tst_Tls::sessionsOn(const QString &server)
{
    TestServer s = m_plain;
    if (server == QLatin1String("tls"))
        s.port = qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT");
    int count = -1;
    {
        QSqlDatabase db = s.check(QStringLiteral("vq_count"), QString());
        count = scalar(db, QStringLiteral("SELECT count(*) FROM information_schema.processlist "
                                          "WHERE db = 'vq_tls' AND id <> connection_id()"))
                    .toInt();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("vq_count"));
    return count;
}

void tst_Tls::modes_data()
{
    QTest::addColumn<QString>("server"); // plain, tls
    QTest::addColumn<QString>("host");   // ip, ip2 (not in the certificate), socket, or a path
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("certFile");
    QTest::addColumn<QString>("keyFile");
    QTest::addColumn<QString>("user"); // velquin, velquin_x509, wrong (password)
    QTest::addColumn<QString>("expect"); // tls, plain, or a pattern the refusal's reason matches
    const int off = int(TlsMode::Off), preferred = int(TlsMode::Preferred),
              required = int(TlsMode::Required), ca = int(TlsMode::VerifyCa),
              identity = int(TlsMode::VerifyIdentity);
    const QString v = QStringLiteral("velquin"), x509 = QStringLiteral("velquin_x509");
    auto row = [](const char *name, const char *server, const char *host, int mode, const char *ca,
                  const char *cert, const char *key, const QString &user, const char *expect) {
        QTest::newRow(name) << server << host << mode << ca << cert << key << user << expect;
    };
    const char *tlsCause = "TLS";

    row("plain server, 無効", "plain", "ip", off, "", "", "", v, "plain");
    row("plain server, 優先 falls back", "plain", "ip", preferred, "", "", "", v, "plain");
    row("plain server, 必須 refused", "plain", "ip", required, "", "", "", v, tlsCause);
    row("plain server, CA を検証 refused", "plain", "ip", ca, "ca.pem", "", "", v, tlsCause);
    row("plain server, ホスト名 refused", "plain", "ip", identity, "ca.pem", "", "", v, tlsCause);
    row("plain server, socket, 優先", "plain", "socket", preferred, "", "", "", v, "plain");

    row("無効 ignores even missing files", "tls", "ip", off, "missing", "missing", "missing", v, "plain");
    row("優先", "tls", "ip", preferred, "", "", "", v, "tls");
    row("必須", "tls", "ip", required, "", "", "", v, "tls");
    row("必須 verifies nothing", "tls", "ip2", required, "other-ca.pem", "", "", v, "tls");
    row("CA を検証", "tls", "ip", ca, "ca.pem", "", "", v, "tls");
    row("CA を検証 ignores the name", "tls", "ip2", ca, "ca.pem", "", "", v, "tls");
    row("CA を検証, another CA", "tls", "ip", ca, "other-ca.pem", "", "", v, tlsCause);
    row("CA を検証, system store only", "tls", "ip", ca, "", "", "", v, tlsCause);
    row("ホスト名, IP in subjectAltName", "tls", "ip", identity, "ca.pem", "", "", v, "tls");
    row("ホスト名, another address", "tls", "ip2", identity, "ca.pem", "", "", v, "127\\.0\\.0\\.2");
    row("ホスト名, another CA", "tls", "ip", identity, "other-ca.pem", "", "", v, tlsCause);
    row("ホスト名 over the socket is localhost", "tls", "socket", identity, "ca.pem", "", "", v, "tls");
    row("socket, 無効", "tls", "socket", off, "", "", "", v, "plain");
    row("path with Japanese, blanks, comma, ';'", "tls", "ip", identity, "odd", "", "", v, "tls");

    row("X509 account with its certificate", "tls", "ip", required, "", "client.pem", "client-key.pem", x509, "tls");
    row("X509 account without it", "tls", "ip", required, "", "", "", x509, "1045.*Access denied");
    row("wrong password", "tls", "ip", required, "", "", "", "wrong", "1045.*Access denied");

    row("CA file missing", "tls", "ip", ca, "missing", "", "", v, "TLS.*証明書.*ありません");
    row("directory as CA file", "tls", "ip", ca, "dir", "", "", v, "TLS.*ディレクトリ");
    row("garbage PEM", "tls", "ip", required, "", "garbage", "client-key.pem", v, "TLS.*PEM");
    row("key of another certificate", "tls", "ip", required, "", "client.pem", "server-key.pem", x509,
        "TLS.*一致しません");
    row("key without certificate", "tls", "ip", required, "", "", "client-key.pem", v, "TLS.*証明書");
    row("socket that does not exist", "tls", "/nonexistent/velquin.sock", preferred, "", "", "", v,
        "ソケット.*ありません");
    row("socket path that is a file", "tls", "file", preferred, "", "", "", v, "ソケットではありません");
}

void tst_Tls::modes()
{
    QFETCH(QString, server);
    QFETCH(QString, host);
    QFETCH(int, mode);
    QFETCH(QString, caFile);
    QFETCH(QString, certFile);
    QFETCH(QString, keyFile);
    QFETCH(QString, user);
    QFETCH(QString, expect);

    ConnectionParams p = server == QLatin1String("tls") ? tlsParams(user) : m_plain.params(Database);
    if (user == QLatin1String("wrong"))
        p.password += QLatin1Char('x');
    const QString socket = qEnvironmentVariable(server == QLatin1String("tls") ? "VELQUIN_TEST_TLS_SOCKET"
                                                                               : "VELQUIN_TEST_SOCKET");
    if (host == QLatin1String("ip2"))
        p.host = QStringLiteral("127.0.0.2");
    else if (host == QLatin1String("socket"))
        p.host = socket;
    else if (host == QLatin1String("file"))
        p.host = cert("ca.pem");
    else if (host.startsWith(QLatin1Char('/')))
        p.host = host;
    p.tlsMode = TlsMode(mode);
    p.tlsCa = cert(caFile);
    p.tlsCert = cert(certFile);
    p.tlsKey = cert(keyFile);

    DatabaseConnection connection;
    const Outcome outcome = openOn(connection, p);
    if (expect != QLatin1String("tls") && expect != QLatin1String("plain")) {
        QVERIFY2(!outcome.opened, "connected where it should have been refused");
        QVERIFY2(outcome.error.text().contains(QRegularExpression(expect)), qPrintable(outcome.error.text()));
        QCOMPARE(connection.state(), DatabaseConnection::Closed);
        QVERIFY(!QSqlDatabase::contains(DatabaseConnection::connectionName()));
        QVERIFY(!connection.session().encrypted());
        QTRY_COMPARE(sessionsOn(server), 0);
        return;
    }
    QVERIFY2(outcome.opened, qPrintable(outcome.error.text()));
    const QString cipher = serverCipher(connection);
    QCOMPARE(cipher.isEmpty(), expect == QLatin1String("plain"));
    QCOMPARE(connection.session().cipher, cipher);
    if (!cipher.isEmpty())
        QVERIFY2(connection.session().version.startsWith(QLatin1String("TLSv")),
                 qPrintable(connection.session().version));
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
    ConnectionParams p = tlsParams(QStringLiteral("velquin_x509"));
    if (socket)
        p.host = qEnvironmentVariable("VELQUIN_TEST_TLS_SOCKET");
    p.tlsMode = TlsMode::VerifyIdentity;
    p.tlsCa = cert(QStringLiteral("ca.pem"));
    p.tlsCert = cert(QStringLiteral("client.pem"));
    p.tlsKey = cert(QStringLiteral("client-key.pem"));
    DatabaseConnection connection;
    const Outcome outcome = openOn(connection, p);
    QVERIFY2(outcome.opened, qPrintable(outcome.error.text()));

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

// Fills the dialog as a user would, the TLS fields found by their names,
// and presses OK; returns the last status text.
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

void tst_Tls::windowShowsTlsAndRemembersIt()
{
    WindowSession session;
    session.start();
    auto *label = session.window().findChild<QLabel *>(QStringLiteral("m_pTlsLabel"));
    QVERIFY(label && label->isHidden() && label->text().isEmpty());
    {
        // A new connection starts at 優先 with empty paths.
        ConnectDialog fresh;
        QCOMPARE(fresh.comboTlsMode->currentText(), QStringLiteral("優先"));
        QCOMPARE(fresh.comboTlsMode->itemText(4), QStringLiteral("CA とホスト名を検証"));
        QVERIFY(fresh.editTlsCa->text().isEmpty() && fresh.editTlsCert->text().isEmpty());
    }
    ConnectionParams p = tlsParams();
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
    QCOMPARE(next.comboTlsMode->currentIndex(), int(TlsMode::VerifyIdentity));
    QCOMPARE(next.editTlsCa->text(), cert(QStringLiteral("odd")));

    session.trigger("m_pDisconnectAct");
    QVERIFY(label->isHidden() && label->text().isEmpty());
    session.stop();
}

void tst_Tls::windowRefusesWithTheReason_data()
{
    QTest::addColumn<bool>("plainServer");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("certFile");
    QTest::addColumn<QString>("reason");
    QTest::newRow("必須 on a plain server") << true << int(TlsMode::Required) << QString() << "TLS";
    QTest::newRow("client certificate not there")
        << false << int(TlsMode::Preferred) << "/x/ ,日本.pem" << "TLS.*クライアント証明書";
    QTest::newRow("X509 account without its certificate") << false << int(TlsMode::Required) << QString()
                                                          << "1045.*Access denied";
}

// Refused: no registration, the plain caption, the fixed status text, the
// reason in the log, nothing remembered and nothing left on the server.
void tst_Tls::windowRefusesWithTheReason()
{
    QFETCH(bool, plainServer);
    QFETCH(int, mode);
    QFETCH(QString, certFile);
    QFETCH(QString, reason);
    WindowSession session;
    session.start();
    ConnectionParams p = plainServer ? m_plain.params(Database) : tlsParams(QStringLiteral("velquin_x509"));
    p.tlsMode = TlsMode(mode);
    p.tlsCert = certFile;
    QCOMPARE(connectThrough(session, p), QStringLiteral("接続できませんでした。"));
    QCOMPARE(session.window().windowTitle(), QStringLiteral("Velquin"));
    QVERIFY(!QSqlDatabase::contains(DatabaseConnection::connectionName()));
    const QString log = session.window().findChild<QPlainTextEdit *>(QStringLiteral("m_pMessageLog"))->toPlainText();
    QVERIFY2(log.contains(QRegularExpression(reason)), qPrintable(log));
    QVERIFY(session.window().findChild<QLabel *>(QStringLiteral("m_pTlsLabel"))->isHidden());
    QVERIFY(!QFile::exists(QStringLiteral("database.ini")) && !QFile::exists(QStringLiteral("database-tls.json")));
    QTRY_COMPARE(sessionsOn(QLatin1String(plainServer ? "plain" : "tls")), 0);
    session.stop();
}

// A database.ini from before TLS settings existed reads as it did, with the
// TLS fields at their defaults; a TLS file that is no record of ours, or
// not a file, counts as none; going back to the defaults removes the file.
void tst_Tls::oldSettingsStartAtPreferred()
{
    ScratchDirectory scratch;
    QFile ini(QStringLiteral("database.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("d,p,u,h:3307");
    ini.close();
    for (const QByteArray &tls : { QByteArray(), QByteArray("{\"mode\": 7"), QByteArray("dir") }) {
        QFile::remove(QStringLiteral("database-tls.json"));
        if (tls == "dir")
            QVERIFY(QDir().mkdir(QStringLiteral("database-tls.json")));
        else if (!tls.isEmpty()) {
            QFile f(QStringLiteral("database-tls.json"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(tls) == tls.size());
        }
        ConnectDialog dialog;
        dialog.ReadSettings(QStringLiteral("database.ini"));
        QCOMPARE(dialog.params().host, QStringLiteral("h"));
        QCOMPARE(dialog.comboTlsMode->currentText(), QStringLiteral("優先"));
        QVERIFY(dialog.editTlsCa->text().isEmpty() && dialog.editTlsKey->text().isEmpty());
        QDir().rmdir(QStringLiteral("database-tls.json"));
    }
    ConnectDialog dialog;
    dialog.ReadSettings(QStringLiteral("database.ini"));
    dialog.comboTlsMode->setCurrentIndex(int(TlsMode::Off));
    QVERIFY(dialog.WriteSettings());
    QVERIFY(QFile::exists(QStringLiteral("database-tls.json")));
    dialog.comboTlsMode->setCurrentIndex(int(TlsMode::Preferred));
    QVERIFY(dialog.WriteSettings());
    QVERIFY(!QFile::exists(QStringLiteral("database-tls.json")));
    QCOMPARE(QDir::current().entryList(QDir::Files), QStringList{ "database.ini" });
}

QTEST_MAIN(tst_Tls)
#include "tst_tls.moc"
