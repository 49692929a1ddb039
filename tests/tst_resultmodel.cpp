#include "QZQuorvinWindow.h"
#include "ResultModel.h"
#include "RowStore.h"
#include "TestSupport.h"

#include <QBrush>
#include <QHeaderView>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
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
    void nullAndBinaryAsTheUserReadsThem();
    void wideRowsAndAppendedBatches();
    void rowsOutliveDisconnect();
    void sortByColumn_data();
    void sortByColumn();
    void headerClickSortsAndNewResultIsUnsorted();
    void widthFromWidestValueDeepInResult();

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
    QSqlQuery q(m_server.openCheckConnection(QStringLiteral("check"), Database));
    QVERIFY(q.exec("CREATE TABLE sorting (n INT, d DECIMAL(30,10), u BIGINT UNSIGNED, f DOUBLE, "
                   "t VARCHAR(10)) CHARACTER SET utf8mb4"));
    QVERIFY(q.exec("INSERT INTO sorting VALUES (1, 10.5, 9223372036854775808, 1e20, 'b'), "
                   "(2, -2.25, 18446744073709551615, -1.5, 'a'), (3, NULL, 1, NULL, NULL), "
                   "(4, 9.75, 9223372036854775807, 5e-7, 'B'), (5, 10.5, 0, 0.0000012, 'あ'), "
                   "(6, 0.0000000001, 18446744073709551614, 100, '')"));
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

void tst_ResultModel::nullAndBinaryAsTheUserReadsThem()
{
    m_session.run(QStringLiteral("select NULL as a, 'NULL' as b, CAST(X'00FF10' AS BINARY(3)) as c, "
                                 "X'' as d, b'101' as e"));
    QCOMPARE(model()->index(0, 0).data().toString(), QStringLiteral("NULL"));
    QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("NULL"));
    QVERIFY(model()->isNull(0, 0));
    QVERIFY(!model()->isNull(0, 1));
    // The user tells them apart on screen.
    QVERIFY(model()->index(0, 0).data(Qt::ForegroundRole) != model()->index(0, 1).data(Qt::ForegroundRole));
    QCOMPARE(model()->cellText(0, 2), QStringLiteral("0x00FF10"));
    QCOMPARE(model()->cellText(0, 3), QStringLiteral("0x"));
    QCOMPARE(model()->cellText(0, 4), QStringLiteral("0x05"));
}

// Rows wider than the store's checkpoint stride, NULLs and long values on
// both sides of each checkpoint, and a batch taken over by another store.
void tst_ResultModel::wideRowsAndAppendedBatches()
{
    constexpr int Columns = 40, Rows = 50;
    // Every seventh cell NULL, the diagonal long.
    auto value = [](int r, int c) { return QByteArray(c == r % Columns ? 300 : 1, char('a' + c % 26)); };
    auto isNull = [](int r, int c) { return (c + r) % 7 == 0; };
    RowStore store, batch;
    for (int r = 0; r < Rows; ++r) {
        std::vector<QByteArray> text(Columns);
        std::vector<const char *> cells(Columns);
        std::vector<unsigned long> sizes(Columns);
        for (int c = 0; c < Columns; ++c) {
            text[c] = value(r, c);
            cells[c] = isNull(r, c) ? nullptr : text[c].constData();
            sizes[c] = (unsigned long)text[c].size();
        }
        (r < 10 ? store : batch).appendRow(cells.data(), sizes.data(), Columns);
    }
    store.append(std::move(batch));
    QCOMPARE(batch.rowCount(), 0);
    QCOMPARE(store.rowCount(), Rows);
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Columns; ++c) {
            const RowStore::Cell cell = store.cell(r, c);
            QCOMPARE(cell.isNull, isNull(r, c));
            if (!cell.isNull)
                QCOMPARE(QByteArray(cell.data, cell.size), value(r, c));
        }
    }
    QCOMPARE(store.widest(33).unitsRow, 33); // found in the appended batch
    QCOMPARE(store.widest(3).bytes, 300u);
}

void tst_ResultModel::rowsOutliveDisconnect()
{
    m_session.run(QStringLiteral("select seq as id, concat('備考', seq, '🍣') as note from seq_1_to_500"));
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

void tst_ResultModel::sortByColumn_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QString>("order"); // of column n
    // Ties (d = 10.5) keep the order the rows came in, both ways.
    QTest::newRow("decimal, NULL first") << 1 << false << "3 2 6 4 1 5";
    QTest::newRow("decimal descending, NULL last") << 1 << true << "1 5 4 6 2 3";
    QTest::newRow("bigint unsigned beyond 2^63") << 2 << false << "5 3 4 1 6 2";
    QTest::newRow("double with exponents") << 3 << false << "3 2 4 5 6 1";
    QTest::newRow("text by the server's bytes") << 4 << false << "3 6 4 2 1 5";
}

void tst_ResultModel::sortByColumn()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QString, order);
    m_session.run(QStringLiteral("select n, d, u, f, t from sorting order by n"));
    model()->sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    QStringList shown;
    for (int r = 0; r < model()->rowCount(); ++r)
        shown << model()->index(r, 0).data().toString();
    QCOMPARE(shown.join(QLatin1Char(' ')), order);
    model()->sort(-1);
    QCOMPARE(model()->index(0, 0).data().toString(), QStringLiteral("1"));
}

void tst_ResultModel::headerClickSortsAndNewResultIsUnsorted()
{
    m_session.run(QStringLiteral("select n, d from sorting order by n"));
    QHeaderView *header = m_session.grid()->horizontalHeader();
    const QPoint onD(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onD);
    QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("NULL"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onD);
    QCOMPARE(model()->index(0, 1).data().toString(), QStringLiteral("10.5000000000"));
    QCOMPARE(model()->index(5, 1).data().toString(), QStringLiteral("NULL"));

    m_session.run(QStringLiteral("select n, d from sorting order by n"));
    QCOMPARE(model()->sortColumn(), -1);
    QCOMPARE(header->sortIndicatorSection(), -1);
    QCOMPARE(model()->index(0, 0).data().toString(), QStringLiteral("1"));
}

// Rows come in after the first screen; the one wide value is far down.
void tst_ResultModel::widthFromWidestValueDeepInResult()
{
    m_session.run(QStringLiteral("select if(seq = 90000, repeat('W', 20), 'x') as a, "
                                 "if(seq = 95000, repeat('W', 200), 'x') as b from seq_1_to_100000"));
    model()->finishLoading();
    QCoreApplication::processEvents();
    const QFontMetrics metrics = m_session.grid()->fontMetrics();
    const int a = m_session.grid()->columnWidth(0);
    QVERIFY2(a >= metrics.horizontalAdvance(QString(20, QLatin1Char('W'))) && a < ResultModel::MaxColumnWidth,
             qPrintable(QString::number(a)));
    QCOMPARE(m_session.grid()->columnWidth(1), ResultModel::MaxColumnWidth);
}

QTEST_MAIN(tst_ResultModel)
#include "tst_resultmodel.moc"
