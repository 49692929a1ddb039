// Edits in the grid reach the server as the user meant them, or not at all:
// every outcome checked through a second connection.

#include "DatabaseConnection.h"
#include "GridEditApply.h"
#include "ResultModel.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBrush>
#include <QMessageBox>
#include <QTableView>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString Database = QStringLiteral("vq_gridedit");
using Answer = QueryExecutor::Answer;

QSqlDatabase check()
{
    return QSqlDatabase::database(QStringLiteral("check"));
}

// id:name for every row of `pk`, names quoted so NULL, '' and 'NULL' differ.
QString pkRows()
{
    return scalar(check(), "SELECT GROUP_CONCAT(id, ':', QUOTE(name) ORDER BY id) FROM pk").toString();
}

int openTransactions()
{
    return scalar(check(), "SELECT COUNT(*) FROM information_schema.innodb_trx t JOIN "
                           "information_schema.processlist p ON p.id = t.trx_mysql_thread_id "
                           "WHERE p.db = 'vq_gridedit'").toInt();
}

} // namespace

class tst_GridEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void editable_data();
    void editable();
    void apply_data();
    void apply();
    void blobLeftUntouched();
    void sortedGridEditsTheRowShown();
    void discardShowsTheRowsAsRead();
    void connectionLostDuringApply();
    void noEditWhileRowsStreamOrWhenCut();
    void throughTheWindow();

private:
    // Runs a query as F5 would and waits until editability is decided.
    std::unique_ptr<ResultModel> load(const QString &sql);
    // Applies the model's edits with the given answer; the answer asked for
    // ("-" when no question came) and the log.
    bool applyEdits(ResultModel &model, Answer answer, QString *asked, QStringList *log);
    TestServer m_server;
    std::unique_ptr<DatabaseConnection> m_connection;
};

void tst_GridEdit::initTestCase()
{
    m_server = TestServer::fromEnvironment();
    QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
    QVERIFY(m_server.recreateDatabase(Database));
    QVERIFY(m_server.check(QStringLiteral("check"), Database).isOpen());
}

void tst_GridEdit::init()
{
    const QSqlDatabase db = check();
    QVERIFY(exec(db, "DROP VIEW IF EXISTS pkv"));
    QVERIFY(exec(db, "DROP TABLE IF EXISTS pk, comp, uq, nuq, nokey"));
    QVERIFY(exec(db, "CREATE TABLE pk (id INT PRIMARY KEY, name VARCHAR(8), qty INT, data MEDIUMBLOB, "
                     "d DECIMAL(20,2) NOT NULL DEFAULT 1.50) ENGINE=InnoDB"));
    QVERIFY(exec(db, "INSERT INTO pk (id, name, qty) VALUES (1, 'one', 1), (2, 'two', 2), "
                     "(3, NULL, 3)"));
    QVERIFY(exec(db, "CREATE TABLE comp (a INT, b VARCHAR(4), v INT, PRIMARY KEY (a, b))"));
    QVERIFY(exec(db, "INSERT INTO comp VALUES (1, 'x', 10), (1, 'y', 20)"));
    QVERIFY(exec(db, "CREATE TABLE uq (code VARCHAR(4) NOT NULL UNIQUE, v INT)"));
    QVERIFY(exec(db, "INSERT INTO uq VALUES ('a', 1), ('b', 2)"));
    QVERIFY(exec(db, "CREATE TABLE nuq (code VARCHAR(4) UNIQUE, v INT)"));
    QVERIFY(exec(db, "INSERT INTO nuq VALUES ('a', 1)"));
    QVERIFY(exec(db, "CREATE TABLE nokey (v INT)"));
    QVERIFY(exec(db, "INSERT INTO nokey VALUES (1), (1)"));
    QVERIFY(exec(db, "CREATE VIEW pkv AS SELECT * FROM pk"));
    m_connection = std::make_unique<DatabaseConnection>();
    QVERIFY(openAndWait(*m_connection, m_server.params(Database)));
}

