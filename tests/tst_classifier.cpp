#include "QZQuorvinWindow.h"
#include "StatementClassifier.h"

#include <QTest>

class tst_Classifier : public QObject
{
    Q_OBJECT

private slots:
    void classify_data();
    void classify();
    void hugeText();
};

void tst_Classifier::classify_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("kind");

    QTest::newRow("plain select") << "select * from t" << int(SqlSelect);
    QTest::newRow("capitals do not count") << "SELECT * FROM t" << int(SqlOther);
    QTest::newRow("mixed case does not count") << "Select name from t" << int(SqlOther);
    QTest::newRow("insert ... select") << "insert into t2 select * from t1" << int(SqlInsert);
    QTest::newRow("update with subquery") << "update t set a = 1 where b in (select b from u)" << int(SqlUpdate);
    QTest::newRow("delete, keyword in string") << "delete from t where note = 'selected'" << int(SqlDelete);
    QTest::newRow("select, delete in string") << "select * from t where note = 'delete'" << int(SqlSelect);
    QTest::newRow("select, update inside a word") << "select * from t where updated = 1" << int(SqlSelect);
    QTest::newRow("comment counts") << "-- delete old rows\nselect * from t" << int(SqlDelete);
    QTest::newRow("last occurrence decides") << "select 1; insert into t values (1); select 2" << int(SqlInsert);
    QTest::newRow("selection is select") << "create table selection (id int)" << int(SqlSelect);
    QTest::newRow("only lower-case update counts") << "INSERT INTO t SELECT * FROM u WHERE c = 'update'" << int(SqlUpdate);
    QTest::newRow("only lower-case insert counts") << "DELETE FROM t WHERE name = 'inserted'" << int(SqlInsert);
    QTest::newRow("no keyword") << "show tables" << int(SqlOther);
    QTest::newRow("empty") << "" << int(SqlOther);
    QTest::newRow("blanks") << "  \n\t " << int(SqlOther);
    QTest::newRow("Japanese around keywords") << "/* 商品 */ select 名前 from 商品" << int(SqlSelect);
    QTest::newRow("keyword split by a line break") << "sel\nect 1" << int(SqlOther);
}

void tst_Classifier::classify()
{
    QFETCH(QString, sql);
    QFETCH(int, kind);
    QCOMPARE(classifyStatement(sql), kind);
    QZQuorvinWindow window;
    QCOMPARE(window.ClassifySQL(sql), kind);
}

void tst_Classifier::hugeText()
{
    // Ten megabytes: the kind comes from the keyword positions as for any text,
    // and the classifier stays linear (a quadratic one would not finish here).
    QString body;
    body.reserve(10 << 20);
    while (body.size() < (10 << 20))
        body += QStringLiteral("(1, 'これは試験です'),\n");
    QCOMPARE(classifyStatement(QStringLiteral("insert into t values ") + body + "(2)"), int(SqlInsert));
    QCOMPARE(classifyStatement(body + QStringLiteral("select 1")), int(SqlSelect));
}

QTEST_MAIN(tst_Classifier)
#include "tst_classifier.moc"
