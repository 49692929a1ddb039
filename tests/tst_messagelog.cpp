// The message log and its neighbours, against the server: the server's own
// words, the error's place in the editor, counts, and a log that stays bounded.

#include "MessageLog.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "TestSupport.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTextBlock>
#include <QScrollBar>
#include <QTest>

class tst_MessageLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server = TestServer::fromEnvironment();
        QVERIFY2(m_server.isValid(), qPrintable(m_server.describe()));
        QVERIFY(m_server.recreateDatabase(QStringLiteral("vq_log")));
        const QSqlDatabase db = m_server.check(QStringLiteral("check"), QStringLiteral("vq_log"));
        QVERIFY(exec(db, "CREATE TABLE items (id INT, tiny TINYINT)"));
        QVERIFY(exec(db, "INSERT INTO items VALUES (1, 1), (2, 2), (3, 3)"));
    }
    void statements_data();
    void statements();
    void connectFailures();
    void floodStaysBounded();
    void viewFollowsTheEnd();

private:
    static QString log(WindowSession &s)
    {
        return s.window().findChild<QPlainTextEdit *>(QStringLiteral("m_pMessageLog"))->toPlainText();
    }
    TestServer m_server;
};

void tst_MessageLog::statements_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("selectFrom"); // empty: F5 runs the whole text
    QTest::addColumn<QString>("logged");     // a pattern the log must match
    QTest::addColumn<int>("errorLine");      // where the cursor ends up, or -1
    QTest::addColumn<QString>("field");      // the status field's pattern
    QTest::addColumn<QString>("from");       // the text from the error on
    QTest::addColumn<QString>("selected");   // a script's failing statement

    const QString syntax = QStringLiteral("1064 \\(42000\\): You have an error in your SQL syntax.*"
                                          "near '= 1' at line 3");
    const QString previous = QStringLiteral("^3 行 · \\d+\\.\\d\\d 秒$");
    QTest::newRow("syntax error in a selection")
        << "select 1;\n\nselect *\nfrom items\nwhere id = = 1" << "select *" << syntax << 4
        << previous << "= 1" << "";
    QTest::newRow("syntax error in a script's second statement")
        << "select 1 as a;\nselect *\nfrom items\nwhere id = = 1;" << "" << syntax << 3
        << "^1 行 · " // the script's first statement
        << "= 1;" << "select *\nfrom items\nwhere id = = 1";
    // The server sends the emoji back as '?'.
    QTest::newRow("syntax error before an emoji")
        << "select 1 as a;\nselect *\nfrom items\nwhere id = = 1 or tiny = '🍣';" << ""
        << "near '= 1 or tiny = '\\?'' at line 3" << 3 << "^1 行 · "
        << "= 1 or tiny = '🍣';" << "select *\nfrom items\nwhere id = = 1 or tiny = '🍣'";
    QTest::newRow("query") << "select seq from seq_1_to_1200" << ""
                           << "select seq from seq_1_to_1200\\s+1,200 行 · 最初の行まで" << -1
                           << "^1,200 行 · \\d+\\.\\d\\d 秒$" << "" << "";
    QTest::newRow("data change with warnings")
        << "set session sql_mode = '';\nupdate items set tiny = 300 where id < 3" << ""
        << "影響を受けた行 2 .*\\n\\s+警告 2 件: Warning 1264: Out of range.*\\n.*ROLLBACK\\n\\s+ロールバックしました"
        << -1 << previous << "" << "";
    QTest::newRow("capitals run as any statement")
        << "SHOW TABLES" << "" << "SHOW TABLES\\s+\\d+ 行 · 最初の行まで" << -1 << "^\\d+ 行 · " << "" << "";
}

