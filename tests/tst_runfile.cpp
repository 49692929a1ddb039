// SQL files run as they are, without opening them: MariaDB's own scripts and
// a dump, each compared with what the mariadb client makes of the same file;
// a failing line named; cancel part-way; files that cannot run at all.

#include "DatabaseConnection.h"
#include "QueryExecutor.h"
#include "QueryRun.h"
#include "ResultModel.h"
#include "StatementSplitter.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Database = QStringLiteral("vq_runfile");

struct Outcome
{
    QStringList statuses;
    QStringList log;
    QStringList ran;
};

} // namespace

class tst_RunFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void mariadbScripts_data();
    void mariadbScripts();
    void dumpRoundTrip();
    void failingLineIsNamed();
    void cancelPartWay();
    void refused_data();
    void refused();
    void committingSummary_data();
    void committingSummary();

private:
    Outcome run(const TestServer &server, const QString &database, const QString &path,
                const QByteArray &encoding = "UTF-8", int cancelAfterMs = -1);
    bool client(const TestServer &server, const QString &database, const QString &path);
    QString writeFile(const QByteArray &bytes);
    QString items() const;
    TestServer m_server;
    TestServer m_admin;
    QTemporaryDir m_dir;
};

void tst_RunFile::initTestCase()
{
    qRegisterMetaType<ResultModel *>();
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    m_admin = m_server;
    m_admin.user = qEnvironmentVariable("VELQUIN_TEST_ADMIN");
    QVERIFY2(!m_admin.user.isEmpty(), "VELQUIN_TEST_ADMIN is not set: run through scripts/test");
    QVERIFY(m_server.recreateDatabase(Database));
    QVERIFY(m_server.check(QStringLiteral("check"), Database).isOpen());
    QVERIFY(m_admin.check(QStringLiteral("admin"), QStringLiteral("mysql")).isOpen());
}

void tst_RunFile::init()
{
    const QSqlDatabase db = QSqlDatabase::database(QStringLiteral("check"));
    QVERIFY(exec(db, "DROP TABLE IF EXISTS items"));
    QVERIFY(exec(db, "CREATE TABLE items (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB"));
}

QString tst_RunFile::items() const
{
    return scalar(QSqlDatabase::database(QStringLiteral("check")),
                  "SELECT IFNULL(GROUP_CONCAT(id ORDER BY id), '') FROM items")
        .toString();
}

QString tst_RunFile::writeFile(const QByteArray &bytes)
{
    static int n = 0;
    const QString path = m_dir.filePath(QStringLiteral("f%1.sql").arg(++n));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

// Runs the file through the program's executor, agreeing to every question.
Outcome tst_RunFile::run(const TestServer &server, const QString &database, const QString &path,
                         const QByteArray &encoding, int cancelAfterMs)
{
    Outcome out;
    DatabaseConnection connection;
    if (!openAndWait(connection, server.params(database)))
        return out;
    QueryExecutor executor(&connection);
    executor.setCommitQuestion([](const QueryExecutor::Change &) { return QueryExecutor::Yes; });
    executor.setImplicitCommitQuestion([](const QStringList &) { return true; });
    connect(&executor, &QueryExecutor::message, this, [&](const QString &t) { out.statuses << t; });
    connect(&executor, &QueryExecutor::logged, this,
            [&](const QString &what, const QString &outcome) { out.log << what + u' ' + outcome; });
    connect(&executor, &QueryExecutor::statementRan, this, [&](const QString &t) { out.ran << t; });
    connect(&executor, &QueryExecutor::resultReady, this, [](ResultModel *m) { delete m; });
    executor.execute(QueryRun::fromFile(path, encoding));
    if (cancelAfterMs >= 0) {
        QTest::qWait(cancelAfterMs);
        executor.cancel();
    }
    waitUntil([&] { return !executor.running() && !connection.isBusy(); }, 300000);
    return out;
}

bool tst_RunFile::client(const TestServer &server, const QString &database, const QString &path)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), server.password);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(path);
    // --comments: the program sends comments inside a statement as written.
    p.start(QStringLiteral("mariadb"), { "--no-defaults", "--comments", "-h", server.host, "-P",
                                         QString::number(server.port), "-u", server.user,
                                         database });
    return p.waitForFinished(300000) && p.exitCode() == 0;
}

