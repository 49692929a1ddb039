#include "QZQuorvinWindow.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

namespace {

const QString Database = QStringLiteral("vq_exec");

} // namespace

class tst_Exec : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void outcomes_data();
    void outcomes();
    void questionBox();
    void execWithoutConnectionAsksFirst();
    void gridShowsQueriesOnly();
    void textArrivesByteExact_data();
    void textArrivesByteExact();
    void severalStatementsInOneText();

private:
    QStringList ids() const;
    bool inTransaction() const;

    TestServer m_server;
    WindowSession m_session;
};

void tst_Exec::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    QVERIFY(m_server.openCheckConnection(QStringLiteral("check"), Database).isOpen());
}

void tst_Exec::init()
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
    QVERIFY(q.exec("DROP TABLE IF EXISTS items, selection"));
    QVERIFY(q.exec("CREATE TABLE items (id INT PRIMARY KEY, name VARCHAR(40)) "
                   "ENGINE=InnoDB CHARACTER SET utf8mb4"));
    QVERIFY(q.exec("INSERT INTO items VALUES (1, 'one'), (2, 'two'), (3, NULL)"));

    m_session.start();
    QVERIFY(m_session.connect(inputFor(m_server, Database)));
    QVERIFY(QSqlDatabase::database(QStringLiteral("MySQL")).isOpen());
}

void tst_Exec::cleanup()
{
    m_session.stop();
}

QStringList tst_Exec::ids() const
{
    QStringList out;
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
    q.exec("SELECT id FROM items ORDER BY id");
    while (q.next())
        out << q.value(0).toString();
    return out;
}

bool tst_Exec::inTransaction() const
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("MySQL")));
    return q.exec("SELECT @@in_transaction") && q.next() && q.value(0).toInt() != 0;
}

void tst_Exec::outcomes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("answer"); // "" = no box expected
    QTest::addColumn<QStringList>("status");
    QTest::addColumn<QStringList>("rowsAfter");

    const QString begun = QStringLiteral("トランザクション開始");
    const QString committed = QStringLiteral("コミットしました。");
    const QString rolledBack = QStringLiteral("ロールバックしました。");
    const QStringList original{ "1", "2", "3" };

    QTest::newRow("empty text") << "" << "" << QStringList{ "命令文を記述して下さい。" } << original;
    QTest::newRow("blanks only run nothing") << "  \n\t" << "" << QStringList{} << original;
    QTest::newRow("capitals are not run") << "DELETE FROM items" << "" << QStringList{} << original;
    QTest::newRow("query with rows posts nothing") << "select * from items" << "" << QStringList{} << original;
    QTest::newRow("select kind without result set") << "create table selection (id int)" << ""
                                                    << QStringList{ "Query OK, affected rows: 0" } << original;
    QTest::newRow("failed query") << "select * from no_such_table" << ""
                                  << QStringList{ "データベースに接続して下さい。" } << original;
    QTest::newRow("insert, Yes by Enter") << "insert into items values (10, 'x')" << "enter"
                                          << QStringList{ begun, committed } << QStringList{ "1", "2", "3", "10" };
    QTest::newRow("insert, No") << "insert into items values (10, 'x')" << "no"
                                << QStringList{ begun, rolledBack } << original;
    QTest::newRow("insert, Cancel by Escape") << "insert into items values (10, 'x')" << "escape"
                                              << QStringList{ begun, rolledBack } << original;
    QTest::newRow("update, Yes") << "update items set id = 20 where id = 2" << "yes"
                                 << QStringList{ begun, committed } << QStringList{ "1", "3", "20" };
    QTest::newRow("update, Cancel") << "update items set id = 20 where id = 2" << "cancel"
                                    << QStringList{ begun, rolledBack } << original;
    QTest::newRow("delete, Yes") << "delete from items where id = 1" << "yes"
                                 << QStringList{ begun, committed } << QStringList{ "2", "3" };
    QTest::newRow("delete, No") << "delete from items where id = 1" << "no"
                                << QStringList{ begun, rolledBack } << original;
    QTest::newRow("delete, Cancel reports its rollback") << "delete from items where id = 1" << "cancel"
                                                         << QStringList{ begun, rolledBack } << original;
    QTest::newRow("syntax error") << "insert into items valuez (4)" << ""
                                  << QStringList{ begun, "エラー" } << original;
    QTest::newRow("duplicate key") << "insert into items values (1, 'again')" << ""
                                   << QStringList{ begun, "エラー" } << original;
    QTest::newRow("change that fails half-way is undone")
        << "insert into items values (5, 'five'), (1, 'duplicate')" << ""
        << QStringList{ begun, "エラー" } << original;
}

