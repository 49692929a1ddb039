#include "FindBar.h"
#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "TabStateStore.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QAbstractButton>
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
    void saveFailuresSayWhy_data();
    void saveFailuresSayWhy();
    void closeAsksAfterFailedSave();
    void twoWindowsInOneDirectory();
    void fileChangedUnderneath();
    void noEditWhileLoading();
    void savesKeepModesAndLinks();
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

void clickRole(QWidget *widget, QMessageBox::ButtonRole role)
{
    auto *box = qobject_cast<QMessageBox *>(widget);
    for (QAbstractButton *button : box->buttons())
        if (box->buttonRole(button) == role)
            button->click();
}

// A tmpfs of its own, unmounted again at the end; mounting needs root.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &options)
        : m_mounted(QProcess::execute(QStringLiteral("mount"), { "-t", "tmpfs", "-o", options, "tmpfs", m_dir.path() }) == 0)
    {
    }
    ~SmallDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_dir.path() });
    }
    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

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
    TextFileCodec::Origin origin;
    origin.encoding = TextFileCodec::Encoding::ShiftJis;
    origin.lossless = false;
    origin.ends = { QByteArray("ccnccr"), 'c' };
    origin.stamp = { 12, 34, QByteArray(20, '\x5a') };
    session.tabs = { { QStringLiteral("select 1"), QStringLiteral("タブ1"), 3, {}, false },
                     { big, QStringLiteral("*a.sql"), 7, QStringLiteral("/x/a.sql"), true, origin } };
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
    QVERIFY(b.filePath == QStringLiteral("/x/a.sql") && b.modified);
    QVERIFY(b.origin.encoding == origin.encoding && !b.origin.lossless && b.origin.ends == origin.ends);
    QVERIFY(b.origin.stamp.size == 12 && b.origin.stamp.modifiedMs == 34 && b.origin.stamp.sha1 == origin.stamp.sha1);

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
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<bool>("sure");
    QTest::addColumn<bool>("lossless");

    // Saved unchanged, every file but the lossy ones comes back byte for byte.
    const QString nihongo = QStringLiteral("select 'にほんご'");
    const QByteArray utf8 = nihongo.toUtf8();
    QTest::newRow("utf-8") << utf8 << nihongo << "UTF-8" << true << true;
    QTest::newRow("utf-8 bom") << "\xEF\xBB\xBF" + utf8 << nihongo << "UTF-8 (BOM)" << true << true;
    QByteArray le("\xFF\xFE"), be("\xFE\xFF");
    for (QChar c : nihongo) {
        le += char(c.unicode() & 0xff), le += char(c.unicode() >> 8);
        be += char(c.unicode() >> 8), be += char(c.unicode() & 0xff);
    }
    QTest::newRow("utf-16le bom") << le << nihongo << "UTF-16LE" << true << true;
    QTest::newRow("utf-16be bom") << be << nihongo << "UTF-16BE" << true << true;
    QTest::newRow("shift_jis") << QByteArray("select '\x82\xC9\x82\xD9\x82\xF1\x82\xB2'") << nihongo
                               << "Shift_JIS" << true << true;
    QTest::newRow("euc-jp") << QByteArray("select '\xA4\xCB\xA4\xDB\xA4\xF3\xA4\xB4'") << nihongo
                            << "EUC-JP" << true << true;
    QTest::newRow("shift_jis kanji only, a guess")
        << QByteArray("\x93\xFA\x96\x7B\x8C\xEA") << QStringLiteral("日本語") << "Shift_JIS" << false << true;
    // Valid in both: あい in EUC-JP, half-width ､｢､､ in Shift_JIS.
    QTest::newRow("euc-jp, also valid shift_jis")
        << QByteArray("\xA4\xA2\xA4\xA4") << QStringLiteral("あい") << "EUC-JP" << true << true;
    QTest::newRow("latin-1 read as shift_jis, said to be a guess")
        << QByteArray("select 'caf\xE9s'") << QStringLiteral("select 'caf駸'") << "Shift_JIS" << false << true;
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringLiteral("a\nb\n") << "UTF-8" << true << true;
    QTest::newRow("mixed line ends") << QByteArray("a\r\nb\nc\rd\r\n") << QStringLiteral("a\nb\nc\nd\n")
                                     << "UTF-8" << true << true;
    QTest::newRow("cr only") << QByteArray("a\rb\r") << QStringLiteral("a\nb\n") << "UTF-8" << true << true;
    QTest::newRow("binary") << QByteArray("\x00\x01\x02select", 9) << QStringLiteral("\u0000\u0001\u0002select")
                            << "UTF-8" << false << false;
    QTest::newRow("fits none") << QByteArray("a\xFF\xFE\xFD") << QStringLiteral("a\uFFFD\uFFFD\uFFFD") << "UTF-8"
                               << false << false;
}