void tst_GridEdit::cleanup()
{
    if (QSqlDatabase::contains(QStringLiteral("locker")))
        QSqlDatabase::database(QStringLiteral("locker"), false).close();
}

std::unique_ptr<ResultModel> tst_GridEdit::load(const QString &sql)
{
    std::unique_ptr<ResultModel> model;
    bool done = false, decided = false;
    m_connection->run(sql, false, [&](const StatementResult &result) {
        done = true;
        if (result.kind != StatementResult::Rows)
            return;
        model = std::make_unique<ResultModel>(result.columns, result.firstRows);
        connect(model.get(), &ResultModel::editabilityDecided, this, [&decided] { decided = true; });
        model->setStatement(sql);
        model->follow(m_connection.get(), result.streamId);
    });
    if (!QTest::qWaitFor([&] { return done && (!model || decided); }, 30000))
        return nullptr;
    return model;
}

void tst_GridEdit::editable_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("editable");
    QTest::newRow("star") << "select * from pk" << true;
    QTest::newRow("columns in any order, where, order, limit")
        << "select name, id from pk where id > 0 and name <> 'x, y' order by name, id limit 1, 5" << true;
    QTest::newRow("aliases and qualified names")
        << "SELECT p.id AS i, p.name n FROM vq_gridedit.pk AS p" << true;
    QTest::newRow("subquery in where") << "select * from pk where id in (select a from comp)" << true;
    QTest::newRow("composite key") << "select * from comp" << true;
    QTest::newRow("not null unique key") << "select v, code from uq" << true;
    QTest::newRow("key not in result") << "select name from pk" << false;
    QTest::newRow("part of composite key") << "select a, v from comp" << false;
    QTest::newRow("nullable unique key") << "select * from nuq" << false;
    QTest::newRow("no key") << "select * from nokey" << false;
    QTest::newRow("view") << "select * from pkv" << false;
    QTest::newRow("expression") << "select id, name, id + 1 from pk" << false;
    QTest::newRow("aggregate") << "select count(*) from pk" << false;
    QTest::newRow("distinct") << "select distinct id, name from pk" << false;
    QTest::newRow("group by") << "select id from pk group by id" << false;
    QTest::newRow("union") << "select * from pk union select * from pk" << false;
    QTest::newRow("join") << "select pk.id from pk join comp on comp.a = pk.id" << false;
    QTest::newRow("comma join") << "select pk.id from pk, comp" << false;
    QTest::newRow("derived table") << "select * from (select * from pk) d" << false;
    QTest::newRow("executable comment") << "select id, name /*!, 1 */ from pk" << false;
    QTest::newRow("same column twice") << "select id, name, name from pk" << false;
}

void tst_GridEdit::editable()
{
    QFETCH(QString, sql);
    QFETCH(bool, editable);
    const std::unique_ptr<ResultModel> model = load(sql);
    QVERIFY(model);
    QCOMPARE(model->isEditable(), editable);
    QCOMPARE(model->readOnlyReason().isEmpty(), editable);
    const QModelIndex cell = model->index(0, 0);
    QCOMPARE(bool(model->flags(cell) & Qt::ItemIsEditable), editable);
    QSignalSpy refused(model.get(), &ResultModel::editRefused);
    QCOMPARE(model->setData(cell, QStringLiteral("9"), Qt::EditRole), editable);
    QCOMPARE(refused.isEmpty(), editable);
}

bool tst_GridEdit::applyEdits(ResultModel &model, Answer answer, QString *asked, QStringList *log)
{
    GridEditApply apply(m_connection.get());
    *asked = QStringLiteral("-");
    apply.setCommitQuestion([&](const QueryExecutor::Change &change) {
        *asked = QString::number(change.affectedRows);
        return answer;
    });
    connect(&apply, &GridEditApply::logged, this,
            [log](const QString &what, const QString &outcome, const QStringList &) {
                *log << what + QStringLiteral(" => ") + outcome;
            });
    QSignalSpy finished(&apply, &GridEditApply::finished);
    if (!apply.apply(&model))
        return false;
    return finished.wait(30000);
}