void tst_Exec::outcomes()
{
    QFETCH(QString, sql);
    QFETCH(QString, answer);
    QFETCH(QStringList, status);
    QFETCH(QStringList, rowsAfter);

    setEditorText(m_session.window(), sql);
    QSignalSpy spy(&m_session.window(), &QZQuorvinWindow::message);
    ModalAnswerer answerer(QStringLiteral("ConfirmCommitMessageBox"), [answer](QWidget *w) {
        auto *box = static_cast<QMessageBox *>(w);
        if (answer == "enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (answer == "escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else if (answer == "yes")
            box->button(QMessageBox::Yes)->click();
        else if (answer == "no")
            box->button(QMessageBox::No)->click();
        else
            box->button(QMessageBox::Cancel)->click();
    }, answer.isEmpty() ? 300 : 15000);
    m_session.trigger("m_pExecAct");

    QCOMPARE(answerer.answered(), !answer.isEmpty());
    QCOMPARE(statusTexts(spy), status);
    QCOMPARE(ids(), rowsAfter);
    QVERIFY2(!inTransaction(), "a transaction was left open");
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void tst_Exec::questionBox()
{
    setEditorText(m_session.window(), QStringLiteral("delete from items"));
    QString failure = QStringLiteral("not shown");
    ModalAnswerer inspect(QStringLiteral("ConfirmCommitMessageBox"), [&](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        failure.clear();
        if (!box)
            failure = "not a QMessageBox";
        else if (box->windowTitle() != QStringLiteral("Database情報"))
            failure = "caption " + box->windowTitle();
        else if (box->text() != QStringLiteral("コミットしてよろしいですか？"))
            failure = "text " + box->text();
        else if (box->icon() != QMessageBox::Question)
            failure = "icon";
        else if (box->standardButtons() != (QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel))
            failure = "buttons";
        else if (static_cast<QAbstractButton *>(box->defaultButton()) != box->button(QMessageBox::Yes))
            failure = "default button";
        else if (box->escapeButton() != box->button(QMessageBox::Cancel))
            failure = "escape button";
        else if (box->parentWidget() != &m_session.window() || !box->isModal())
            failure = "parent or modality";
        else if (QApplication::overrideCursor())
            failure = "wait cursor over the question";
        box->button(QMessageBox::No)->click();
    });
    m_session.trigger("m_pExecAct");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(ids(), (QStringList{ "1", "2", "3" }));
    // The box lived for the call only.
    QVERIFY(!m_session->findChild<QMessageBox *>());
}

void tst_Exec::execWithoutConnectionAsksFirst()
{
    m_session.trigger("m_pDisconnectAct");
    setEditorText(m_session.window(), QStringLiteral("insert into items values (40, 'later')"));

    QSignalSpy spy(&m_session.window(), &QZQuorvinWindow::message);
    {
        ModalAnswerer connect(QStringLiteral("Connection Dialog"), [this](QWidget *d) {
            fillConnectDialog(d, inputFor(m_server, Database));
        });
        m_session.trigger("m_pExecAct");
        QVERIFY(connect.answered());
    }
    QCOMPARE(statusTexts(spy), (QStringList{ "データベースへ接続して下さい。", "接続完了。" }));
    QCOMPARE(ids(), (QStringList{ "1", "2", "3" }));

    ModalAnswerer yes(QStringLiteral("ConfirmCommitMessageBox"),
                      [](QWidget *w) { QTest::keyClick(w, Qt::Key_Return); });
    m_session.trigger("m_pExecAct");
    QVERIFY(yes.answered());
    QCOMPARE(ids(), (QStringList{ "1", "2", "3", "40" }));
}

void tst_Exec::gridShowsQueriesOnly()
{
    auto *grid = m_session.grid();
    setEditorText(m_session.window(), QStringLiteral("select id, name as 名前 from items order by id"));
    m_session.trigger("m_pExecAct");
    QAbstractItemModel *model = grid->model();
    QCOMPARE(model->columnCount(), 2);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("id"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("名前"));
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("two"));

    // A committed change does not touch the grid.
    setEditorText(m_session.window(), QStringLiteral("delete from items where id = 2"));
    ModalAnswerer yes(QStringLiteral("ConfirmCommitMessageBox"),
                      [](QWidget *w) { QTest::keyClick(w, Qt::Key_Return); });
    m_session.trigger("m_pExecAct");
    QVERIFY(yes.answered());
    QCOMPARE(grid->model(), model);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("two"));

    // A query that matches nothing still shows its columns.
    setEditorText(m_session.window(), QStringLiteral("select id, name from items where id < 0"));
    m_session.trigger("m_pExecAct");
    QCOMPARE(grid->model()->columnCount(), 2);
    QCOMPARE(grid->model()->rowCount(), 0);
    QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("name"));
}

