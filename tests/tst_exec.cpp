// What F5 does with a text, checked against the server through a second
// connection: every outcome, the texts it posts, and what the tables hold.

#include "DatabaseConnection.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "QueryExecutor.h"
#include "ResultModel.h"
#include "StatementSplitter.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTextCursor>
#include <QLabel>

#include <csignal>

namespace {

// How many connections a model's rowsInserted has: each one is work per batch.
// QObject::receivers() is protected; a pointer to it taken inside a subclass
// may be called on any QObject.
struct Receivers : QObject
{
    static int rowsInserted(const QObject *model)
    {
        constexpr auto receivers = &Receivers::receivers;
        return (model->*receivers)(SIGNAL(rowsInserted(QModelIndex, int, int)));
    }
};

const QString Database = QStringLiteral("vq_exec");
const QString T = QStringLiteral("トランザクション開始");
const QString NoQuestion = QStringLiteral("-");
using Q = QueryExecutor::Answer;

} // namespace

class tst_Exec : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void outcomes_data();
    void outcomes();
    void failedBeginRunsNothing();
    void cancelAtOnceRunsNothing();
    void scripts_data();
    void scripts();
    void selectionCursorAndFailingStatement();
    void resultPerTab();
    void commitBoxThroughWindow_data();
    void commitBoxThroughWindow();
    void withoutConnectionAsksToConnect();
    void scriptStoppedMidway_data();
    void scriptStoppedMidway();
    void commitOutcomeUnknown();
    void windowStaysResponsiveAndCancels();
    void closingTheRunningTabCancelsItsRun();

private:
    QString items() const;
    TestServer m_server;
};

void tst_Exec::initTestCase()
{
    qRegisterMetaType<ResultModel *>();
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    QVERIFY(m_server.check(QStringLiteral("check"), Database).isOpen());
}

void tst_Exec::init()
{
    const QSqlDatabase db = QSqlDatabase::database(QStringLiteral("check"));
    QVERIFY(exec(db, "DROP TABLE IF EXISTS items, audit, deleted_items, selection, zz"));
    QVERIFY(exec(db, "CREATE TABLE items (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB"));
    QVERIFY(exec(db, "INSERT INTO items VALUES (1, 'one'), (2, 'two'), (3, NULL)"));
    QVERIFY(exec(db, "CREATE TABLE audit (v INT) ENGINE=MyISAM"));
    QVERIFY(exec(db, "INSERT INTO audit VALUES (1)"));
    QVERIFY(exec(db, "CREATE TABLE deleted_items (id INT) ENGINE=InnoDB"));
    QVERIFY(exec(db, "INSERT INTO deleted_items VALUES (7)"));
}

QString tst_Exec::items() const
{
    return scalar(QSqlDatabase::database(QStringLiteral("check")),
                  "SELECT CONCAT_WS('|', (SELECT GROUP_CONCAT(id, ':', IFNULL(name, '-') "
                  "ORDER BY id) FROM items), (SELECT GROUP_CONCAT(v) FROM audit), "
                  "(SELECT COUNT(*) FROM deleted_items))")
        .toString();
}

