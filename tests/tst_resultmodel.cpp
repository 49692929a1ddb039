#include "QZQuorvinWindow.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QBrush>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

const QString Database = QStringLiteral("vq_results");

} // namespace

class tst_ResultModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void valuesMatchTheClient_data();
    void valuesMatchTheClient();
    void nullIsNotTheTextNull();
    void binaryAsHex();
    void hugeValueIsShownCut();
    void rowsOutliveDisconnect();
    void replacementQueryResets();
    void incrementalLoading();
    void nextCommandWhileLoading_data();
    void nextCommandWhileLoading();

private:
    ResultModel *model() const;
    QStringList clientRow(const QString &sql);

    TestServer m_server;
    WindowSession m_session;
};

void tst_ResultModel::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    QSqlDatabase check = m_server.openCheckConnection(QStringLiteral("check"), Database);
    QSqlQuery q(check);
    QVERIFY(q.exec("CREATE TABLE big (id INT PRIMARY KEY, name VARCHAR(40), note VARCHAR(100))"));
    QVERIFY(q.exec("INSERT INTO big SELECT seq, CONCAT('name ', seq), CONCAT('備考', seq, '🍣') "
                   "FROM seq_1_to_100000"));
}

void tst_ResultModel::init()
{
    m_session.start(true);
    QVERIFY(m_session.connect(inputFor(m_server, Database)));
}

void tst_ResultModel::cleanup()
{
    m_session.stop();
}

ResultModel *tst_ResultModel::model() const
{
    return qobject_cast<ResultModel *>(m_session.grid()->model());
}

// What `mariadb --batch --raw` prints for the query's first row.
QStringList tst_ResultModel::clientRow(const QString &sql)
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), m_server.password);
    client.setProcessEnvironment(env);
    client.start(QStringLiteral("mariadb"),
                 { "--no-defaults", "--batch", "--raw", "--skip-column-names",
                   "-h", m_server.host, "-P", QString::number(m_server.port), "-u", m_server.user,
                   Database, "-e", sql });
    if (!client.waitForFinished(30000) || client.exitCode() != 0) {
        qWarning() << client.readAllStandardError();
        return {};
    }
    QByteArray out = client.readAllStandardOutput();
    if (out.endsWith('\n'))
        out.chop(1);
    return QString::fromUtf8(out).split(QLatin1Char('\t'));
}

void tst_ResultModel::valuesMatchTheClient_data()
{
    QTest::addColumn<QString>("expression");
    QTest::newRow("decimal, every digit") << "CAST('12345678901234567890123456789.123456789012345678901234567890' AS DECIMAL(65,30))";
    QTest::newRow("negative decimal") << "CAST(-0.10 AS DECIMAL(10,2))";
    QTest::newRow("bigint unsigned max") << "CAST(18446744073709551615 AS UNSIGNED)";
    QTest::newRow("bigint min") << "CAST(-9223372036854775808 AS SIGNED)";
    QTest::newRow("datetime(6)") << "CAST('2024-02-29 23:59:59.123456' AS DATETIME(6))";
    QTest::newRow("time over a day") << "CAST('838:59:59' AS TIME)";
    QTest::newRow("negative time") << "CAST('-12:34:56.5' AS TIME(1))";
    QTest::newRow("date") << "CAST('0001-01-01' AS DATE)";
    QTest::newRow("zero date") << "CAST('0000-00-00' AS DATE)";
    QTest::newRow("double") << "CAST(0.1 AS DOUBLE) + CAST(0.2 AS DOUBLE)";
    QTest::newRow("float") << "CAST(1.0/3 AS FLOAT)";
    QTest::newRow("Japanese") << "'日本語の値、ＡＢＣ'";
    QTest::newRow("4-byte") << "'🍣𠮷'";
    QTest::newRow("year") << "YEAR('2024-05-05')";
    QTest::newRow("json") << "JSON_OBJECT('名前', 'テスト', 'n', 1.50)";
    QTest::newRow("bit as number") << "b'1010' + 0";
    QTest::newRow("tab and newline") << "'a\\tb'";
    QTest::newRow("empty string") << "''";
}

void tst_ResultModel::valuesMatchTheClient()
{
    QFETCH(QString, expression);
    const QString sql = QStringLiteral("select %1 as v").arg(expression);
    const QStringList expected = clientRow(sql);
    QVERIFY(!expected.isEmpty());

    m_session.run(sql);
    QVERIFY(model());
    QCOMPARE(model()->rowCount(), 1);
    QString shown = model()->cellText(0, 0);
    // --batch escapes tabs, newlines and backslashes even with --raw off;
    // with --raw they come through as they are.
    QCOMPARE(shown, expected.join(QLatin1Char('\t')));
    QCOMPARE(model()->index(0, 0).data().toString(), shown);
}

void tst_ResultModel::nullIsNotTheTextNull()
{
    m_session.run(QStringLiteral("select NULL as a, 'NULL' as b"));
    QCOMPARE(model()->index(0, 0).data().toString(), QStringLiteral("NULL"));
    QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("NULL"));
    QVERIFY(model()->isNull(0, 0));
    QVERIFY(!model()->isNull(0, 1));
    // The user tells them apart on screen.
    QVERIFY(model()->index(0, 0).data(Qt::ForegroundRole) != model()->index(0, 1).data(Qt::ForegroundRole));
}