void tst_Exec::textArrivesByteExact_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Japanese") << QStringLiteral("日本語のテキスト、全角！");
    QTest::newRow("4-byte") << QStringLiteral("寿司🍣𠮷");
    QTest::newRow("half-width kana and symbols") << QStringLiteral("ｶﾀｶﾅ ①②③ ～〜");
    QTest::newRow("quotes and backslash") << QStringLiteral("it''s \\\\ ok");
}

void tst_Exec::textArrivesByteExact()
{
    QFETCH(QString, text);
    setEditorText(m_session.window(), QStringLiteral("insert into items values (50, '%1')").arg(text));
    ModalAnswerer yes(QStringLiteral("ConfirmCommitMessageBox"),
                      [](QWidget *w) { QTest::keyClick(w, Qt::Key_Return); });
    m_session.trigger("m_pExecAct");
    QVERIFY(yes.answered());

    QString expected = text;
    expected.replace(QStringLiteral("''"), QStringLiteral("'")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
    QVERIFY(q.exec("SELECT HEX(name) FROM items WHERE id = 50"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QString::fromLatin1(expected.toUtf8().toHex().toUpper()));

    // ...and reads back the same through the grid.
    setEditorText(m_session.window(), QStringLiteral("select name from items where id = 50"));
    m_session.trigger("m_pExecAct");
    auto *grid = m_session.grid();
    QCOMPARE(grid->model()->index(0, 0).data().toString(), expected);
}

void tst_Exec::severalStatementsInOneText()
{
    // Both statements run in the one transaction and are committed together;
    // the connection stays usable afterwards.
    setEditorText(m_session.window(), QStringLiteral("insert into items values (60, 'a'); "
                                            "insert into items values (61, 'b')"));
    ModalAnswerer yes(QStringLiteral("ConfirmCommitMessageBox"),
                      [](QWidget *w) { QTest::keyClick(w, Qt::Key_Return); });
    m_session.trigger("m_pExecAct");
    QVERIFY(yes.answered());
    QCOMPARE(ids(), (QStringList{ "1", "2", "3", "60", "61" }));

    setEditorText(m_session.window(), QStringLiteral("select 1 as a; select 2 as b"));
    QSignalSpy spy(&m_session.window(), &QZQuorvinWindow::message);
    m_session.trigger("m_pExecAct");
    auto *grid = m_session.grid();
    QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("a"));
    setEditorText(m_session.window(), QStringLiteral("select 3 as c"));
    m_session.trigger("m_pExecAct");
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QStringLiteral("3"));
    QCOMPARE(statusTexts(spy), QStringList());
}

QTEST_MAIN(tst_Exec)
#include "tst_exec.moc"
