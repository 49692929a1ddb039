// The schema dock and completion against the real server: the tree after
// connecting, its filter, DDL run through the window, completion at each
// kind of place, quoting, an input method's commit, and completion while a
// long statement holds the user's connection.

#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "SchemaLoader.h"
#include "SchemaModel.h"
#include "SchemaPanel.h"
#include "TestSupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeView>

namespace {

const QString Database = QStringLiteral("vq_schema");
const QString LongName = QString(64, QLatin1Char('n'));

QStringList childNames(const QAbstractItemModel *model, const QModelIndex &parent)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(parent); ++row)
        out << model->index(row, 0, parent).data(SchemaModel::NameRole).toString();
    return out;
}

} // namespace

class tst_Schema : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void treeAfterConnect();
    void filter();
    void ddlThroughWindow();
    void completionPlaces_data();
    void completionPlaces();
    void insertion_data();
    void insertion();
    void inputMethodCommit();
    void completesWhileStatementRuns();
    void metadataConnectionKilledOrFailing();
    void ddlElsewhereWhileLoading();
    void metadataOverTls_data();
    void metadataOverTls();

private:
    QTreeView *tree() { return m_session.window().findChild<QTreeView *>("m_pSchemaTree"); }
    SchemaPanel *panel() { return m_session.window().findChild<SchemaPanel *>(); }
    QZTextEdit *editor()
    {
        return m_session.window().findChild<QZEditTabWidget *>("m_pTabWidget")->currentPage();
    }
    QModelIndex databaseNode() { return panel()->model()->currentDatabaseIndex(); }
    bool hasTable(const QString &name) { return panel()->model()->tableIndex(name).isValid(); }
    QAbstractItemView *popup() { return editor()->completer()->completer()->popup(); }
    QStringList popupEntries();
    void typeAt(const QString &text, const QString &typed);
    // Runs DDL as the program lets it: in a script, after its question.
    void runScript(const QString &sql);

    TestServer m_server;
    WindowSession m_session;
};

void tst_Schema::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    const QSqlDatabase check = m_server.check(QStringLiteral("check"), Database);
    const QStringList setup = {
        "CREATE TABLE 注文 (注文ID INT, 顧客ID INT, 数量 INT)",
        "CREATE TABLE 顧客 (顧客ID INT, 氏名 VARCHAR(20))",
        "CREATE TABLE `select` (`from` INT, plain INT)",
        "CREATE TABLE `my table` (`a col` INT)",
        "CREATE TABLE `2024_sales` (id INT)",
        "CREATE TABLE `it's` (`back``quote` INT, `two\nlines` INT)",
        QStringLiteral("CREATE TABLE %1 (id INT)").arg(LongName),
        "CREATE VIEW v_orders AS SELECT 注文ID FROM 注文",
    };
    for (const QString &sql : setup)
        QVERIFY(exec(check, sql));
    for (int i = 1; i <= 20; ++i)
        QVERIFY(exec(check, QStringLiteral("CREATE TABLE ce_t%1 (c1 INT, c2 INT)").arg(i)));
}

void tst_Schema::init()
{
    m_session.start();
    // The popup hides when the editor has no focus, as it would for a user.
    m_session.window().show();
    QVERIFY(m_session.connect(m_server.params(Database)));
    QTRY_VERIFY_WITH_TIMEOUT(hasTable("ce_t20") && panel()->model()->snapshot()->columnsLoaded,
                             10000);
}

void tst_Schema::cleanup()
{
    m_session.stop();
}

QStringList tst_Schema::popupEntries()
{
    if (!popup()->isVisible())
        return {};
    QStringList out;
    const QAbstractItemModel *model = popup()->model();
    const QCompleter *completer = editor()->completer()->completer();
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, completer->completionColumn())
                   .data(completer->completionRole())
                   .toString();
    return out;
}

// Puts `text` into the editor with the cursor at '|', then types `typed`.
void tst_Schema::typeAt(const QString &text, const QString &typed)
{
    // A box that was answered may have left the window inactive.
    m_session.window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_session.window()));
    QZTextEdit *page = editor();
    page->setFocus();
    QString plain = text;
    const int cursor = int(plain.indexOf(QLatin1Char('|')));
    plain.remove(cursor, 1);
    page->setPlainText(plain);
    QTextCursor c = page->textCursor();
    c.setPosition(cursor);
    page->setTextCursor(c);
    // Keys go where a user's would: to the popup while it is open.
    for (QChar ch : typed) {
        QWidget *target = popup()->isVisible() ? static_cast<QWidget *>(popup()) : page;
        if (ch.unicode() < 0x80) {
            QTest::keyClick(target, char(ch.unicode()));
        } else {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(target, &press);
        }
    }
}

