#include "FindBar.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "TabStateStore.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {
QZTextEdit *editorOf(QZQuorvinWindow &window)
{
    return window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))->currentPage();
}
} // namespace

class tst_TabState : public QObject
{
    Q_OBJECT

private slots:
    void storeRoundTrip();
    void unreadableStateIsSetAside_data();
    void unreadableStateIsSetAside();
    void windowRestoresAfterClose();
    void stateSurvivesAKill();
    void reopenClosedTabs();
    void openAndSaveBack_data();
    void openAndSaveBack();
    void saveKeepsPermissionsAndMarksLabel();
    void failedSaveKeepsOldFile();
    void findAndReplace();
};

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Owner, group and other bits only: Qt adds the current user's on top.
QFileDevice::Permissions modeOf(const QString &path)
{
    return QFile::permissions(path) & QFileDevice::Permissions(0x7077);
}

QZEditTabWidget *tabsOf(QZQuorvinWindow &window)
{
    return window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"));
}

QStringList texts(const QZEditTabWidget &tabs)
{
    QStringList out;
    for (const TabState &t : tabs.session().tabs)
        out << t.text;
    return out;
}

std::unique_ptr<QZQuorvinWindow> startWindow()
{
    auto window = std::make_unique<QZQuorvinWindow>();
    window->InitWindow();
    return window;
}

} // namespace

void tst_TabState::storeRoundTrip()
{
    ScratchDirectory dir;
    TabSession session;
    session.current = 1;
    const QString big = QString(TabStateStore::InlineLimit, u'あ');
    session.tabs = { { QStringLiteral("select 1"), QStringLiteral("タブ1"), 3, {}, false, false, false },
                     { big, QStringLiteral("*a.sql"), 7, QStringLiteral("/x/a.sql"), true, true, true } };
    TabStateStore store(dir.path());
    QVERIFY(store.save(session));
    QCOMPARE(modeOf(store.statePath()), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The large text is a file of its own, not inline.
    QVERIFY(QFileInfo(store.statePath()).size() < 1000);
    QCOMPARE(QDir(QStringLiteral("tabs.d")).entryList(QDir::Files).size(), 1);

    TabSession loaded;
    QCOMPARE(TabStateStore(dir.path()).load(&loaded), TabStateStore::Load::Restored);
    QCOMPARE(loaded.current, 1);
    QCOMPARE(loaded.tabs.size(), 2);
    QCOMPARE(loaded.tabs[0].text, QStringLiteral("select 1"));
    QCOMPARE(loaded.tabs[0].cursor, 3);
    const TabState &b = loaded.tabs[1];
    QVERIFY(b.text == big && b.label == QStringLiteral("*a.sql") && b.cursor == 7);
    QVERIFY(b.filePath == QStringLiteral("/x/a.sql") && b.modified && b.guessed && b.crlf);

    // A changed large text replaces its file; the old one goes.
    session.tabs[1].text = big + u'x';
    QVERIFY(store.save(session));
    QCOMPARE(QDir(QStringLiteral("tabs.d")).entryList(QDir::Files).size(), 1);
}

void tst_TabState::unreadableStateIsSetAside_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray good = R"({"version":1,"current":0,"tabs":[{"label":"タブ1","cursor":0,"text":"select 1"}]})";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QTest::newRow("garbage") << QByteArray("\x00\xff not json", 11);
    QTest::newRow("fifo, which would block a read") << QByteArray("<fifo>");
    QTest::newRow("other version") << QByteArray(good).replace("\"version\":1", "\"version\":9");
    QTest::newRow("no tabs") << QByteArray(R"({"version":1,"current":0,"tabs":[]})");
    QTest::newRow("text file outside its folder")
        << QByteArray(R"({"version":1,"tabs":[{"textFile":"../database.ini","bytes":3}]})");
    QTest::newRow("text file missing")
        << QByteArray(R"({"version":1,"tabs":[{"textFile":"0123456789012345678901234567890123456789.sql","bytes":3}]})");
}

void tst_TabState::unreadableStateIsSetAside()
{
    QFETCH(QByteArray, content);
    ScratchDirectory dir;
    const bool fifo = content == "<fifo>";
    if (fifo)
        QCOMPARE(mkfifo("tabs.json", 0600), 0);
    else
        writeFile(QStringLiteral("tabs.json"), content);

    auto window = startWindow();
    QSignalSpy spy(window.get(), &QZQuorvinWindow::message);
    QZEditTabWidget *tabs = tabsOf(*window);
    QCOMPARE(texts(*tabs), QStringList{ QString() });
    QCOMPARE(tabs->tabText(0), QStringLiteral("タブ1"));
    const QStringList aside = QDir().entryList({ QStringLiteral("tabs.json.corrupt-*") }, QDir::Files | QDir::System);
    QCOMPARE(aside.size(), 1);
    if (!fifo)
        QCOMPARE(readAll(aside.first()), content);
    QVERIFY(spy.wait(1000));
    QVERIFY(spy.first().first().toString().contains(aside.first()));
}

