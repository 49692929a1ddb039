#include "QZQuorvinWindow.h"
#include "ResultExporter.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString Database = QStringLiteral("vq_export");
const QString Query = QStringLiteral("select id, t as 名前, t2, d, u, b from src order by id");
using Format = ResultExporter::Format;

} // namespace

class tst_Export : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_session.stop(); }

    void exactText_data();
    void exactText();
    void insertStatementsReadBack();
    void failedExportKeepsOldFile();
    void textNullStaysText();

private:
    ResultModel *model() const { return qobject_cast<ResultModel *>(m_session.grid()->model()); }

    TestServer m_server;
    WindowSession m_session;
    QTemporaryDir m_files;
};

void tst_Export::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    QSqlQuery q(m_server.check(QStringLiteral("check"), Database));
    QVERIFY(q.exec("CREATE TABLE src (id INT, t VARCHAR(20), t2 VARCHAR(20), d DECIMAL(30,10), "
                   "u BIGINT UNSIGNED, b VARBINARY(4)) CHARACTER SET utf8mb4"));
    QVERIFY(q.exec("INSERT INTO src VALUES "
                   "(1, NULL, '日本語𠮷', 12345678901234567890.0123456789, 18446744073709551615, X'00FF'),"
                   "(2, '', 'a,b \"q\"', -0.0000000001, 0, X''),"
                   "(3, 'tab\\there', 'line\\nend', NULL, NULL, NULL)"));
}

void tst_Export::init()
{
    m_session.start();
    m_session.window().show();
    QVERIFY(m_session.connect(m_server.params(Database)));
    m_session.run(Query);
    QVERIFY(model());
    QTRY_VERIFY(!model()->isLoading());
    QCOMPARE(model()->rowCount(), 3);
}

void tst_Export::exactText_data()
{
    QTest::addColumn<QString>("how"); // a grid action, or a file in that format
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("byteOrderMark");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray copied("1\t\t日本語𠮷\t12345678901234567890.0123456789\t18446744073709551615\t0x00FF\n"
                            "2\t\t\"a,b \"\"q\"\"\"\t-0.0000000001\t0\t0x\n"
                            "3\t\"tab\there\"\t\"line\nend\"\t\t\t\n");
    QTest::newRow("copy: NULL and empty are empty fields") << "m_pCopyCellsAct" << 0 << false << copied;
    QTest::newRow("Ctrl+C in the grid, not the editor") << "key" << 0 << false << copied;
    QTest::newRow("copy with column names")
        << "m_pCopyWithHeadersAct" << 0 << false
        << QByteArray("id\t名前\tt2\td\tu\tb\n"
                      "1\t\t日本語𠮷\t12345678901234567890.0123456789\t18446744073709551615\t0x00FF\n"
                      "2\t\t\"a,b \"\"q\"\"\"\t-0.0000000001\t0\t0x\n"
                      "3\t\"tab\there\"\t\"line\nend\"\t\t\t\n");
    const QByteArray insert("INSERT INTO `result` (`id`, `名前`, `t2`, `d`, `u`, `b`) VALUES (");
    QTest::newRow("copy as INSERT")
        << "m_pCopyAsInsertAct" << 0 << false
        << insert + "1, NULL, '日本語𠮷', 12345678901234567890.0123456789, 18446744073709551615, X'00FF');\n"
         + insert + "2, '', 'a,b \"q\"', -0.0000000001, 0, '');\n"
         + insert + "3, 'tab\there', 'line\\nend', NULL, NULL, NULL);\n";
    QTest::newRow("TSV file: empty string quoted")
        << "file" << int(Format::Tsv) << false
        << QByteArray("id\t名前\tt2\td\tu\tb\n"
                      "1\t\t日本語𠮷\t12345678901234567890.0123456789\t18446744073709551615\t0x00FF\n"
                      "2\t\"\"\t\"a,b \"\"q\"\"\"\t-0.0000000001\t0\t0x\n"
                      "3\t\"tab\there\"\t\"line\nend\"\t\t\t\n");
    const QByteArray csv("id,名前,t2,d,u,b\r\n"
                         "1,,日本語𠮷,12345678901234567890.0123456789,18446744073709551615,0x00FF\r\n"
                         "2,\"\",\"a,b \"\"q\"\"\",-0.0000000001,0,0x\r\n"
                         "3,tab\there,\"line\nend\",,,\r\n");
    QTest::newRow("CSV with byte-order mark") << "file" << int(Format::Csv) << true
                                              << "\xEF\xBB\xBF" + csv;
    QTest::newRow("CSV without") << "file" << int(Format::Csv) << false << csv;
    QTest::newRow("JSON")
        << "file" << int(Format::Json) << false
        << QByteArray("[\n"
                      "{\"id\":1,\"名前\":null,\"t2\":\"日本語𠮷\",\"d\":12345678901234567890.0123456789,"
                      "\"u\":18446744073709551615,\"b\":\"0x00FF\"},\n"
                      "{\"id\":2,\"名前\":\"\",\"t2\":\"a,b \\\"q\\\"\",\"d\":-0.0000000001,\"u\":0,\"b\":\"0x\"},\n"
                      "{\"id\":3,\"名前\":\"tab\\there\",\"t2\":\"line\\nend\",\"d\":null,\"u\":null,\"b\":null}\n"
                      "]\n");
}