void tst_Exec::outcomes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("answer");
    // The affected rows the question shows, or "-": no question at all.
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QString>("after");

    const QString start = QStringLiteral("1:one,2:two,3:-|1|1");
    const QString committed = QStringLiteral("変更は既にコミットされました。元に戻せません。");
    using Q = QueryExecutor;

    QTest::newRow("query") << "select * from items" << -1 << NoQuestion << QStringList() << start;
    QTest::newRow("query error") << "select * form items" << -1 << NoQuestion
                                 << QStringList{ "データベースに接続して下さい。" } << start;
    QTest::newRow("statement that commits by itself") << "create table selection (id int)"
                                                      << -1 << NoQuestion
                                                      << QStringList{ committed } << start;
    QTest::newRow("session statement") << "SET @x = 1" << -1 << NoQuestion
                                       << QStringList{ "Query OK, affected rows: 0" } << start;
    QTest::newRow("insert yes") << "insert into items values (4, 'four')" << int(Q::Yes) << "1"
                                << QStringList{ T, "コミットしました。" }
                                << "1:one,2:two,3:-,4:four|1|1";
    QTest::newRow("insert no") << "insert into items values (4, 'four')" << int(Q::No) << "1"
                               << QStringList{ T, "ロールバックしました。" } << start;
    QTest::newRow("update cancel") << "update items set name = 'x'" << int(Q::Cancel) << "3"
                                   << QStringList{ T, "ロールバックしました。" } << start;
    QTest::newRow("delete cancel") << "delete from items where id = 3" << int(Q::Cancel) << "1"
                                   << QStringList{ T, "ロールバックしました。" } << start;
    QTest::newRow("delete other answer") << "delete from items where id = 1" << int(Q::Other)
                                         << "1" << QStringList{ T } << "2:two,3:-|1|1";
    // A script that would commit by itself runs only when agreed to.
    QTest::newRow("query then drop") << "select 1; drop table items" << -1 << NoQuestion
                                     << QStringList{ "実行を取り止めました。" } << start;
    QTest::newRow("update then failing delete")
        << "update items set name='changed' where id=2; delete from no_such_table" << -1
        << NoQuestion << QStringList{ T, "エラー" } << start;
    QTest::newRow("insert then commit") << "insert into items values (70,'seventy'); commit"
                                        << -1 << NoQuestion
                                        << QStringList{ "実行を取り止めました。" } << start;
    // Capitals, comments before it and a subquery do not make a change a query.
    QTest::newRow("delete in capitals") << "DELETE FROM items WHERE id = 3" << int(Q::No) << "1"
                                        << QStringList{ T, "ロールバックしました。" } << start;
    QTest::newRow("comment naming a query") << "/* select */ update items set name = 'X'"
                                            << int(Q::No) << "3"
                                            << QStringList{ T, "ロールバックしました。" } << start;
    QTest::newRow("subquery in a delete")
        << "delete from items where id in (select id from deleted_items) or name <> 'deleted'"
        << int(Q::Yes) << "2" << QStringList{ T, "コミットしました。" } << "3:-|1|1";
    QTest::newRow("duplicate key") << "insert into items values (1, 'again')" << -1 << NoQuestion
                                   << QStringList{ T, "エラー" } << start;
    // Statements the server commits by themselves get no question.
    QTest::newRow("alter") << "alter table items add column updated_at datetime" << -1
                           << NoQuestion << QStringList{ committed } << start;
    QTest::newRow("truncate") << "truncate table deleted_items" << -1 << NoQuestion
                              << QStringList{ committed } << "1:one,2:two,3:-|1|0";
    QTest::newRow("drop") << "drop table deleted_items" << -1 << NoQuestion
                          << QStringList{ committed } << "";
    QTest::newRow("non-transactional rollback")
        << "update audit set v = 99" << int(Q::No) << "1"
        << QStringList{ T, "一部の変更は元に戻せませんでした。" } << "1:one,2:two,3:-|99|1";
    QTest::newRow("keyword past a megabyte")
        << "/*" + QString(1100000, QLatin1Char(' ')) + "*/ insert into items values (5, 'five')"
        << int(Q::Yes) << "1" << QStringList{ T, "コミットしました。" }
        << "1:one,2:two,3:-,5:five|1|1";
}

void tst_Exec::outcomes()
{
    QFETCH(QString, sql);
    QFETCH(int, answer);
    QFETCH(QString, asked);
    QFETCH(QStringList, statuses);
    QFETCH(QString, after);

    DatabaseConnection connection;
    DbError opened{ -1, {}, {} };
    connection.open(m_server.params(Database), [&](const DbError &e) { opened = e; });
    QTRY_VERIFY(opened.code != -1);
    QVERIFY2(!opened.isSet(), qPrintable(opened.text()));

    QueryExecutor executor(&connection);
    QString shown = NoQuestion;
    executor.setCommitQuestion([&](const QueryExecutor::Change &change) {
        shown = QString::number(change.affectedRows);
        return QueryExecutor::Answer(answer);
    });
    QSignalSpy messages(&executor, &QueryExecutor::message);
    QSignalSpy results(&executor, &QueryExecutor::resultReady);
    executor.execute(sql);
    QTRY_VERIFY_WITH_TIMEOUT(!executor.running() && !connection.isBusy(), 20000);

    QStringList posted;
    for (const auto &args : messages)
        posted << args.at(0).toString();
    QCOMPARE(posted, statuses);
    QCOMPARE(shown, asked);
    QCOMPARE(results.size(), sql == QLatin1String("select * from items") ? 1 : 0);
    for (const auto &args : results)
        delete args.at(0).value<ResultModel *>();
    QCOMPARE(items(), after);
    // Whatever happened, no transaction is left open on the server.
    QCOMPARE(scalar(QSqlDatabase::database(QStringLiteral("check")),
                    "SELECT COUNT(*) FROM information_schema.innodb_trx t JOIN "
                    "information_schema.processlist p ON p.id = t.trx_mysql_thread_id "
                    "WHERE p.db = 'vq_exec'")
                 .toInt(),
             0);
}