void tst_TabState::windowRestoresAfterClose()
{
    ScratchDirectory dir;
    {
        auto window = startWindow();
        QZEditTabWidget *tabs = tabsOf(*window);
        tabs->currentPage()->setPlainText(QStringLiteral("select * from 商品"));
        tabs->NewTab();
        tabs->currentPage()->setPlainText(QStringLiteral("second"));
        tabs->NewTab();
        tabs->currentPage()->setPlainText(QStringLiteral("third\nline"));
        tabs->setCurrentIndex(1);
        QTextCursor c = tabs->currentPage()->textCursor();
        c.setPosition(3);
        tabs->currentPage()->setTextCursor(c);
        window->close();
    }
    auto window = startWindow();
    QZEditTabWidget *tabs = tabsOf(*window);
    QCOMPARE(texts(*tabs), (QStringList{ "select * from 商品", "second", "third\nline" }));
    QCOMPARE(tabs->tabText(2), QStringLiteral("タブ3"));
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(tabs->currentPage()->textCursor().position(), 3);
}

void tst_TabState::stateSurvivesAKill()
{
    ScratchDirectory dir;
    auto window = startWindow();
    editorOf(*window)->setPlainText(QStringLiteral("typed just before the power cut"));
    // Saved within 2 s of the edit, without the window closing.
    QTRY_VERIFY_WITH_TIMEOUT(readAll(QStringLiteral("tabs.json")).contains("power cut"), 3000);

    // What a killed process leaves: the working directory as it is now.
    QTemporaryDir copy;
    QVERIFY(QFile::copy(QStringLiteral("tabs.json"), copy.filePath(QStringLiteral("tabs.json"))));
    QDir::setCurrent(copy.path());
    auto next = startWindow();
    QCOMPARE(texts(*tabsOf(*next)), QStringList{ "typed just before the power cut" });
    QDir::setCurrent(dir.path());
}

void tst_TabState::reopenClosedTabs()
{
    QZEditTabWidget tabs;
    for (const char *text : { "a", "b", "c" }) {
        tabs.NewTab();
        tabs.currentPage()->setPlainText(QString::fromLatin1(text));
    }
    tabs.CloseTab(); // c
    tabs.setCurrentIndex(0);
    tabs.CloseTab(); // a
    tabs.ReopenTab();
    QCOMPARE(texts(tabs), (QStringList{ "a", "b" }));
    QCOMPARE(tabs.tabText(0), QStringLiteral("タブ1"));
    QCOMPARE(tabs.currentIndex(), 0);
    tabs.ReopenTab();
    QCOMPARE(texts(tabs), (QStringList{ "a", "b", "c" }));
    tabs.ReopenTab(); // nothing left
    QCOMPARE(tabs.count(), 3);

    // Bounded: only the newest closed pages are kept.
    for (int i = 0; i < QZEditTabWidget::MaxClosed + 5; ++i) {
        tabs.NewTab();
        tabs.CloseTab();
    }
    QCOMPARE(tabs.closedCount(), QZEditTabWidget::MaxClosed);
    QCOMPARE(tabs.findChildren<QZTextEdit *>().size(), 3 + QZEditTabWidget::MaxClosed);
}

void tst_TabState::openAndSaveBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("guessed");
    QTest::addColumn<QByteArray>("saved");

    const QString nihongo = QStringLiteral("select '日本語'");
    const QByteArray utf8 = nihongo.toUtf8();
    QTest::newRow("utf-8") << utf8 << nihongo << false << utf8;
    QTest::newRow("utf-8 bom") << "\xEF\xBB\xBF" + utf8 << nihongo << false << utf8;
    QByteArray le("\xFF\xFE"), be("\xFE\xFF");
    for (QChar c : nihongo) {
        le += char(c.unicode() & 0xff), le += char(c.unicode() >> 8);
        be += char(c.unicode() >> 8), be += char(c.unicode() & 0xff);
    }
    QTest::newRow("utf-16le bom") << le << nihongo << false << utf8;
    QTest::newRow("utf-16be bom") << be << nihongo << false << utf8;
    QTest::newRow("shift_jis") << QByteArray("select '\x93\xFA\x96\x7B\x8C\xEA'") << nihongo << false << utf8;
    QTest::newRow("euc-jp") << QByteArray("select '\xC6\xFC\xCB\xDC\xB8\xEC'") << nihongo << false << utf8;
    // Valid in both: あい in EUC-JP, half-width ､｢､､ in Shift_JIS.
    QTest::newRow("euc-jp, also valid shift_jis")
        << QByteArray("\xA4\xA2\xA4\xA4") << QStringLiteral("あい") << false << QByteArray("あい");
    QTest::newRow("cp932 wave dash and circled one")
        << QByteArray("\x81\x60\x87\x40") << QStringLiteral("～①") << false << QByteArray("～①");
    QTest::newRow("crlf kept") << QByteArray("a\r\nb\r\n") << QStringLiteral("a\nb\n") << false
                               << QByteArray("a\r\nb\r\n");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02select", 9) << QStringLiteral("\u0000\u0001\u0002select")
                            << true << QByteArray("\x00\x01\x02select", 9);
    QTest::newRow("fits none") << QByteArray("a\xFF\xFE\xFD") << QStringLiteral("a\uFFFD\uFFFD\uFFFD") << true
                               << QByteArray("a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

void tst_TabState::openAndSaveBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(bool, guessed);
    QFETCH(QByteArray, saved);

    ScratchDirectory dir;
    writeFile(QStringLiteral("in.sql"), bytes);
    QZEditTabWidget tabs;
    tabs.NewTab();
    QString error;
    QCOMPARE(tabs.openFile(QStringLiteral("in.sql"), &error),
             guessed ? QZEditTabWidget::OpenResult::OpenedGuessing : QZEditTabWidget::OpenResult::Opened);
    QCOMPARE(tabs.count(), 1); // the empty scratch tab was reused
    QCOMPARE(tabs.currentPage()->toPlainText(), text);
    QCOMPARE(tabs.currentPage()->encodingGuessed(), guessed);
    QCOMPARE(tabs.tabText(0), QStringLiteral("in.sql"));
    QVERIFY(tabs.saveCurrent(QStringLiteral("in.sql"), &error));
    QCOMPARE(readAll(QStringLiteral("in.sql")), saved);
}