void tst_MessageLog::statements()
{
    QFETCH(QString, text);
    QFETCH(QString, selectFrom);
    QFETCH(QString, logged);
    QFETCH(int, errorLine);
    QFETCH(QString, field);
    QFETCH(QString, from);
    QFETCH(QString, selected);
    WindowSession s;
    s.start();
    QVERIFY(s.connect(m_server.params(QStringLiteral("vq_log"))));
    s.run(QStringLiteral("select * from items"));
    ModalAnswerer no(QStringLiteral("ConfirmCommitMessageBox"),
                     [](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); });
    QZTextEdit *page = s.window().findChild<QZEditTabWidget *>()->currentPage();
    s.type(text);
    QTextCursor cursor(page->document());
    if (!selectFrom.isEmpty()) {
        cursor.setPosition(int(text.indexOf(selectFrom)));
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    page->setTextCursor(cursor);
    s.trigger("m_pExecAct");
    QTRY_VERIFY(s.idle());
    QTRY_VERIFY2(log(s).contains(QRegularExpression(logged)), qPrintable(log(s)));
    auto label = [&](const char *name) { return s.window().findChild<QLabel *>(name); };
    QTRY_VERIFY2(label("m_pResultInfo")->text().contains(QRegularExpression(field)),
                 qPrintable(label("m_pResultInfo")->text()));
    const bool failed = errorLine >= 0;
    QCOMPARE(label("m_pPreviousLabel")->isVisibleTo(&s.window()), failed);
    QCOMPARE(page->hasErrorMark(), failed);
    if (failed) {
        QTextCursor mark(page->document());
        mark.setPosition(page->errorMarkPosition());
        QCOMPARE(mark.blockNumber(), errorLine);
        QCOMPARE(mark.block().text().mid(mark.positionInBlock()), from);
        // A single statement: the cursor goes to the error; in a script the
        // failing statement is selected.
        if (selected.isEmpty())
            QCOMPARE(page->textCursor().position(), mark.position());
        else
            QCOMPARE(page->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n'), selected);
        page->insertPlainText(QStringLiteral(" "));
        QVERIFY(!page->hasErrorMark());
    }
    s.stop();
}

void tst_MessageLog::connectFailures()
{
    // Access denied, then nothing listening: the reason and the place tried.
    ConnectionParams params = m_server.params(QStringLiteral("vq_log"));
    params.password += QStringLiteral("-wrong");
    QTcpServer unused;
    QVERIFY(unused.listen(QHostAddress::LocalHost));
    const int closedPort = unused.serverPort();
    unused.close();
    for (const QString &reason : { QStringLiteral("1045: Access denied for user 'velquin'"),
                                   QStringLiteral("Can't connect to server on '127.0.0.1'") }) {
        WindowSession s;
        s.start();
        QVERIFY(!s.connect(params));
        const QString target = QStringLiteral("接続 velquin@127.0.0.1:%1/vq_log\n").arg(params.port);
        QTRY_VERIFY2(log(s).contains(target) && log(s).contains(reason), qPrintable(log(s)));
        s.stop();
        params.port = closedPort;
    }
}

void tst_MessageLog::floodStaysBounded()
{
    WindowSession s;
    s.start();
    auto *model = s.window().findChild<MessageLog *>();
    for (int i = 0; i < 10000; ++i)
        model->add(QStringLiteral("select %1\nfrom t").arg(i) + QString(i == 9999 ? 100000 : 0, 'x'),
                   QStringLiteral("line\nbreak\x01") + QString(5000, QLatin1Char('e')),
                   { QStringLiteral("a\r\nb") });
    model->flush(); // a flood reaches the view in batches
    const QStringList lines = log(s).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + MessageLog::DefaultCapacity * 3);
    QCOMPARE(lines.first(), QStringLiteral("（古い記録 9,000 件を削除しました）"));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("select 9000…")));
    QVERIFY(lines.at(2).startsWith(QStringLiteral("          line break eee")));
    for (const QString &line : lines)
        QVERIFY2(line.size() <= 10 + MessageLog::MaxLine, qPrintable(line.left(100)));
    QCOMPARE(lines.at(3), QStringLiteral("          a  b"));
    s.stop();
}

// The view follows the newest entries, past a line wider than it and past
// old entries going at the top; scrolled away by the user, it stays.
void tst_MessageLog::viewFollowsTheEnd()
{
    WindowSession s;
    s.start();
    auto *model = s.window().findChild<MessageLog *>();
    s.window().resize(800, 600);
    s.window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.window()));
    auto *view = s.window().findChild<QPlainTextEdit *>(QStringLiteral("m_pMessageLog"));
    QScrollBar *bar = view->verticalScrollBar();
    for (int i = 0; i < 1200; ++i) {
        model->add(QStringLiteral("dump.sql:%1: INSERT INTO `goods` VALUES (1, 'a')").arg(i),
                   i % 7 ? QStringLiteral("完了") : QString(300, u'w'), {});
        if (i % 40 == 0)
            QTest::qWait(1);
    }
    model->flush();
    QTest::qWait(300); // the layout after the last entry
    QCOMPARE(bar->value(), bar->maximum());
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    model->add(QStringLiteral("select 2"), QStringLiteral("完了"), {});
    model->flush();
    QCOMPARE(bar->value(), 0);
    s.stop();
}

QTEST_MAIN(tst_MessageLog)
#include "tst_messagelog.moc"