void tst_ResultModel::binaryAsHex()
{
    m_session.run(QStringLiteral("select CAST(X'00FF10' AS BINARY(3)) as a, X'' as b, "
                       "CAST('日本' AS BINARY) as c, b'101' as d, 'text' as e"));
    QCOMPARE(model()->cellText(0, 0), QStringLiteral("0x00FF10"));
    QCOMPARE(model()->cellText(0, 1), QStringLiteral("0x"));
    QCOMPARE(model()->cellText(0, 2), QStringLiteral("0x") + QString::fromLatin1(QByteArray("日本").toHex().toUpper()));
    QCOMPARE(model()->cellText(0, 3), QStringLiteral("0x05"));
    QCOMPARE(model()->cellText(0, 4), QStringLiteral("text"));
}

void tst_ResultModel::hugeValueIsShownCut()
{
    // 16 MB in one cell: held whole, shown cut, painted without trouble.
    m_session.run(QStringLiteral("select REPEAT('あ', 16 * 1024 * 1024 / 3) as v, 1 as n"));
    QVERIFY(model());
    QCOMPARE(model()->cellText(0, 0).size(), 16 * 1024 * 1024 / 3);
    const QString shown = model()->index(0, 0).data().toString();
    QVERIFY(shown.size() < 5000);
    QVERIFY(shown.startsWith(QStringLiteral("ああ")));
    QVERIFY(!shown.contains(QChar(0xFFFD)));
    m_session.grid()->viewport()->repaint();
    QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("1"));
}

void tst_ResultModel::rowsOutliveDisconnect()
{
    m_session.run(QStringLiteral("select id, note from big order by id limit 500"));
    m_session.trigger("m_pDisconnectAct");
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("MySQL")));

    QCOMPARE(model()->rowCount(), 500);
    QCOMPARE(model()->index(499, 1).data().toString(), QStringLiteral("備考500🍣"));
    m_session.grid()->scrollToBottom();
    m_session.grid()->viewport()->repaint();
    m_session.grid()->scrollToTop();
    m_session.grid()->viewport()->repaint();
    QCOMPARE(model()->index(0, 0).data().toString(), QStringLiteral("1"));

    // A failed connect does not take them away either.
    ConnectionInput wrong = inputFor(m_server, Database);
    wrong.password = QStringLiteral("wrong");
    QVERIFY(m_session.connect(wrong));
    QCOMPARE(model()->index(250, 0).data().toString(), QStringLiteral("251"));
}

void tst_ResultModel::replacementQueryResets()
{
    m_session.run(QStringLiteral("select id, name, note from big order by id limit 10"));
    QPointer<QAbstractItemModel> first = m_session.grid()->model();
    QCOMPARE(first->columnCount(), 3);
    m_session.run(QStringLiteral("select 'x' as only_column"));
    QVERIFY(!first); // the old result is released
    QCOMPARE(model()->columnCount(), 1);
    QCOMPARE(model()->rowCount(), 1);
    QCOMPARE(model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("only_column"));

    // A failing query leaves the last result in place.
    m_session.run(QStringLiteral("select * from no_such_table"));
    QCOMPARE(model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("only_column"));
}

void tst_ResultModel::incrementalLoading()
{
    m_session.run(QStringLiteral("select id, name, note from big order by id"));
    ResultModel *m = model();
    QVERIFY(m->rowCount() >= 256);
    QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
    QSignalSpy finished(m, &ResultModel::loadingFinished);
    if (m->isLoading())
        QVERIFY(finished.wait(30000));
    QVERIFY(!m->isLoading());
    QVERIFY(!m->loadFailed());
    QCOMPARE(m->rowCount(), 100000);

    // Rows announced in order and without gaps.
    int next = -1;
    for (const QList<QVariant> &args : inserted) {
        if (next >= 0)
            QCOMPARE(args.at(1).toInt(), next);
        next = args.at(2).toInt() + 1;
    }
    for (int row : { 0, 255, 256, 50000, 99999 }) {
        QCOMPARE(m->index(row, 0).data().toString(), QString::number(row + 1));
        QCOMPARE(m->index(row, 2).data().toString(), QStringLiteral("備考%1🍣").arg(row + 1));
    }
    QCOMPARE(m->headerData(99999, Qt::Vertical).toInt(), 100000);
}

void tst_ResultModel::nextCommandWhileLoading_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("another query") << "query";
    QTest::newRow("a data change") << "change";
    QTest::newRow("disconnect") << "disconnect";
}

void tst_ResultModel::nextCommandWhileLoading()
{
    QFETCH(QString, action);
    m_session.run(QStringLiteral("select id, name, note from big order by id"));
    QPointer<ResultModel> loading = model();
    QVERIFY(loading->isLoading());

    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    if (action == "query") {
        m_session.run(QStringLiteral("select count(*) from big"));
        QCOMPARE(model()->index(0, 0).data().toString(), QStringLiteral("100000"));
    } else if (action == "change") {
        ModalAnswerer no(QStringLiteral("ConfirmCommitMessageBox"), [](QWidget *w) {
            static_cast<QMessageBox *>(w)->button(QMessageBox::No)->click();
        });
        m_session.run(QStringLiteral("update big set name = 'changed' where id = 1"));
        QVERIFY(no.answered());
        QCOMPARE(status.value(1).value(0).toString(), QStringLiteral("ロールバックしました。"));
        QCOMPARE(loading->rowCount(), 100000);
    } else {
        m_session.trigger("m_pDisconnectAct");
        // Everything the query returned is kept.
        QCOMPARE(loading->rowCount(), 100000);
        QCOMPARE(loading->index(99999, 0).data().toString(), QStringLiteral("100000"));
    }
    QVERIFY(!status.contains(QVariantList{ QStringLiteral("データベースに接続して下さい。") }));
    QVERIFY(!status.contains(QVariantList{ QStringLiteral("エラー") }));
}

QTEST_MAIN(tst_ResultModel)
#include "tst_resultmodel.moc"