void tst_Exec::cancelAtOnceRunsNothing()
{
    // Escape while the script's first request is on its way: nothing of it runs.
    DatabaseConnection connection;
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    QueryExecutor executor(&connection);
    bool asked = false;
    executor.setCommitQuestion([&](const QueryExecutor::Change &) {
        asked = true;
        return QueryExecutor::Yes;
    });
    QSignalSpy messages(&executor, &QueryExecutor::message);
    // The connection is still busy with an earlier request when the script
    // is posted, so the Escape lands while the script is on its way. The
    // MyISAM table shows whether anything ran: a rollback cannot undo it.
    connection.run(QStringLiteral("select sleep(2)"), false, [](const StatementResult &) {});
    executor.execute(QStringLiteral("update audit set v = 5; insert into items values (4, 'four')"));
    executor.cancel();
    QTRY_VERIFY(!executor.running() && !connection.isBusy());
    QVERIFY(!asked);
    QCOMPARE(messages.last().first().toString(), QStringLiteral("キャンセルしました。"));
    QCOMPARE(items(), QStringLiteral("1:one,2:two,3:-|1|1"));
}

void tst_Exec::failedBeginRunsNothing()
{
    DatabaseConnection connection;
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    QueryExecutor executor(&connection);
    executor.setCommitQuestion([](const QueryExecutor::Change &) { return QueryExecutor::Yes; });
    QSignalSpy messages(&executor, &QueryExecutor::message);
    executor.setImplicitCommitQuestion([](const QStringList &) { return true; });
    // Inside an XA transaction the server refuses a BEGIN.
    executor.executeScript(splitStatements("select 1; xa start 'vq'").statements);
    QTRY_VERIFY(!executor.running());
    executor.execute(QStringLiteral("insert into items values (9, 'nine')"));
    QTRY_VERIFY(!executor.running());
    QCOMPARE(messages.last().first().toString(), QStringLiteral("トランザクション失敗"));
    QCOMPARE(items(), QStringLiteral("1:one,2:two,3:-|1|1"));
}

void tst_Exec::scripts_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("agree"); // to statements that commit by themselves
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<int>("results");
    QTest::addColumn<QString>("after");

    const QString start = QStringLiteral("1:one,2:two,3:-|1|1");
    const QString insertAndUpdate = QStringLiteral(
        "insert into items values (4, 'four'); -- a; comment\nupdate items set name = 'x;y' "
        "where id = 1;");
    using Q = QueryExecutor;
    QTest::newRow("queries and session statements")
        << "select 1 as a; select 2 as b; use vq_exec; set @m = 1; select @m" << false << -1
        << QStringList{ "5 文を実行しました。" } << 3 << start;
    QTest::newRow("changes, yes") << insertAndUpdate << false << int(Q::Yes)
                                  << QStringList{ T, "コミットしました。" } << 0
                                  << "1:x;y,2:two,3:-,4:four|1|1";
    QTest::newRow("changes, no") << insertAndUpdate << false << int(Q::No)
                                 << QStringList{ T, "ロールバックしました。" } << 0 << start;
    QTest::newRow("failure part-way")
        << "insert into items values (4, 'four'); insert into items values (1, 'dup'); "
           "delete from items"
        << false << int(Q::Yes) << QStringList{ T, "エラー" } << 0 << start;
    QTest::newRow("failure after a MyISAM change")
        << "update audit set v = 99; insert into items values (1, 'dup')" << false << int(Q::Yes)
        << QStringList{ T, "エラー。一部の変更は元に戻せませんでした。" } << 0 << "1:one,2:two,3:-|99|1";
    QTest::newRow("implicit commit declined")
        << "insert into items values (4, 'four'); truncate table deleted_items" << false
        << int(Q::Yes) << QStringList{ "実行を取り止めました。" } << 0 << start;
    QTest::newRow("implicit commit agreed")
        << "truncate table deleted_items; insert into items values (4, 'four')" << true
        << int(Q::Yes) << QStringList{ T, "コミットしました。" } << 0
        << "1:one,2:two,3:-,4:four|1|0";
    // Statements before the first change run outside the transaction, as
    // the client runs them: this one is refused inside one.
    QTest::newRow("session statement before the first change")
        << "set transaction isolation level read committed; insert into items values (4, 'four')"
        << false << int(Q::Yes) << QStringList{ T, "コミットしました。" } << 0
        << "1:one,2:two,3:-,4:four|1|1";
    // After a statement that commits by itself the next change begins a new
    // transaction: a later failure undoes it instead of leaving it committed.
    QTest::newRow("changes after an implicit commit are undone on failure")
        << "create table zz (i int) engine=InnoDB; insert into zz values (1); "
           "update items set name = 'x' where id = 1; insert into items values (1, 'dup')"
        << true << int(Q::Yes) << QStringList{ T, "エラー" } << 0 << start;
    QTest::newRow("compound statement is a change")
        << "DELIMITER //\nif 1 then delete from items where id = 3; end if//\nDELIMITER ;\nselect 1"
        << false << int(Q::No) << QStringList{ T, "ロールバックしました。" } << 1 << start;
    // Every result of a CALL is read: its failure after a result set is the
    // statement's failure, and what it inserted before is undone.
    QTest::newRow("procedure failing after its result set")
        << "DELIMITER //\ncreate procedure p() begin insert into items values (8, 'eight'); "
           "select 1; insert into items values (1, 'dup'); end//\nDELIMITER ;\ncall p()"
        << true << int(Q::Yes) << QStringList{ T, "エラー" } << 1 << start;
    QTest::newRow("procedure between delimiters")
        << "DELIMITER //\ncreate procedure p() begin select 1; select 2; end//\nDELIMITER ;\n"
           "call p(); select 3"
        << true << int(Q::Yes) << QStringList{ T, "コミットしました。" } << 2 << start;
}

