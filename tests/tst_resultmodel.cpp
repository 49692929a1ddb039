#include "QZQuorvinWindow.h"
#include "ResultModel.h"
#include "RowStore.h"
#include "TestSupport.h"

#include <QBrush>
#include <QHeaderView>
#include <QProcess>
#include <QSignalSpy>
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
    void wideRowsAndAppendedBatches();
    void rowsOutliveDisconnect();
    void nextCommandWhileLoading_data();
    void nextCommandWhileLoading();
    void sortByHeaderClick_data();
    void sortByHeaderClick();
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

void tst_ResultModel::cleanup() { m_session.stop(); }

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
    QTest::addColumn<QString>("shown"); // when not what the client prints
    QTest::newRow("decimal, every digit") << "CAST('12345678901234567890123456789.123456789012345678901234567890' AS DECIMAL(65,30))" << QString();
    QTest::newRow("negative decimal") << "CAST(-0.10 AS DECIMAL(10,2))" << QString();
    QTest::newRow("bigint unsigned max") << "CAST(18446744073709551615 AS UNSIGNED)" << QString();
    QTest::newRow("bigint min") << "CAST(-9223372036854775808 AS SIGNED)" << QString();
    QTest::newRow("datetime(6)") << "CAST('2024-02-29 23:59:59.123456' AS DATETIME(6))" << QString();
    QTest::newRow("time over a day") << "CAST('838:59:59' AS TIME)" << QString();
    QTest::newRow("negative time") << "CAST('-12:34:56.5' AS TIME(1))" << QString();
    QTest::newRow("date") << "CAST('0001-01-01' AS DATE)" << QString();
    QTest::newRow("zero date") << "CAST('0000-00-00' AS DATE)" << QString();
    QTest::newRow("double") << "CAST(0.1 AS DOUBLE) + CAST(0.2 AS DOUBLE)" << QString();
    QTest::newRow("float") << "CAST(1.0/3 AS FLOAT)" << QString();
    QTest::newRow("Japanese") << "'日本語の値、ＡＢＣ'" << QString();
    QTest::newRow("4-byte") << "'🍣𠮷'" << QString();
    QTest::newRow("year") << "YEAR('2024-05-05')" << QString();
    QTest::newRow("json") << "JSON_OBJECT('名前', 'テスト', 'n', 1.50)" << QString();
    QTest::newRow("bit as number") << "b'1010' + 0" << QString();
    QTest::newRow("tab and newline") << "'a\\tb'" << QString();
    QTest::newRow("empty string") << "''" << QString();
    QTest::newRow("NULL") << "NULL" << "NULL";
    QTest::newRow("the text NULL") << "'NULL'" << "NULL";
    QTest::newRow("binary as hex") << "CAST(X'00FF10' AS BINARY(3))" << "0x00FF10";
    QTest::newRow("empty binary") << "X''" << "0x";
    QTest::newRow("bit") << "b'101'" << "0x05";
}

void tst_ResultModel::valuesMatchTheClient()
{
    QFETCH(QString, expression);
    QFETCH(QString, shown);
    const QString sql = QStringLiteral("select %1 as v").arg(expression);
    const QStringList client = shown.isNull() ? clientRow(sql) : QStringList{ shown };
    QVERIFY(!client.isEmpty());
    const QString expected = client.join(QLatin1Char('\t'));

    m_session.run(sql);
    QCOMPARE(model() ? model()->rowCount() : -1, 1);
    // --batch escapes tabs, newlines and backslashes even with --raw off;
    // with --raw they come through as they are.
    QCOMPARE(model()->cellText(0, 0), expected);
    QCOMPARE(model()->index(0, 0).data().toString(), expected);
    // NULL and the text 'NULL' look different.
    QCOMPARE(model()->isNull(0, 0), expression == QLatin1String("NULL"));
    QCOMPARE(model()->index(0, 0).data(Qt::ForegroundRole).isValid(), model()->isNull(0, 0));
}

void tst_ResultModel::wideRowsAndAppendedBatches()
{
    constexpr int Columns = 40, Rows = 50;
    // Every seventh cell NULL, the diagonal long.
    auto value = [](int r, int c) { return QByteArray(c == r % Columns ? 300 : 1, char('a' + c % 26)); };
    auto isNull = [](int r, int c) { return (c + r) % 7 == 0; };
    RowStore store, batch;
    for (int r = 0; r < Rows; ++r) {
        QByteArrayList text;
        const char *cells[Columns];
        unsigned long sizes[Columns];
        for (int c = 0; c < Columns; ++c) {
            text << value(r, c);
            cells[c] = isNull(r, c) ? nullptr : text.last().constData();
            sizes[c] = (unsigned long)text.last().size();
        }
        (r < 10 ? store : batch).appendRow(cells, sizes, Columns);
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

void tst_ResultModel::nextCommandWhileLoading_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("a data change") << "change";
    QTest::newRow("disconnect") << "disconnect";
}

// The rest of a stream is read before the connection does anything else.
void tst_ResultModel::nextCommandWhileLoading()
{
    QFETCH(QString, action);
    m_session.run(QStringLiteral("select seq, concat('備考', seq, '🍣') from seq_1_to_100000"));
    ResultModel *loading = model();
    QVERIFY(loading->isLoading());
    QSignalSpy status(&m_session.window(), &QZQuorvinWindow::message);
    if (action == "change") {
        const auto no = answerCommitQuestion(QMessageBox::No);
        m_session.run(QStringLiteral("update sorting set t = 'x' where n = 1"));
        QCOMPARE(statusTexts(status).value(1), QStringLiteral("ロールバックしました。"));
    } else {
        m_session.trigger("m_pDisconnectAct");
    }
    QCOMPARE(loading->index(99999, 0).data().toString(), QStringLiteral("100000"));
    QVERIFY(!statusTexts(status).contains(QStringLiteral("データベースに接続して下さい。")));
    QVERIFY(!statusTexts(status).contains(QStringLiteral("エラー")));
}

void tst_ResultModel::sortByHeaderClick_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("order"); // of column n
    // Ties (d = 10.5) keep the order the rows came in, both ways.
    QTest::newRow("decimal, NULL first") << 1 << 1 << "3 2 6 4 1 5";
    QTest::newRow("again: descending, NULL last") << 1 << 2 << "1 5 4 6 2 3";
    QTest::newRow("bigint unsigned beyond 2^63") << 2 << 1 << "5 3 4 1 6 2";
    QTest::newRow("double with exponents") << 3 << 1 << "3 2 4 5 6 1";
    QTest::newRow("text by the server's bytes") << 4 << 1 << "3 6 4 2 1 5";
}

void tst_ResultModel::sortByHeaderClick()
{
    QFETCH(int, column);
    QFETCH(int, clicks);
    QFETCH(QString, order);
    const QString sql = QStringLiteral("select n, d, u, f, t from sorting order by n");
    m_session.run(sql);
    QHeaderView *header = m_session.grid()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    QStringList shown;
    for (int r = 0; r < model()->rowCount(); ++r)
        shown << model()->index(r, 0).data().toString();
    QCOMPARE(shown.join(QLatin1Char(' ')), order);

    m_session.run(sql); // a new result starts unsorted
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