void tst_RunFile::mariadbScripts_data()
{
    // What each script leaves behind, in one comparable string.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("snapshot");
    QTest::addColumn<QString>("reset");
    QTest::newRow("fill_help_tables.sql")
        << "/usr/share/mysql/fill_help_tables.sql"
        << "SELECT CONCAT_WS(',', (SELECT COUNT(*) FROM mysql.help_topic), "
           "(SELECT SUM(CRC32(CONCAT_WS('|', help_topic_id, name, description, example, url)))"
           " FROM mysql.help_topic), (SELECT SUM(CRC32(CONCAT_WS('|', help_category_id, name,"
           " parent_category_id))) FROM mysql.help_category), (SELECT COUNT(*) FROM "
           "mysql.help_relation), (SELECT COUNT(*) FROM mysql.help_keyword))"
        << "DELETE FROM mysql.help_topic";
    QTest::newRow("mysql_sys_schema.sql")
        << "/usr/share/mysql/mysql_sys_schema.sql"
        << "SELECT CONCAT_WS(',', (SELECT GROUP_CONCAT(ROUTINE_NAME, MD5(ROUTINE_DEFINITION) "
           "ORDER BY ROUTINE_NAME) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = "
           "'sys'), (SELECT GROUP_CONCAT(TABLE_NAME, MD5(VIEW_DEFINITION) ORDER BY TABLE_NAME) "
           "FROM information_schema.VIEWS WHERE TABLE_SCHEMA = 'sys'), (SELECT "
           "GROUP_CONCAT(TRIGGER_NAME) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = "
           "'sys'), (SELECT COUNT(*) FROM sys.sys_config))"
        << "DROP DATABASE IF EXISTS sys";
}

void tst_RunFile::mariadbScripts()
{
    QFETCH(QString, path);
    QFETCH(QString, snapshot);
    QFETCH(QString, reset);
    QVERIFY2(QFile::exists(path), qPrintable(path + " is missing (mariadb-server-core)"));
    const QSqlDatabase admin = QSqlDatabase::database(QStringLiteral("admin"));
    QVERIFY(exec(admin, reset));
    const Outcome ours = run(m_admin, QStringLiteral("mysql"), path);
    // The last change is committed by the question, or already by a statement
    // that commits by itself.
    QVERIFY2(ours.statuses.last() == QStringLiteral("コミットしました。")
                 || ours.statuses.last().endsWith(QStringLiteral("文を実行しました。")),
             qPrintable(ours.log.join('\n')));
    const QString byUs = scalar(admin, snapshot).toString();
    QVERIFY(exec(admin, reset));
    QVERIFY(client(m_admin, QStringLiteral("mysql"), path));
    const QString byClient = scalar(admin, snapshot).toString();
    QVERIFY(byClient.size() > 20);
    QCOMPARE(byUs, byClient);
}

void tst_RunFile::dumpRoundTrip()
{
    const QSqlDatabase admin = QSqlDatabase::database(QStringLiteral("admin"));
    for (const char *sql : { "DROP DATABASE IF EXISTS vq_dump_from",
                             "DROP DATABASE IF EXISTS vq_dump_to",
                             "CREATE DATABASE vq_dump_from CHARACTER SET utf8mb4",
                             "CREATE DATABASE vq_dump_to CHARACTER SET utf8mb4" })
        QVERIFY(exec(admin, sql));
    // Unqualified names, as a dump of one database holds them.
    const QSqlDatabase from = m_admin.check(QStringLiteral("from"), QStringLiteral("vq_dump_from"));
    for (const char *sql : {
             "CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(60), b BLOB, d DECIMAL(30,10), "
             "at DATETIME(6)) ENGINE=InnoDB",
             "INSERT INTO t SELECT seq, IF(seq % 7 = 0, NULL, CONCAT('商品 ''', seq, '\\\\ ;\\n', "
             "REPEAT('日本', seq % 5))), UNHEX(SHA2(seq, 256)), seq / 7, "
             "'2024-01-01 00:00:00.123456' + INTERVAL seq SECOND FROM seq_1_to_3000",
             "CREATE TABLE log (id INT) ENGINE=MyISAM",
             "CREATE TRIGGER tr AFTER INSERT ON t FOR EACH ROW INSERT INTO log VALUES (NEW.id)",
             "CREATE PROCEDURE p(IN n INT) BEGIN SELECT n; SELECT ';'; END",
             "CREATE VIEW v AS SELECT id, name FROM t WHERE id < 10" })
        QVERIFY(exec(from, sql));
    QProcess dump;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), m_admin.password);
    dump.setProcessEnvironment(env);
    const QString path = m_dir.filePath(QStringLiteral("dump.sql"));
    dump.setStandardOutputFile(path);
    dump.start(QStringLiteral("mariadb-dump"),
               { "--no-defaults", "--routines", "--triggers", "--hex-blob", "-h", m_admin.host,
                 "-P", QString::number(m_admin.port), "-u", m_admin.user, "vq_dump_from" });
    QVERIFY(dump.waitForFinished(120000) && dump.exitCode() == 0);
    const Outcome ours = run(m_admin, QStringLiteral("vq_dump_to"), path);
    QVERIFY2(!ours.statuses.contains(QStringLiteral("エラー")),
             qPrintable(ours.log.filter(QStringLiteral("エラー")).join(u' ')));
    auto summary = [&](const char *db) {
        return scalar(admin, QStringLiteral(
                   "SELECT CONCAT_WS(',', (SELECT COUNT(*) FROM %1.t), (SELECT SUM(CRC32(CONCAT_WS("
                   "'|', id, name, HEX(b), d, at))) FROM %1.t), (SELECT COUNT(*) FROM %1.log), "
                   "(SELECT MD5(ROUTINE_DEFINITION) FROM information_schema.ROUTINES WHERE "
                   "ROUTINE_SCHEMA = '%1'), (SELECT ACTION_STATEMENT FROM "
                   "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = '%1'), (SELECT COUNT(*) "
                   "FROM %1.v))").arg(QLatin1String(db)))
            .toString();
    };
    QCOMPARE(summary("vq_dump_to"), summary("vq_dump_from"));
    QVERIFY(summary("vq_dump_to").startsWith(QStringLiteral("3000,")));
}