void tst_GridEdit::apply_data()
{
    QTest::addColumn<QString>("sql");
    // "row,column=text", "row,column=\N" (NULL), "+" (new row: row is the
    // new one), "-row" (delete), "!sql" (run on the second connection).
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("table"); // what to read back
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("logged"); // a text the log must hold

    const QString pk = QStringLiteral("SELECT GROUP_CONCAT(id, ':', QUOTE(name) ORDER BY id) FROM pk");
    const QString start = QStringLiteral("1:'one',2:'two',3:NULL");
    QTest::newRow("one cell, other rows untouched")
        << "select * from pk" << QStringList{ "1,1=zwei" } << int(Answer::Yes) << "1" << pk
        << "1:'one',2:'zwei',3:NULL" << "UPDATE `vq_gridedit`.`pk` SET `name` = 'zwei' WHERE `id` = 2";
    QTest::newRow("NULL, empty and the text NULL")
        << "select * from pk" << QStringList{ "0,1=\\N", "1,1=", "2,1=NULL" } << int(Answer::Yes)
        << "3" << pk << "1:NULL,2:'',3:'NULL'" << "";
    QTest::newRow("a value as it was still counts")
        << "select id, name from pk" << QStringList{ "0,1=one" } << int(Answer::Yes) << "1" << pk
        << start << "完了 · 1 行";
    QTest::newRow("the key itself") << "select * from pk" << QStringList{ "0,0=10" }
                                    << int(Answer::Yes) << "1" << pk
                                    << "2:'two',3:NULL,10:'one'" << "WHERE `id` = 1";
    QTest::newRow("composite key")
        << "select * from comp" << QStringList{ "1,2=21" } << int(Answer::Yes) << "1"
        << "SELECT GROUP_CONCAT(a, b, v ORDER BY b) FROM comp" << "1x10,1y21"
        << "WHERE `a` = 1 AND `b` = 'y'";
    QTest::newRow("not null unique key")
        << "select * from uq" << QStringList{ "0,1=5" } << int(Answer::Yes) << "1"
        << "SELECT GROUP_CONCAT(code, v ORDER BY code) FROM uq" << "a5,b2" << "WHERE `code` = 'a'";
    QTest::newRow("new row and deleted row")
        << "select * from pk" << QStringList{ "+", "3,0=7", "3,1=it's", "-0" } << int(Answer::Yes)
        << "2" << "SELECT GROUP_CONCAT(id, QUOTE(name), d ORDER BY id) FROM pk"
        << "2'two'1.50,3NULL1.50,7'it\\'s'1.50" << "INSERT INTO `vq_gridedit`.`pk` (`id`, `name`)";
    QTest::newRow("answered No") << "select * from pk" << QStringList{ "0,1=x", "-1" }
                                 << int(Answer::No) << "2" << pk << start << "ROLLBACK";
    QTest::newRow("too long under strict mode")
        << "select * from pk" << QStringList{ "0,1=much too long" } << int(Answer::Yes) << "-"
        << pk << start << "Data too long";
    QTest::newRow("not a number") << "select * from pk" << QStringList{ "0,2=abc" }
                                  << int(Answer::Yes) << "-" << pk << start << "1366";
    QTest::newRow("key changed to one that exists")
        << "select * from pk" << QStringList{ "1,1=b", "0,0=2" } << int(Answer::Yes) << "-" << pk
        << start << "Duplicate entry '2'";
    QTest::newRow("row deleted by another connection in between")
        << "select * from pk" << QStringList{ "0,1=x", "!DELETE FROM pk WHERE id = 2", "1,1=y" }
        << int(Answer::Yes) << "-" << pk << "1:'one',3:NULL" << "該当した行 0（1 行のはず） · 行 id=2";
}