void tst_Schema::runScript(const QString &sql)
{
    ModalAnswerer yes(QStringLiteral("ConfirmImplicitCommitMessageBox"), [](QWidget *box) {
        qobject_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
    });
    m_session.run(sql + QStringLiteral(";\nselect 1;"));
    QVERIFY(yes.answered());
}

void tst_Schema::treeAfterConnect()
{
    const QAbstractItemModel *model = tree()->model();
    const QStringList databases = childNames(model, {});
    QVERIFY(databases.contains(Database));
    for (const char *system : { "mysql", "information_schema", "performance_schema", "sys" })
        QVERIFY2(!databases.contains(QLatin1String(system)), system);
    QVERIFY(tree()->isExpanded(databaseNode()));
    const QStringList tables = childNames(model, databaseNode());
    QCOMPARE(tables.size(), 28);
    for (const QString &name : { QStringLiteral("it's"), QStringLiteral("my table"), LongName,
                                 QStringLiteral("v_orders"), QStringLiteral("注文") })
        QVERIFY2(tables.contains(name), qPrintable(name));
    const QModelIndex odd = panel()->model()->tableIndex(QStringLiteral("it's"));
    QCOMPARE(childNames(model, odd), (QStringList{ "back`quote", "two\nlines" }));
    const QModelIndex orders = panel()->model()->tableIndex(QStringLiteral("注文"));
    QCOMPARE(childNames(model, orders), (QStringList{ "注文ID", "顧客ID", "数量" }));
    QCOMPARE(model->index(0, 0, orders).data().toString(), QStringLiteral("注文ID int(11)"));

    editor()->setPlainText(QStringLiteral("select * from "));
    editor()->moveCursor(QTextCursor::End);
    const QModelIndex spaced = panel()->model()->tableIndex(QStringLiteral("my table"));
    tree()->scrollTo(spaced);
    const QPoint at = tree()->visualRect(spaced).center();
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree()->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(editor()->toPlainText(), QStringLiteral("select * from `my table`"));
}

void tst_Schema::filter()
{
    auto *filter = m_session.window().findChild<QLineEdit *>("m_pSchemaFilter");
    QTest::keyClicks(filter, "CE_T1");
    QStringList expected = { "ce_t1" };
    for (int i = 10; i <= 19; ++i)
        expected << QStringLiteral("ce_t%1").arg(i);
    QStringList shown = childNames(tree()->model(), databaseNode());
    shown.sort();
    expected.sort();
    QCOMPARE(shown, expected);
    filter->clear();
    QCOMPARE(tree()->model()->rowCount(databaseNode()), 28);
}

void tst_Schema::ddlThroughWindow()
{
    QElapsedTimer clock;
    runScript("create table vq_made (made_col int)");
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(hasTable("vq_made"), 3000);
    // Generous for a busy machine; on an idle one it is well under a second.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    typeAt("select * from |", "vq_m");
    QCOMPARE(popupEntries().value(0), QStringLiteral("vq_made"));
    QTest::keyClick(popup(), Qt::Key_Escape);

    runScript("alter table vq_made rename to vq_renamed");
    QTRY_VERIFY_WITH_TIMEOUT(hasTable("vq_renamed") && !hasTable("vq_made"), 3000);
    runScript("drop table vq_renamed");
    QTRY_VERIFY_WITH_TIMEOUT(!hasTable("vq_renamed"), 3000);
    typeAt("select * from |", "vq_");
    QVERIFY(!popupEntries().contains(QStringLiteral("vq_renamed")));
}