void tst_Export::exactText()
{
    QFETCH(QString, how);
    QFETCH(int, format);
    QFETCH(bool, byteOrderMark);
    QFETCH(QByteArray, expected);

    if (how != QLatin1String("file")) {
        QGuiApplication::clipboard()->clear();
        m_session.grid()->selectAll();
        if (how == QLatin1String("key")) {
            m_session.window().activateWindow();
            m_session.grid()->setFocus();
            QVERIFY(QTest::qWaitForWindowActive(&m_session.window()));
            QTest::keyClick(m_session.grid(), Qt::Key_C, Qt::ControlModifier);
        } else {
            m_session.trigger(how.toLatin1().constData());
        }
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), expected);
        return;
    }
    ResultExporter::Options options;
    options.format = Format(format);
    options.header = true;
    options.byteOrderMark = byteOrderMark;
    const QString path = m_files.filePath(QStringLiteral("out"));
    QCOMPARE(ResultExporter(*model(), options).writeFile(path), ResultExporter::Outcome::Written);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

// The statements put back exactly what was exported, on the server itself.
void tst_Export::insertStatementsReadBack()
{
    ResultExporter::Options options;
    options.format = Format::SqlInsert;
    const QByteArray sql = ResultExporter(*model(), options).text();
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
    QVERIFY(q.exec("DROP TABLE IF EXISTS result"));
    QVERIFY(q.exec("CREATE TABLE result (id INT, 名前 VARCHAR(20), t2 VARCHAR(20), "
                   "d DECIMAL(30,10), u BIGINT UNSIGNED, b VARBINARY(4)) CHARACTER SET utf8mb4"));
    for (const QByteArray &statement : sql.split('\n')) {
        if (!statement.isEmpty())
            QVERIFY2(q.exec(QString::fromUtf8(statement)), statement.constData());
    }
    QVERIFY(q.exec("SELECT COUNT(*) FROM src s JOIN result r ON r.id = s.id AND r.名前 <=> s.t "
                   "AND BINARY r.t2 <=> BINARY s.t2 AND r.d <=> s.d AND r.u <=> s.u AND r.b <=> s.b"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 3);
}

// A write that fails half-way (here: past the file-size limit, as on a full
// disk) leaves the old file whole and says why.
void tst_Export::failedExportKeepsOldFile()
{
    m_session.run(QStringLiteral("select seq, repeat('あ', 100) from seq_1_to_100000"));
    QTRY_VERIFY(!model()->isLoading());
    const QString path = m_files.filePath(QStringLiteral("old.csv"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    struct rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit small = before;
    small.rlim_cur = 1 << 20;
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    QString error;
    const auto outcome = ResultExporter(*model(), {}).writeFile(path, {}, &error);
    setrlimit(RLIMIT_FSIZE, &before);

    QCOMPARE(outcome, ResultExporter::Outcome::Failed);
    QCOMPARE(error, QStringLiteral("ファイルの大きさの上限を超えました"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old contents\n"));
}

// LOAD DATA ... FIELDS ENCLOSED BY '"' reads a bare NULL as SQL NULL: the
// text must come out quoted, SQL NULL as the empty field.
void tst_Export::textNullStaysText()
{
    m_session.run(QStringLiteral("select 'NULL' as a, NULL as b, 'null' as c, 'NULLS' as d"));
    QTRY_VERIFY(!model()->isLoading());
    ResultExporter::Options options;
    options.format = Format::Csv;
    QCOMPARE(ResultExporter(*model(), options).text(), QByteArray("\"NULL\",,\"null\",NULLS\r\n"));
}

QTEST_MAIN(tst_Export)
#include "tst_export.moc"
