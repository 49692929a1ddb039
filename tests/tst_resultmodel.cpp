// The grid shows every value exactly as the server sent it.

#include "DatabaseConnection.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QFont>
#include <QHeaderView>
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
    void values_data();
    void values();
    void nullIsNotTheTextNull();
    void hugeValueIsShownCut();
    void everyRowOfALongResult();
    void wideRowsAndAppendedBatches();
    void sortByHeaderClick_data();
    void sortByHeaderClick();
    void widthFromWidestValueDeepInResult();

private:
    TestServer m_server;
    std::unique_ptr<DatabaseConnection> m_connection;
};

void tst_ResultModel::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    m_connection = std::make_unique<DatabaseConnection>();
    QVERIFY(openAndWait(*m_connection, m_server.params(Database)));
    const QSqlDatabase check = m_server.check(QStringLiteral("check"), Database);
    QVERIFY(exec(check, "CREATE TABLE sorting (n INT, d DECIMAL(30,10), u BIGINT UNSIGNED, "
                        "f DOUBLE, t VARCHAR(10)) CHARACTER SET utf8mb4"));
    QVERIFY(exec(check, "INSERT INTO sorting VALUES (1, 10.5, 9223372036854775808, 1e20, 'b'), "
                        "(2, -2.25, 18446744073709551615, -1.5, 'a'), (3, NULL, 1, NULL, NULL), "
                        "(4, 9.75, 9223372036854775807, 5e-7, 'B'), (5, 10.5, 0, 0.0000012, 'あ'), "
                        "(6, 0.0000000001, 18446744073709551614, 100, '')"));
}

void tst_ResultModel::values_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("shown");
    QTest::newRow("decimal, every digit")
        << "CAST('12345678901234567890123456789.123456789012345678901234567890' AS DECIMAL(65,30))"
        << "12345678901234567890123456789.123456789012345678901234567890";
    QTest::newRow("negative decimal") << "CAST(-0.10 AS DECIMAL(10,2))" << "-0.10";
    QTest::newRow("bigint unsigned max") << "CAST(18446744073709551615 AS UNSIGNED)"
                                         << "18446744073709551615";
    QTest::newRow("datetime(6)") << "CAST('2024-02-29 23:59:59.123456' AS DATETIME(6))"
                                 << "2024-02-29 23:59:59.123456";
    QTest::newRow("double") << "CAST(0.1 AS DOUBLE) + CAST(0.2 AS DOUBLE)"
                            << "0.30000000000000004";
    QTest::newRow("Japanese and 4-byte") << "'日本語の値、ＡＢＣ🍣𠮷'" << "日本語の値、ＡＢＣ🍣𠮷";
    QTest::newRow("json") << "JSON_OBJECT('名前', 'テスト', 'n', 1.50)"
                          << "{\"名前\": \"テスト\", \"n\": 1.50}";
    QTest::newRow("binary as hex") << "UNHEX('00FF10')" << "0x00FF10";
    QTest::newRow("empty binary") << "CAST('' AS BINARY)" << "0x";
    QTest::newRow("bit") << "b'1010'" << "0x0A";
    QTest::newRow("empty string") << "''" << "";
    QTest::newRow("the text NULL") << "'NULL'" << "NULL";
}

void tst_ResultModel::values()
{
    QFETCH(QString, expression);
    QFETCH(QString, shown);
    const auto model = queryAll(*m_connection, "SELECT " + expression);
    QVERIFY(model);
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 0).data().toString(), shown);
    QCOMPARE(model->cellText(0, 0), shown);
    QVERIFY(!model->isNull(0, 0));
}

void tst_ResultModel::nullIsNotTheTextNull()
{
    const auto model = queryAll(*m_connection, "SELECT NULL, 'NULL'");
    QVERIFY(model);
    QVERIFY(model->isNull(0, 0));
    QVERIFY(!model->isNull(0, 1));
    QVERIFY(model->index(0, 0).data(Qt::FontRole).value<QFont>().italic());
    QVERIFY(!model->index(0, 1).data(Qt::FontRole).isValid());
}

void tst_ResultModel::hugeValueIsShownCut()
{
    const auto model = queryAll(*m_connection, "SELECT REPEAT('日', 1 << 20)");
    QVERIFY(model);
    const QString shown = model->index(0, 0).data().toString();
    QVERIFY(shown.size() <= ResultModel::MaxShownBytes);
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QCOMPARE(model->cellText(0, 0).size(), 1 << 20);
}

void tst_ResultModel::everyRowOfALongResult()
{
    const auto model = queryAll(*m_connection,
                                "SELECT seq, CONCAT('備考', seq, '🍣') FROM seq_1_to_300000");
    QVERIFY(model);
    QCOMPARE(model->rowCount(), 300000);
    QCOMPARE(model->streamEnd().kind, StreamEnd::Complete);
    QCOMPARE(model->index(299999, 1).data().toString(), QStringLiteral("備考300000🍣"));
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
    m_connection.reset(); // the program holds one connection at a time
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    const QString sql = QStringLiteral("select n, d, u, f, t from sorting order by n");
    session.run(sql);
    QTRY_VERIFY(!qobject_cast<ResultModel *>(session.grid()->model())->isLoading());
    QHeaderView *header = session.grid()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    QStringList shown;
    for (int r = 0; r < session.grid()->model()->rowCount(); ++r)
        shown << session.grid()->model()->index(r, 0).data().toString();
    QCOMPARE(shown.join(QLatin1Char(' ')), order);

    session.run(sql); // a new result starts unsorted
    QCOMPARE(header->sortIndicatorSection(), -1);
    QCOMPARE(session.grid()->model()->index(0, 0).data().toString(), QStringLiteral("1"));
    session.stop();
}

// Rows come in after the first screen; the one wide value is far down.
void tst_ResultModel::widthFromWidestValueDeepInResult()
{
    m_connection.reset();
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    session.run(QStringLiteral("select if(seq = 90000, repeat('W', 20), 'x') as a, "
                               "if(seq = 95000, repeat('W', 200), 'x') as b from seq_1_to_100000"));
    QTRY_VERIFY(!qobject_cast<ResultModel *>(session.grid()->model())->isLoading());
    QCoreApplication::processEvents();
    const QFontMetrics metrics = session.grid()->fontMetrics();
    const int a = session.grid()->columnWidth(0);
    QVERIFY2(a >= metrics.horizontalAdvance(QString(20, QLatin1Char('W')))
                 && a < ResultModel::MaxColumnWidth,
             qPrintable(QString::number(a)));
    QCOMPARE(session.grid()->columnWidth(1), ResultModel::MaxColumnWidth);
    session.stop();
}

QTEST_MAIN(tst_ResultModel)
#include "tst_resultmodel.moc"