void tst_GridEdit::apply()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, edits);
    QFETCH(int, answer);
    QFETCH(QString, asked);
    QFETCH(QString, table);
    QFETCH(QString, after);
    QFETCH(QString, logged);

    const std::unique_ptr<ResultModel> model = load(sql);
    QVERIFY(model && model->isEditable());
    for (const QString &edit : edits) {
        if (edit.startsWith(QLatin1Char('!'))) {
            QVERIFY(exec(check(), edit.mid(1)));
        } else if (edit == QLatin1String("+")) {
            QVERIFY(model->insertPendingRow() >= 0);
        } else if (edit.startsWith(QLatin1Char('-'))) {
            model->markRowsDeleted({ edit.mid(1).toInt() });
        } else {
            const int comma = int(edit.indexOf(QLatin1Char(','))), eq = int(edit.indexOf(QLatin1Char('=')));
            const QString text = edit.mid(eq + 1);
            const QModelIndex cell = model->index(edit.left(comma).toInt(),
                                                  edit.mid(comma + 1, eq - comma - 1).toInt());
            QVERIFY(model->setData(cell, text == QLatin1String("\\N") ? QVariant() : QVariant(text)));
            QVERIFY(model->data(cell, Qt::BackgroundRole).isValid());
            // An edited NULL looks like a NULL, not like the text.
            QCOMPARE(model->data(cell, Qt::ForegroundRole).isValid(), text == QLatin1String("\\N"));
        }
    }
    QString question;
    QStringList log;
    QVERIFY(applyEdits(*model, Answer(answer), &question, &log));
    QCOMPARE(question, asked);
    QCOMPARE(scalar(check(), table).toString(), after);
    QCOMPARE(openTransactions(), 0);
    const bool committed = answer == int(Answer::Yes) && asked != QLatin1String("-");
    QCOMPARE(model->hasPendingEdits(), !committed);
    if (!logged.isEmpty())
        QVERIFY2(log.join(QLatin1Char('\n')).contains(logged), qPrintable(log.join(QLatin1Char('\n'))));
    if (committed) {
        // The marks are gone and the grid shows what the table holds.
        for (int r = 0; r < model->rowCount(); ++r)
            QVERIFY(!model->data(model->index(r, 1), Qt::BackgroundRole).isValid());
    }
}

void tst_GridEdit::blobLeftUntouched()
{
    QVERIFY(exec(check(), "UPDATE pk SET data = RANDOM_BYTES(1024) WHERE id = 1"));
    QVERIFY(exec(check(), "UPDATE pk SET data = REPEAT(data, 64) WHERE id = 1"));
    const QString before = scalar(check(), "SELECT MD5(data) FROM pk WHERE id = 1").toString();
    const std::unique_ptr<ResultModel> model = load(QStringLiteral("select * from pk"));
    QVERIFY(model && model->isEditable());
    QVERIFY(model->setData(model->index(0, 1), QStringLiteral("uno")));
    QVERIFY(model->setData(model->index(0, 4), QStringLiteral("2.5")));
    // A binary cell takes hex only.
    QVERIFY(!model->setData(model->index(1, 3), QStringLiteral("text")));
    QVERIFY(model->setData(model->index(1, 3), QStringLiteral("0x00ff")));
    QString asked;
    QStringList log;
    QVERIFY(applyEdits(*model, Answer::Yes, &asked, &log));
    QCOMPARE(asked, QStringLiteral("2"));
    QCOMPARE(scalar(check(), "SELECT MD5(data) FROM pk WHERE id = 1").toString(), before);
    QCOMPARE(scalar(check(), "SELECT CONCAT(name, HEX(data)) FROM pk WHERE id <= 2 ORDER BY id "
                             "DESC LIMIT 1").toString(), QStringLiteral("two00FF"));
    QCOMPARE(model->cellText(1, 3), QStringLiteral("0x00FF"));
    // The committed row shows what the server stored, not what was typed.
    QCOMPARE(model->cellText(0, 4), QStringLiteral("2.50"));
}