void tst_Exec::scripts()
{
    QFETCH(QString, sql);
    QFETCH(bool, agree);
    QFETCH(int, answer);
    QFETCH(QStringList, statuses);
    QFETCH(int, results);
    QFETCH(QString, after);
    exec(QSqlDatabase::database(QStringLiteral("check")), "DROP PROCEDURE IF EXISTS p");

    DatabaseConnection connection;
    QVERIFY(openAndWait(connection, m_server.params(Database)));
    QueryExecutor executor(&connection);
    executor.setCommitQuestion([&](const QueryExecutor::Change &) { return Q(answer); });
    executor.setImplicitCommitQuestion([&](const QStringList &) { return agree; });
    QSignalSpy messages(&executor, &QueryExecutor::message);
    QSignalSpy shown(&executor, &QueryExecutor::resultReady);
    const SplitResult split = splitStatements(sql);
    QVERIFY(split.ok());
    executor.executeScript(split.statements);
    QTRY_VERIFY_WITH_TIMEOUT(!executor.running() && !connection.isBusy(), 20000);
    QStringList posted;
    for (const auto &args : messages)
        posted << args.at(0).toString();
    QCOMPARE(posted, statuses);
    QCOMPARE(shown.size(), results);
    for (const auto &args : shown)
        delete args.at(0).value<ResultModel *>();
    QCOMPARE(items(), after);
}

void tst_Exec::selectionCursorAndFailingStatement()
{
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    auto *page = session.window().findChild<QZEditTabWidget *>()->currentPage();
    const QString text = QStringLiteral("select 1 as a;\nselect '日本🍣' as b;\n"
                                        "select * from nope;\ndelete from items");
    page->setPlainText(text);
    auto header = [&] {
        return session.grid()->model()->headerData(0, Qt::Horizontal).toString();
    };
    // The selection runs, not the text around it.
    QTextCursor cursor(page->document());
    cursor.setPosition(int(text.indexOf("select '")));
    cursor.setPosition(int(text.indexOf("select *")), QTextCursor::KeepAnchor);
    page->setTextCursor(cursor);
    session.trigger("m_pExecAct");
    QTRY_VERIFY(session.idle());
    QCOMPARE(header(), QStringLiteral("b"));
    // Ctrl+Return: the statement under the cursor.
    cursor.setPosition(3);
    page->setTextCursor(cursor);
    session.trigger("m_pExecCurrentAct");
    QTRY_VERIFY(session.idle());
    QCOMPARE(header(), QStringLiteral("a"));
    // The whole text as a script: the failing statement ends up selected.
    page->moveCursor(QTextCursor::End);
    session.trigger("m_pExecAct");
    QTRY_VERIFY(session.idle());
    QCOMPARE(session.statuses().constLast(), QStringLiteral("エラー"));
    QCOMPARE(page->textCursor().selectedText(), QStringLiteral("select * from nope"));
    QCOMPARE(items(), QStringLiteral("1:one,2:two,3:-|1|1"));
    session.stop();
}