void tst_Schema::completionPlaces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("first"); // the entries that must lead, in order
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("tables first after from")
        << "select * from |" << "ce_t1" << QStringList{ "ce_t1", "ce_t10" } << QStringList{};
    QTest::newRow("after join") << "select * from 注文 o join |" << "顧"
                                << QStringList{ "顧客" } << QStringList{ "顧客ID" };
    QTest::newRow("after into, quoted") << "insert into |" << "my"
                                        << QStringList{ "`my table`" } << QStringList{};
    QTest::newRow("after update, reserved") << "update |" << "sel"
                                            << QStringList{ "`select`", "SELECT" } << QStringList{};
    QTest::newRow("leading digits") << "select * from |" << "20" << QStringList{ "`2024_sales`" }
                                    << QStringList{};
    QTest::newRow("alias after dot, in table order")
        << "select o| from 注文 o" << "." << QStringList{ "注文ID", "顧客ID", "数量" }
        << QStringList{ "氏名" };
    QTest::newRow("alias with as, in a join")
        << "select c| from 注文 o join 顧客 as c on o.顧客ID = c.顧客ID" << ".氏"
        << QStringList{ "氏名" } << QStringList{ "数量" };
    QTest::newRow("table name as qualifier") << "select 顧客.| from 顧客" << "顧"
                                             << QStringList{ "顧客ID" } << QStringList{ "顧客" };
    QTest::newRow("odd column names") << "select x.| from `it's` x" << "b"
                                      << QStringList{ "`back``quote`" } << QStringList{};
    QTest::newRow("functions anywhere") << "select |" << "coales" << QStringList{ "COALESCE" }
                                        << QStringList{};
    QTest::newRow("statement's columns first") << "select | from 顧客" << "氏"
                                               << QStringList{ "氏名" } << QStringList{};
    QTest::newRow("nothing in a string") << "select '|" << "ce" << QStringList{}
                                         << QStringList{ "ce_t1" };
    QTest::newRow("nothing in a comment") << "select 1 -- |" << "ce" << QStringList{}
                                          << QStringList{ "ce_t1" };
}

void tst_Schema::completionPlaces()
{
    QFETCH(QString, text);
    QFETCH(QString, typed);
    QFETCH(QStringList, first);
    QFETCH(QStringList, absent);
    typeAt(text, typed);
    const QStringList entries = popupEntries();
    QCOMPARE(entries.mid(0, first.size()), first);
    for (const QString &name : absent)
        QVERIFY2(!entries.contains(name), qPrintable(name));
}

void tst_Schema::insertion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected"); // '|' marks the cursor

    QTest::newRow("enter, space in name") << "select * from |" << "my" << int(Qt::Key_Return)
                                          << "select * from `my table`|";
    QTest::newRow("tab, japanese plain") << "select * from | o" << "注" << int(Qt::Key_Tab)
                                         << "select * from 注文| o";
    QTest::newRow("reserved word") << "select * from |" << "sel" << int(Qt::Key_Enter)
                                   << "select * from `select`|";
    QTest::newRow("column after alias") << "select o.注文|, 1 from 注文 o" << "I"
                                        << int(Qt::Key_Return) << "select o.注文ID|, 1 from 注文 o";
    QTest::newRow("case of the name kept") << "select * from |" << "CE_T2"
                                           << int(Qt::Key_Return) << "select * from ce_t2|";
}

void tst_Schema::insertion()
{
    QFETCH(QString, text);
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(QString, expected);
    typeAt(text, typed);
    QTRY_VERIFY(popup()->isVisible());
    QTest::keyClick(popup(), Qt::Key(key));
    QVERIFY(!popup()->isVisible());
    QString shown = editor()->toPlainText();
    shown.insert(editor()->textCursor().position(), QLatin1Char('|'));
    QCOMPARE(shown, expected);
}

void tst_Schema::inputMethodCommit()
{
    typeAt("select * from |", QString());
    QInputMethodEvent preedit(QStringLiteral("ちゅうもん"), {});
    QApplication::sendEvent(editor(), &preedit);
    QVERIFY(!popup()->isVisible());
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("注"));
    QApplication::sendEvent(editor(), &commit);
    QCOMPARE(popupEntries().value(0), QStringLiteral("注文"));
    QTest::keyClick(popup(), Qt::Key_Return);
    QCOMPARE(editor()->toPlainText(), QStringLiteral("select * from 注文"));
}

void tst_Schema::completesWhileStatementRuns()
{
    m_session.type("select sleep(30)");
    m_session.trigger("m_pExecAct");
    QTRY_VERIFY(QApplication::overrideCursor());
    m_session.trigger("m_pNewTabAct");
    QElapsedTimer clock;
    clock.start();
    typeAt("select * from |", "ce_t2");
    QTRY_VERIFY_WITH_TIMEOUT(popup()->isVisible(), 1000);
    QCOMPARE(popupEntries().value(0), QStringLiteral("ce_t2"));
    QVERIFY(clock.elapsed() < 1000);
    // Escape belongs to the popup first: the statement goes on.
    QTest::keyClick(popup(), Qt::Key_Escape);
    QVERIFY(!popup()->isVisible());
    QTest::qWait(200);
    QVERIFY(QApplication::overrideCursor());
    QVERIFY(!m_session.idle());
    m_session.trigger("m_pCancelAct");
    QTRY_VERIFY_WITH_TIMEOUT(m_session.idle(), 15000);
}