void tst_GridEdit::sortedGridEditsTheRowShown()
{
    const std::unique_ptr<ResultModel> model = load(QStringLiteral("select id, name from pk"));
    QVERIFY(model);
    model->sort(0, Qt::DescendingOrder); // 3, 2, 1
    QVERIFY(model->setData(model->index(0, 1), QStringLiteral("drei")));
    model->markRowsDeleted({ 2 });
    QString asked;
    QStringList log;
    QVERIFY(applyEdits(*model, Answer::Yes, &asked, &log));
    QCOMPARE(pkRows(), QStringLiteral("2:'two',3:'drei'"));
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->cellText(0, 1), QStringLiteral("drei"));
    // Committed rows are rows like any other: edited again, by their new values.
    QVERIFY(model->setData(model->index(0, 1), QStringLiteral("three")));
    QVERIFY(applyEdits(*model, Answer::Yes, &asked, &log));
    QCOMPARE(pkRows(), QStringLiteral("2:'two',3:'three'"));
}

void tst_GridEdit::discardShowsTheRowsAsRead()
{
    const std::unique_ptr<ResultModel> model = load(QStringLiteral("select * from pk"));
    QVERIFY(model && model->isEditable());
    auto shown = [&] {
        QStringList cells;
        for (int r = 0; r < model->rowCount(); ++r) {
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->data(model->index(r, c)).toString()
                        + (model->data(model->index(r, c), Qt::BackgroundRole).isValid() ? "*" : "");
        }
        return cells;
    };
    const QStringList before = shown();
    QVERIFY(model->setData(model->index(2, 1), QStringLiteral("x")));
    QVERIFY(model->insertPendingRow() == 3);
    model->markRowsDeleted({ 0 });
    QVERIFY(shown() != before);
    model->discardEdits();
    QCOMPARE(shown(), before);
    QVERIFY(!model->hasPendingEdits());
}

void tst_GridEdit::connectionLostDuringApply()
{
    const std::unique_ptr<ResultModel> model = load(QStringLiteral("select * from pk"));
    QVERIFY(model && model->isEditable());
    QVERIFY(model->setData(model->index(0, 1), QStringLiteral("x")));
    QVERIFY(model->setData(model->index(1, 1), QStringLiteral("y")));
    // Row 2 is locked elsewhere: the UPDATE of row 1 has gone through and the
    // one of row 2 waits when the connection is killed.
    QSqlDatabase locker = m_server.check(QStringLiteral("locker"), Database);
    QVERIFY(exec(locker, "BEGIN"));
    QVERIFY(exec(locker, "SELECT * FROM pk WHERE id = 2 FOR UPDATE"));
    GridEditApply apply(m_connection.get());
    apply.setCommitQuestion([](const QueryExecutor::Change &) { return Answer::Yes; });
    QSignalSpy finished(&apply, &GridEditApply::finished);
    QVERIFY(apply.apply(model.get()));
    const char *waiting = "SELECT trx_mysql_thread_id FROM information_schema.innodb_trx "
                          "WHERE trx_state = 'LOCK WAIT'";
    // The server refreshes innodb_trx only when it was not read for 0.1 s.
    QVERIFY(waitUntil([&] { QTest::qWait(150); return scalar(check(), waiting).isValid(); }, 20000));
    const QString id = scalar(check(), waiting).toString();
    QVERIFY(exec(check(), "KILL CONNECTION " + id));
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(exec(locker, "ROLLBACK"));
    QCOMPARE(pkRows(), QStringLiteral("1:'one',2:'two',3:NULL"));
    QVERIFY(model->hasPendingEdits());
    // Lost before Apply: refused or failed, the edits still pending.
    apply.apply(model.get());
    QTRY_VERIFY(!apply.running());
    QVERIFY(model->hasPendingEdits());
}