void tst_TabState::saveKeepsPermissionsAndMarksLabel()
{
    ScratchDirectory dir;
    writeFile(QStringLiteral("q.sql"), "select 1");
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(QStringLiteral("q.sql"), perms));
    QZEditTabWidget tabs;
    tabs.NewTab();
    tabs.NewTab();
    tabs.currentPage()->insertPlainText(QStringLiteral("keep me"));
    QString error;
    tabs.setCurrentIndex(0);
    tabs.openFile(QStringLiteral("q.sql"), &error);
    QCOMPARE(tabs.count(), 2);
    tabs.currentPage()->insertPlainText(QStringLiteral("-- "));
    QCOMPARE(tabs.tabText(0), QStringLiteral("*q.sql"));
    QVERIFY(tabs.saveCurrent(QStringLiteral("q.sql"), &error));
    QCOMPARE(tabs.tabText(0), QStringLiteral("q.sql"));
    QCOMPARE(readAll(QStringLiteral("q.sql")), QByteArray("-- select 1"));
    QCOMPARE(modeOf(QStringLiteral("q.sql")), perms);
}

void tst_TabState::failedSaveKeepsOldFile()
{
    ScratchDirectory dir;
    writeFile(QStringLiteral("q.sql"), "old");
    QZEditTabWidget tabs;
    tabs.NewTab();
    QString error;
    tabs.openFile(QStringLiteral("q.sql"), &error);
    tabs.currentPage()->setPlainText(QString(64 * 1024, u'x'));

    // A disk that fills up mid-write, even for root: a file size limit.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = tabs.saveCurrent(QStringLiteral("q.sql"), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!saved);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(QStringLiteral("q.sql")), QByteArray("old"));
    QCOMPARE(QDir().entryList(QDir::Files), QStringList{ "q.sql" });
    QVERIFY(!tabs.saveCurrent(QStringLiteral("no/such/dir/q.sql"), &error));
}

void tst_TabState::findAndReplace()
{
    QZEditTabWidget tabs;
    tabs.NewTab();
    QZTextEdit *edit = tabs.currentPage();
    edit->setPlainText(QStringLiteral("Select a; select b; SELECT c"));
    FindBar *bar = tabs.findBar();
    tabs.showFindBar(false);
    bar->findEdit()->setText(QStringLiteral("select"));

    QVERIFY(bar->findNext());
    QCOMPARE(edit->textCursor().selectionStart(), 0);
    QVERIFY(bar->findNext());
    QVERIFY(bar->findNext());
    QCOMPARE(edit->textCursor().selectionStart(), 20);
    QVERIFY(bar->findNext()); // wraps around
    QCOMPARE(edit->textCursor().selectionStart(), 0);
    QVERIFY(bar->findPrevious()); // and back
    QCOMPARE(edit->textCursor().selectionStart(), 20);

    bar->matchCase()->setChecked(true);
    QVERIFY(bar->findNext());
    QCOMPARE(edit->textCursor().selectionStart(), 10);
    bar->replaceEdit()->setText(QStringLiteral("select select"));
    bar->replace();
    QCOMPARE(edit->toPlainText(), QStringLiteral("Select a; select select b; SELECT c"));

    bar->matchCase()->setChecked(false);
    bar->replaceEdit()->setText(QStringLiteral("select x"));
    QCOMPARE(bar->replaceAll(), 4);
    QCOMPARE(edit->toPlainText(), QStringLiteral("select x a; select x select x b; select x c"));
    edit->undo(); // one step
    QCOMPARE(edit->toPlainText(), QStringLiteral("Select a; select select b; SELECT c"));

    bar->findEdit()->setText(QStringLiteral("nowhere"));
    QVERIFY(!bar->findNext());
    QCOMPARE(bar->statusText(), QStringLiteral("見つかりません"));
}

QTEST_MAIN(tst_TabState)
#include "tst_tabstate.moc"
