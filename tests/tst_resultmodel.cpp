// The grid shows every value exactly as the server sent it.

#include "DatabaseConnection.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QFont>
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
    QTest::newRow("time over a day") << "CAST('838:59:59' AS TIME)" << "838:59:59";
    QTest::newRow("zero date") << "CAST('0000-00-00' AS DATE)" << "0000-00-00";
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

QTEST_MAIN(tst_ResultModel)
#include "tst_resultmodel.moc"