void tst_Exec::resultPerTab()
{
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    auto *tabs = session.window().findChild<QZEditTabWidget *>();
    auto header = [&] { return session.grid()->model()->headerData(0, Qt::Horizontal).toString(); };
    session.run(QStringLiteral("select 1 as first_tab"));
    tabs->NewTab();
    QCOMPARE(session.grid()->model()->rowCount(), 40); // a new tab has no result yet
    session.run(QStringLiteral("select 2 as second_tab"));
    QPointer<QAbstractItemModel> second = session.grid()->model();
    tabs->setCurrentIndex(0);
    QCOMPARE(header(), QStringLiteral("first_tab"));
    tabs->setCurrentIndex(1);
    QCOMPARE(header(), QStringLiteral("second_tab"));
    const int receivers = Receivers::rowsInserted(second);
    for (int i = 0; i < 3; ++i) {
        tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(1);
    }
    QCOMPARE(Receivers::rowsInserted(second), receivers); // shown again, wired once
    tabs->CloseTab(); // its result goes with it
    QVERIFY(!second);
    QCOMPARE(header(), QStringLiteral("first_tab"));
    session.stop();
}

void tst_Exec::commitBoxThroughWindow_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("after");
    QTest::newRow("Enter answers Yes") << int(Qt::Key_Return) << "コミットしました。"
                                       << "1:one,2:two,3:-,4:four|1|1";
    QTest::newRow("Escape answers Cancel") << int(Qt::Key_Escape) << "ロールバックしました。"
                                           << "1:one,2:two,3:-|1|1";
}

void tst_Exec::commitBoxThroughWindow()
{
    QFETCH(int, button);
    QFETCH(QString, status);
    QFETCH(QString, after);
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));

    QString informative;
    ModalAnswerer answer(QStringLiteral("ConfirmCommitMessageBox"), [&](QWidget *box) {
        auto *question = static_cast<QMessageBox *>(box);
        informative = question->informativeText();
        QVERIFY(!QApplication::overrideCursor());
        QTest::keyClick(box, Qt::Key(button));
    });
    session.run(QStringLiteral("insert into items values (4, 'four')"));
    QVERIFY(answer.answered());
    QCOMPARE(informative, QStringLiteral("1 行が変更されます。"));
    QCOMPARE(session.statuses().mid(1), (QStringList{ T, status }));
    QCOMPARE(items(), after);
    session.stop();
}

void tst_Exec::withoutConnectionAsksToConnect()
{
    WindowSession session;
    session.start();
    ModalAnswerer dialog(QStringLiteral("Connection Dialog"),
                         [](QWidget *w) { static_cast<QDialog *>(w)->reject(); });
    session.run(QStringLiteral("delete from items"));
    QVERIFY(dialog.answered());
    QCOMPARE(session.statuses(), QStringList{ "データベースへ接続して下さい。" });
    QVERIFY(session.connect(m_server.params(Database)));
    session.run(QString());
    QCOMPARE(session.statuses().constLast(), QStringLiteral("命令文を記述して下さい。"));
    QCOMPARE(items(), QStringLiteral("1:one,2:two,3:-|1|1"));
    session.stop();
}

void tst_Exec::windowStaysResponsiveAndCancels()
{
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    auto *execAct = session.window().findChild<QAction *>(QStringLiteral("m_pExecAct"));
    auto *cancelAct = session.window().findChild<QAction *>(QStringLiteral("m_pCancelAct"));
    QVERIFY(!cancelAct->isEnabled());

    session.type(QStringLiteral("select sleep(30)"));
    session.trigger("m_pExecAct");
    // Both are set before Exec() returns: outside code waits on them.
    QVERIFY(QApplication::overrideCursor());
    QVERIFY(!execAct->isEnabled());
    QVERIFY(cancelAct->isEnabled());
    QTest::qWait(300);

    QElapsedTimer cancelled;
    cancelled.start();
    session.trigger("m_pCancelAct");
    QTRY_VERIFY(session.idle());
    QVERIFY2(cancelled.elapsed() < 3000, qPrintable(QString::number(cancelled.elapsed())));
    QCOMPARE(session.statuses().constLast(), QStringLiteral("キャンセルしました。"));
    QVERIFY(!cancelAct->isEnabled());

    session.run(QStringLiteral("select 42"));
    QCOMPARE(session.grid()->model()->index(0, 0).data().toString(), QStringLiteral("42"));
    session.stop();
}