void tst_TabState::openAndSaveBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(bool, sure);
    QFETCH(bool, lossless);

    ScratchDirectory dir;
    writeFile(QStringLiteral("in.sql"), bytes);
    QZEditTabWidget tabs;
    tabs.NewTab();
    QString error;
    QCOMPARE(tabs.openFile(QStringLiteral("in.sql"), &error), QZEditTabWidget::OpenResult::Opened);
    QCOMPARE(tabs.count(), 1); // the empty scratch tab was reused
    QZTextEdit *page = tabs.currentPage();
    QCOMPARE(page->toPlainText(), text);
    QCOMPARE(TextFileCodec::encodingName(page->origin().encoding), encoding);
    QCOMPARE(page->origin().sure, sure);
    QCOMPARE(page->origin().lossless, lossless);
    QCOMPARE(tabs.tabText(0), QStringLiteral("in.sql"));
    QCOMPARE(tabs.saveCurrent(QStringLiteral("in.sql"), &error), QZEditTabWidget::SaveResult::Saved);
    if (lossless)
        QCOMPARE(readAll(QStringLiteral("in.sql")), bytes);

    // Chosen by hand, the Latin-1 file reads as written; a character Latin-1
    // cannot hold is not written at all.
    if (QTest::currentDataTag() == QByteArray("latin-1 read as shift_jis, said to be a guess")) {
        const auto latin1 = TextFileCodec::Encoding::Latin1;
        QCOMPARE(tabs.openFile(QStringLiteral("in.sql"), &error, &latin1), QZEditTabWidget::OpenResult::Opened);
        QCOMPARE(page->toPlainText(), QStringLiteral("select 'cafés'"));
        page->insertPlainText(QStringLiteral("日本"));
        QCOMPARE(tabs.saveCurrent(QStringLiteral("in.sql"), &error), QZEditTabWidget::SaveResult::DoesNotFit);
        QCOMPARE(readAll(QStringLiteral("in.sql")), bytes);
    }
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
    QCOMPARE(tabs.saveCurrent(QStringLiteral("q.sql"), &error), QZEditTabWidget::SaveResult::Saved);
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
    const auto saved = tabs.saveCurrent(QStringLiteral("q.sql"), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    QCOMPARE(saved, QZEditTabWidget::SaveResult::Failed);
    QCOMPARE(error, QStringLiteral("ファイルの大きさの上限を超えました"));
    QCOMPARE(readAll(QStringLiteral("q.sql")), QByteArray("old"));
    QCOMPARE(QDir().entryList(QDir::Files), QStringList{ "q.sql" });
    QCOMPARE(tabs.saveCurrent(QStringLiteral("no/such/dir/q.sql"), &error), QZEditTabWidget::SaveResult::Failed);
}

void tst_TabState::saveFailuresSayWhy_data()
{
    QTest::addColumn<QString>("mountOptions");
    QTest::addColumn<QString>("reason");
    QTest::newRow("disk full") << "size=64k" << "ディスクの空きがありません";
    QTest::newRow("read-only file system") << "size=1m,ro" << "読み取り専用のファイルシステムです";
}

void tst_TabState::saveFailuresSayWhy()
{
    QFETCH(QString, mountOptions);
    QFETCH(QString, reason);
    SmallDisk disk(mountOptions);
    if (!disk.mounted())
        QSKIP("cannot mount a small tmpfs here (needs root): the words for a full disk go untested");
    TabStateStore store(disk.path());
    QVERIFY(!store.save({ { { QString(100 * 1024, u'x'), QStringLiteral("タブ1"), 0, {}, false } }, 0 }));
    QCOMPARE(store.errorString(), reason);
}

void tst_TabState::closeAsksAfterFailedSave()
{
    SmallDisk disk(QStringLiteral("size=64k"));
    if (!disk.mounted())
        QSKIP("cannot mount a small tmpfs here (needs root)");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(disk.path());
    {
        auto window = startWindow();
        window->show();
        editorOf(*window)->setPlainText(QString(100 * 1024, u'x'));
        QString informative;
        ModalAnswerer cancel(QStringLiteral("TabSaveFailedMessageBox"), [&](QWidget *box) {
            informative = qobject_cast<QMessageBox *>(box)->informativeText();
            clickRole(box, QMessageBox::RejectRole);
        });
        QVERIFY(!window->close());
        QVERIFY2(cancel.answered() && informative.contains(QStringLiteral("タブ1")), qPrintable(informative));
        // With room on the disk again, the window closes and keeps the text.
        editorOf(*window)->setPlainText(QStringLiteral("short enough"));
        QVERIFY(window->close());
    }
    QVERIFY(readAll(QStringLiteral("tabs.json")).contains("short enough"));
    QDir::setCurrent(previous);
}

void tst_TabState::twoWindowsInOneDirectory()
{
    ScratchDirectory dir;
    for (int run = 0; run < 2; ++run) {
        auto first = startWindow();
        auto second = startWindow();
        QSignalSpy said(second.get(), &QZQuorvinWindow::message);
        QVERIFY(said.wait(1000) && said.first().first().toString().contains(QStringLiteral("tabs-2.json")));
        if (run == 1) { // started again, each gets its own back
            QCOMPARE(texts(*tabsOf(*first)), QStringList{ "typed in the first" });
            QCOMPARE(texts(*tabsOf(*second)), QStringList{ "typed in the second" });
            break;
        }
        editorOf(*first)->setPlainText(QStringLiteral("typed in the first"));
        editorOf(*second)->setPlainText(QStringLiteral("typed in the second"));
        QVERIFY(second->close() && first->close());
    }
}