void tst_GridEdit::noEditWhileRowsStreamOrWhenCut()
{
    std::unique_ptr<ResultModel> model;
    const QString sql = QStringLiteral("select seq, seq from seq_1_to_3000000");
    m_connection->run(sql, false, [&](const StatementResult &result) {
        model = std::make_unique<ResultModel>(result.columns, result.firstRows);
        model->setStatement(sql);
        model->follow(m_connection.get(), result.streamId);
    });
    QTRY_VERIFY(model);
    QVERIFY(model->isLoading());
    QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(!model->setData(model->index(0, 0), QStringLiteral("1")));
    QCOMPARE(model->insertPendingRow(), -1);
    m_connection->cancel();
    QTRY_VERIFY_WITH_TIMEOUT(!model->isLoading(), 30000);
    QVERIFY(!model->isEditable());

    m_connection->setRowMemoryLimit(64 << 10);
    const QSqlDatabase db = check();
    QVERIFY(exec(db, "INSERT INTO pk (id, name) SELECT seq + 10, 'n' FROM seq_1_to_20000"));
    const std::unique_ptr<ResultModel> cut = load(QStringLiteral("select id, name from pk"));
    QVERIFY(cut);
    QCOMPARE(cut->streamEnd().kind, StreamEnd::Cut);
    QVERIFY(!cut->isEditable());
}

void tst_GridEdit::throughTheWindow()
{
    m_connection.reset(); // the window's connection takes the name "MySQL"
    WindowSession session;
    session.start();
    QVERIFY(session.connect(m_server.params(Database)));
    session.run(QStringLiteral("select * from pk"));
    QAbstractItemModel *model = session.grid()->model();
    QTRY_VERIFY(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);
    QVERIFY(model->setData(model->index(0, 1), QStringLiteral("uno"), Qt::EditRole));
    auto press = [](QMessageBox::StandardButton button) {
        return [button](QWidget *box) { static_cast<QMessageBox *>(box)->button(button)->click(); };
    };
    // The commit question answered No keeps the edit for another Apply; Yes commits.
    for (const auto button : { QMessageBox::No, QMessageBox::Yes }) {
        ModalAnswerer commit(QStringLiteral("ConfirmCommitMessageBox"), press(button));
        session.trigger("m_pApplyEditsAct");
        QTRY_VERIFY(session.idle());
        QVERIFY(commit.answered());
        const bool yes = button == QMessageBox::Yes;
        QCOMPARE(pkRows(), yes ? QStringLiteral("1:'uno',2:'two',3:NULL")
                               : QStringLiteral("1:'one',2:'two',3:NULL"));
        QCOMPARE(model->data(model->index(0, 1), Qt::BackgroundRole).isValid(), !yes);
        QCOMPARE(model->data(model->index(0, 1)).toString(), QStringLiteral("uno"));
    }
    QCOMPARE(openTransactions(), 0);

    // With an edit pending, F5 and Disconnect ask first: No keeps everything.
    QVERIFY(model->setData(model->index(1, 1), QVariant(), Qt::EditRole));
    {
        ModalAnswerer discard(QStringLiteral("ConfirmDiscardEditsMessageBox"), press(QMessageBox::No));
        session.run(QStringLiteral("select 1"));
        QVERIFY(discard.answered());
    }
    QCOMPARE(session.grid()->model(), model);
    {
        ModalAnswerer discard(QStringLiteral("ConfirmDiscardEditsMessageBox"), press(QMessageBox::Cancel));
        session.trigger("m_pDisconnectAct");
        QVERIFY(discard.answered());
    }
    QVERIFY(QSqlDatabase::contains(QStringLiteral("MySQL")));
    {
        ModalAnswerer discard(QStringLiteral("ConfirmDiscardEditsMessageBox"), press(QMessageBox::Yes));
        session.run(QStringLiteral("select 1"));
        QVERIFY(discard.answered());
    }
    QCOMPARE(session.grid()->model()->columnCount(), 1);
    QCOMPARE(pkRows(), QStringLiteral("1:'uno',2:'two',3:NULL"));
    session.stop();
}

QTEST_MAIN(tst_GridEdit)
#include "tst_gridedit.moc"