void tst_Exec::scriptStoppedMidway_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("status");
    QTest::newRow("Escape: the MyISAM change stays, and is said to")
        << "m_pCancelAct" << "キャンセルしました。一部の変更は元に戻せませんでした。";
    QTest::newRow("its tab closed: cancelled, no question")
        << "m_pCloseTabAct" << "キャンセルしました。一部の変更は元に戻せませんでした。";
}

void tst_Exec::scriptStoppedMidway()
{
    QFETCH(QString, how);
    QFETCH(QString, status);
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    ModalAnswerer asked(QStringLiteral("ConfirmCommitMessageBox"),
                        [](QWidget *box) { QTest::keyClick(box, Qt::Key_Return); }, 8000);
    session.type(QStringLiteral("update audit set v = 99; insert into items values (4, 'four'); select sleep(6)"));
    session.trigger("m_pExecAct");
    // The MyISAM change shows at once on the server; then into the sleep.
    QTRY_VERIFY(items().contains(QStringLiteral("|99|")));
    QTest::qWait(500);
    session.trigger(how.toLatin1().constData());
    QTRY_VERIFY_WITH_TIMEOUT(session.idle(), 20000);
    QVERIFY(!asked.answered());
    QCOMPARE(session.statuses().constLast(), status);
    QCOMPARE(items(), QStringLiteral("1:one,2:two,3:-|99|1"));
    session.stop();
}

// The server stalls (SIGSTOP) with the COMMIT on its way and Escape drops
// the connection: nobody knows whether it committed, and the program must
// not claim either.
void tst_Exec::commitOutcomeUnknown()
{
    PrivateServer own;
    QString error;
    QVERIFY2(own.start(QStringLiteral("vq_stall"), &error), qPrintable(error));
    const QSqlDatabase check = own.server().check(QStringLiteral("own"), QStringLiteral("vq_stall"));
    QVERIFY(exec(check, "CREATE TABLE t (id INT) ENGINE=InnoDB"));
    {
        DatabaseConnection connection;
        connection.setCancelGrace(500);
        QVERIFY(openAndWait(connection, own.server().params(QStringLiteral("vq_stall"))));
        QueryExecutor executor(&connection);
        bool asked = false;
        executor.setCommitQuestion([&](const QueryExecutor::Change &) {
            ::kill(pid_t(own.pid()), SIGSTOP);
            asked = true;
            return QueryExecutor::Yes;
        });
        QSignalSpy messages(&executor, &QueryExecutor::message);
        executor.execute(QStringLiteral("insert into t values (1)"));
        QTRY_VERIFY_WITH_TIMEOUT(asked, 20000);
        QTest::qWait(300); // the COMMIT is on its way to the stopped server
        QVERIFY(executor.running());
        executor.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(!executor.running(), 20000);
        ::kill(pid_t(own.pid()), SIGCONT);
        QVERIFY2(messages.last().first().toString().startsWith(QStringLiteral("コミットの結果は不明です")),
                 qPrintable(messages.last().first().toString()));
        for (const auto &args : messages)
            QVERIFY(!args.first().toString().contains(QStringLiteral("コミット失敗")));
    }
    // What the server did with it once it ran again: here it committed.
    QTRY_COMPARE_WITH_TIMEOUT(scalar(check, "SELECT COUNT(*) FROM t").toInt(), 1, 10000);
}

void tst_Exec::closingTheRunningTabCancelsItsRun()
{
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    session.type(QStringLiteral("select sleep(20) as closed_tab"));
    session.trigger("m_pExecAct");
    QTest::qWait(300);
    session.trigger("m_pCloseTabAct");
    QTRY_VERIFY_WITH_TIMEOUT(session.idle(), 8000);
    QCOMPARE(session.statuses().constLast(), QStringLiteral("キャンセルしました。"));
    // Nothing of the closed tab's run reaches the tab shown now, nor stays.
    QTest::qWait(200);
    QVERIFY(!qobject_cast<ResultModel *>(session.grid()->model()));
    QVERIFY(session.window().findChildren<ResultModel *>().isEmpty());
    session.run(QStringLiteral("select 42"));
    QCOMPARE(session.grid()->model()->index(0, 0).data().toString(), QStringLiteral("42"));
    session.stop();
}

QTEST_MAIN(tst_Exec)
#include "tst_exec.moc"