void tst_RunFile::failingLineIsNamed()
{
    const QString path = writeFile("-- setup\ninsert into items values (1, 'a');\n\n"
                                   "insert into items\n  values (2, 'b');\n"
                                   "select * from no_such_table;\ninsert into items values (3, 'c');\n");
    const Outcome out = run(m_server, Database, path);
    QCOMPARE(out.statuses, QStringList({ "トランザクション開始", "エラー" }));
    // Each outcome under its own statement and line, the failure's too.
    const QString name = QRegularExpression::escape(QFileInfo(path).fileName());
    for (const QString &pattern : { QStringLiteral("^%1:2: insert into items values \\(1, 'a'\\) "
                                                   "完了 · 影響を受けた行 1"),
                                    QStringLiteral("^%1:4: insert into items… 完了 · 影響を受けた行 1"),
                                    QStringLiteral("^%1:6: select \\* from no_such_table エラー 1146") })
        QVERIFY2(out.log.filter(QRegularExpression(pattern.arg(name))).size() == 1,
                 qPrintable(pattern + u'\n' + out.log.join('\n')));
    // What ran, as the schema panel reads it for DDL: a file's statements
    // by their first line, without the file's name.
    QCOMPARE(out.ran, QStringList({ "insert into items values (1, 'a')", "insert into items…",
                                    "select * from no_such_table" }));
    QCOMPARE(items(), QString());
}

void tst_RunFile::cancelPartWay()
{
    const QString path = writeFile("insert into items values (1, 'a');\nselect sleep(20);\n"
                                   "insert into items values (2, 'b');\n");
    QElapsedTimer clock;
    clock.start();
    const Outcome out = run(m_server, Database, path, "UTF-8", 1500);
    QVERIFY(clock.elapsed() < 15000);
    QCOMPARE(out.statuses.last(), QStringLiteral("キャンセルしました。"));
    QCOMPARE(items(), QString());
}

void tst_RunFile::refused_data()
{
    QTest::addColumn<QByteArray>("bytes"); // empty: the path is a directory
    QTest::addColumn<QString>("reason");
    const QByteArray first = "insert into items values (1, 'a');\n";
    QTest::newRow("directory") << QByteArray() << "通常のファイルではありません";
    QTest::newRow("binary") << first + QByteArray("\x7f" "ELF\0\0\x01", 7) << "読めないバイト";
    QTest::newRow("invalid UTF-8") << first + "select 'caf\xe9';\n" << "読めないバイト";
    QTest::newRow("cut inside a string") << first + "insert into items values (2, 'b" << "引用符";
    QTest::newRow("cut inside a DELIMITER block")
        << first + "DELIMITER ;;\ncreate procedure q() begin select 1; end;;\n/* never closed"
        << "コメント";
    QTest::newRow("bad DELIMITER line") << first + "DELIMITER\n" << "DELIMITER";
}

void tst_RunFile::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString path = bytes.isEmpty() ? m_dir.path() : writeFile(bytes);
    const Outcome out = run(m_server, Database, path);
    QCOMPARE(out.statuses, QStringList{ "ファイルを実行できませんでした。" });
    QVERIFY2(out.log.join('\n').contains(reason), qPrintable(out.log.join('\n')));
    QCOMPARE(items(), QString());
}

// The question before a run names what commits by itself by kind, as the
// server reads the statements.
void tst_RunFile::committingSummary_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("kinds");
    QTest::newRow("a dump's versioned comments")
        << "LOCK TABLES `t` WRITE;\n/*!40000 ALTER TABLE `t` DISABLE KEYS */;\n"
           "INSERT INTO t VALUES (1);\n/*!40000 ALTER TABLE `t` ENABLE KEYS */;\nUNLOCK TABLES;"
        << QStringList{ "ALTER TABLE × 2", "LOCK × 1", "UNLOCK × 1" };
    QTest::newRow("comments and case")
        << "/* first */ create or replace view v as select 1;\n-- x\nDrop /* y */ Table t;\ntruncate t;"
        << QStringList{ "CREATE VIEW × 1", "DROP TABLE × 1", "TRUNCATE × 1" };
    QTest::newRow("MariaDB's own comment") << "/*M!100401 create sequence s */;"
                                           << QStringList{ "CREATE SEQUENCE × 1" };
}

void tst_RunFile::committingSummary()
{
    QFETCH(QString, script);
    QFETCH(QStringList, kinds);
    const auto run = QueryRun::fromText(nullptr, 0, splitStatements(script).statements);
    const QStringList summary = QueryRun::committingSummary(run->preview());
    QCOMPARE(summary.mid(0, summary.indexOf(QString())), kinds);
}

QTEST_MAIN(tst_RunFile)
#include "tst_runfile.moc"