void tst_TabState::fileChangedUnderneath()
{
    ScratchDirectory dir;
    writeFile(QStringLiteral("q.sql"), "select 1");
    {
        auto window = startWindow();
        QSignalSpy said(window.get(), &QZQuorvinWindow::message);
        QZEditTabWidget *tabs = tabsOf(*window);
        QString error;
        tabs->openFile(QStringLiteral("q.sql"), &error);
        tabs->currentPage()->insertPlainText(QStringLiteral("-- mine\n"));
        writeFile(QStringLiteral("q.sql"), "select 2 -- theirs");
        QTRY_VERIFY(tabs->tabText(0).startsWith(QStringLiteral("⚠")));
        QVERIFY(said.last().first().toString().contains(QStringLiteral("q.sql")));
        // Save asks first; No leaves their file alone.
        ModalAnswerer no(QStringLiteral("ConfirmOverwriteMessageBox"),
                         [](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); });
        window->findChild<QAction *>(QStringLiteral("m_pSaveAct"))->trigger();
        QVERIFY(no.answered());
        QCOMPARE(readAll(QStringLiteral("q.sql")), QByteArray("select 2 -- theirs"));
        QVERIFY(window->close());
    }
    // Changed again while the program is closed: the restored tab asks
    // which text to take, and the other stays one Undo away.
    writeFile(QStringLiteral("q.sql"), "select 3 -- theirs, later");
    ModalAnswerer takeFile(QStringLiteral("FileChangedMessageBox"),
                           [](QWidget *box) { clickRole(box, QMessageBox::AcceptRole); });
    auto window = startWindow();
    QTRY_VERIFY(takeFile.answered());
    QZTextEdit *page = editorOf(*window);
    QCOMPARE(page->toPlainText(), QStringLiteral("select 3 -- theirs, later"));
    page->undo();
    QCOMPARE(page->toPlainText(), QStringLiteral("-- mine\nselect 1"));
}

void tst_TabState::noEditWhileLoading()
{
    ScratchDirectory dir;
    const QString big = QStringLiteral("select 1;\n").repeated(400 * 1024);
    QVERIFY(TabStateStore(dir.path()).save({ { { big, QStringLiteral("タブ1"), 0, {}, false } }, 0 }));
    auto window = startWindow();
    QZEditTabWidget *tabs = tabsOf(*window);
    QSignalSpy loaded(tabs, &QZEditTabWidget::loadingFinished);
    for (const char *name : { "m_pClearAct", "m_pCutAct", "m_pPasteAct", "m_pUndoAct" }) {
        auto *action = window->findChild<QAction *>(QString::fromLatin1(name));
        QVERIFY2(tabs->isLoading() && !action->isEnabled(), name);
        action->setEnabled(true); // and even if it were enabled
        action->trigger();
    }
    tabs->PastSQL();
    QVERIFY(loaded.wait(20000));
    QCOMPARE(editorOf(*window)->toPlainText(), big);
    QVERIFY(window->findChild<QAction *>(QStringLiteral("m_pClearAct"))->isEnabled());
    // Once loaded, PastSQL is an edit that Undo takes back.
    tabs->PastSQL();
    editorOf(*window)->undo();
    QCOMPARE(editorOf(*window)->toPlainText(), big);
}

void tst_TabState::savesKeepModesAndLinks()
{
    ScratchDirectory dir;
    // A link to the state elsewhere is replaced, not written through.
    const auto shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther;
    writeFile(QStringLiteral("elsewhere.json"), "theirs");
    QVERIFY(QFile::setPermissions(QStringLiteral("elsewhere.json"), shared));
    QVERIFY(QFile::link(QStringLiteral("elsewhere.json"), QStringLiteral("tabs.json")));
    QVERIFY(TabStateStore(dir.path()).save({ { { QStringLiteral("s"), QStringLiteral("タブ1"), 0, {}, false } }, 0 }));
    QVERIFY(!QFileInfo(QStringLiteral("tabs.json")).isSymLink());
    QCOMPARE(readAll(QStringLiteral("elsewhere.json")), QByteArray("theirs"));
    QCOMPARE(modeOf(QStringLiteral("elsewhere.json")), shared);
    // A read-only file that root may write stays read-only.
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadOther;
    writeFile(QStringLiteral("ro.sql"), "old");
    QVERIFY(QFile::setPermissions(QStringLiteral("ro.sql"), readOnly));
    QString error;
    TextFileCodec::Stamp stamp;
    if (TextFileCodec::writeFile(QStringLiteral("ro.sql"), "new", &stamp, &error))
        QCOMPARE(modeOf(QStringLiteral("ro.sql")), readOnly);
    else
        QCOMPARE(error, QStringLiteral("書き込む権限がありません"));
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