void tst_Schema::metadataConnectionKilledOrFailing()
{
    SchemaLoader *loader = panel()->loader();
    QTRY_VERIFY(loader->threadId() != 0);
    const QSqlDatabase check = m_server.check(QStringLiteral("check"), Database);
    QVERIFY(exec(check, QStringLiteral("KILL CONNECTION %1").arg(loader->threadId())));
    QVERIFY(exec(check, "CREATE TABLE vq_after_kill (x INT)"));
    m_session.trigger("m_pRefreshSchemaAct");
    QTRY_VERIFY_WITH_TIMEOUT(hasTable("vq_after_kill"), 3000);
    QVERIFY(exec(check, "DROP TABLE vq_after_kill"));
    // The user's connection never noticed.
    m_session.run("select 1");
    QCOMPARE(m_session.grid()->model()->index(0, 0).data().toString(), QStringLiteral("1"));

    SchemaPanel alone;
    ConnectionParams bad = m_server.params(Database);
    bad.password += QStringLiteral("-wrong");
    alone.open(bad);
    const QAbstractItemModel *model = alone.tree()->model();
    QTRY_VERIFY_WITH_TIMEOUT(model->index(0, 0).data().toString().startsWith(
                                 QStringLiteral("スキーマを読み込めませんでした: ")),
                             10000);
    QVERIFY(model->index(0, 0).data().toString().contains(QStringLiteral("1045")));
}

void tst_Schema::ddlElsewhereWhileLoading()
{
    const QSqlDatabase check = m_server.check(QStringLiteral("check"), Database);
    for (int i = 1; i <= 20; ++i) {
        m_session.trigger("m_pRefreshSchemaAct");
        QVERIFY(exec(check, QStringLiteral("CREATE TABLE vq_churn%1 (c%1 INT)").arg(i)));
        QApplication::processEvents();
        QVERIFY(exec(check, QStringLiteral("DROP TABLE IF EXISTS vq_churn%1").arg(i - 1)));
    }
    m_session.trigger("m_pRefreshSchemaAct");
    QTRY_VERIFY_WITH_TIMEOUT(hasTable("vq_churn20") && !hasTable("vq_churn19"), 5000);
    QTRY_VERIFY(panel()->model()->snapshot()->columnsLoaded);
    const QModelIndex churn = panel()->model()->tableIndex(QStringLiteral("vq_churn20"));
    QCOMPARE(childNames(tree()->model(), churn), QStringList{ "c20" });
    QVERIFY(exec(check, "DROP TABLE vq_churn20"));
}

// The account on the TLS server requires a client certificate: the names
// come only if the metadata connection goes in as the user's would.
void tst_Schema::metadataOverTls_data()
{
    QTest::addColumn<bool>("withCertificate");
    QTest::addColumn<QString>("row"); // a top-level row starts with it
    QTest::newRow("certificate") << true << "vq_schema_tls";
    QTest::newRow("none") << false << "スキーマを読み込めませんでした: ";
}

void tst_Schema::metadataOverTls()
{
    QFETCH(bool, withCertificate);
    QFETCH(QString, row);
    TestServer tls = m_server;
    tls.port = qEnvironmentVariableIntValue("VELQUIN_TEST_TLS_PORT");
    QVERIFY2(tls.port > 0, "run the suite through scripts/test");
    QVERIFY(tls.recreateDatabase(QStringLiteral("vq_schema_tls")));
    ConnectionParams p = tls.params(QStringLiteral("vq_schema_tls"));
    const QString certs = qEnvironmentVariable("VELQUIN_TEST_CERTS") + QLatin1Char('/');
    p.user = QStringLiteral("velquin_x509");
    p.tlsMode = TlsMode::VerifyCa;
    p.tlsCa = certs + QStringLiteral("ca.pem");
    if (withCertificate) {
        p.tlsCert = certs + QStringLiteral("client.pem");
        p.tlsKey = certs + QStringLiteral("client-key.pem");
    }
    SchemaPanel alone;
    alone.open(p);
    const QAbstractItemModel *model = alone.tree()->model();
    const auto shown = [&] {
        for (int i = 0; i < model->rowCount(); ++i) {
            if (model->index(i, 0).data().toString().startsWith(row))
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(shown(), 10000);
}

QTEST_MAIN(tst_Schema)
#include "tst_schema.moc"
