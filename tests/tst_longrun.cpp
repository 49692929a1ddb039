// Long use: many connections in a row, and statements of ten megabytes.

#include "DatabaseConnection.h"
#include "QZQuorvinWindow.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QTableView>
#include <QTest>

namespace {

const QString Database = QStringLiteral("vq_longrun");

void quiet(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

class tst_LongRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void manyConnectionsDoNotGrow();
    void tenMegabyteStatement_data();
    void tenMegabyteStatement();

private:
    TestServer m_server;
};

void tst_LongRun::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    const QSqlDatabase check = m_server.check(QStringLiteral("check"), Database);
    QVERIFY(exec(check, "CREATE TABLE t (id INT PRIMARY KEY, note MEDIUMTEXT)"));
    QVERIFY(exec(check, "INSERT INTO t SELECT seq, CONCAT('メモ', seq) FROM seq_1_to_2000"));
}

void tst_LongRun::manyConnectionsDoNotGrow()
{
    QtMessageHandler previous = qInstallMessageHandler(quiet);
    DatabaseConnection connection;
    qint64 warm = 0;
    for (int round = 1; round <= 400; ++round) {
        QVERIFY(openAndWait(connection, m_server.params(Database)));
        const auto model = queryAll(connection, QStringLiteral("select id, note from t"));
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 2000);
        connection.close();
        QCOMPARE(model->index(1999, 1).data().toString(), QStringLiteral("メモ2000"));
        if (round == 50)
            warm = residentKiB();
    }
    qInstallMessageHandler(previous);
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));
    const qint64 growth = residentKiB() - warm;
    qDebug() << "RSS growth over 350 rounds:" << growth << "KiB";
#if !defined(__SANITIZE_ADDRESS__) // its quarantine keeps freed memory
    QVERIFY2(growth < 8 * 1024, qPrintable(QString::number(growth)));
#endif
}

void tst_LongRun::tenMegabyteStatement_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("query") << "query";
    QTest::newRow("data change") << "change";
}

void tst_LongRun::tenMegabyteStatement()
{
    QFETCH(QString, kind);
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    QString sql;
    sql.reserve(11 << 20);
    if (kind == "change") {
        sql = QStringLiteral("insert into t values ");
        for (int id = 100000; sql.size() < (10 << 20); ++id)
            sql += QStringLiteral("(%1, 'note メモ'),").arg(id);
        sql.chop(1);
    } else {
        sql = QStringLiteral("select count(*) from t /* ");
        while (sql.size() < (10 << 20))
            sql += QStringLiteral("a long comment, in words; ");
        sql += QStringLiteral(" */");
    }
    ModalAnswerer yes(QStringLiteral("ConfirmCommitMessageBox"),
                      [](QWidget *w) { QTest::keyClick(w, Qt::Key_Return); },
                      120000); // ten megabytes of INSERT on a busy machine
    session.run(sql);
    const QSqlDatabase check = QSqlDatabase::database(QStringLiteral("check"));
    if (kind == "query") {
        QCOMPARE(session.grid()->model()->index(0, 0).data().toString(), QStringLiteral("2000"));
    } else {
        QVERIFY2(yes.answered(), qPrintable(session.statuses().join(" ")));
        QCOMPARE(session.statuses().constLast(), QStringLiteral("コミットしました。"));
        QVERIFY(scalar(check, "SELECT COUNT(*) FROM t WHERE id >= 100000").toInt()
                >= 100000);
        QVERIFY(exec(check, "DELETE FROM t WHERE id >= 100000"));
    }
    session.stop();
}

QTEST_MAIN(tst_LongRun)
#include "tst_longrun.moc"
