#include "FindBar.h"
#include "QZEditTabWidget.h"
#include "QZTextEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include <functional>

class tst_Editor : public QObject
{
    Q_OBJECT

private slots:
    void tabLabels_data();
    void tabLabels();
    void closingTheOnlyTabGivesAFreshOne();
    void storedTextIsShared();
    void commandsActOnCurrentTabOnly_data();
    void commandsActOnCurrentTabOnly();
    void clearCanBeUndone();
    void keptTextFollowsEdits();
    void largeTextShowsAtOnce_data();
    void largeTextShowsAtOnce();
    void editWhileLoading_data();
    void editWhileLoading();
    void otherEditsWhileLoading();
};

static QZTextEdit *page(QZEditTabWidget &tabs, int i)
{
    return qobject_cast<QZTextEdit *>(tabs.widget(i));
}

static QStringList labels(const QZEditTabWidget &tabs)
{
    QStringList out;
    for (int i = 0; i < tabs.count(); ++i)
        out << tabs.tabText(i);
    return out;
}

// Steps: "n" NewTab, "c" CloseTab, "0".."9" makes that tab current.
void tst_Editor::tabLabels_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("current");

    QTest::newRow("start") << "n" << QStringList{ "タブ1" } << 0;
    QTest::newRow("three") << "nnn" << QStringList{ "タブ1", "タブ2", "タブ3" } << 2;
    QTest::newRow("close middle, labels repeat")
        << "nnn1cn" << QStringList{ "タブ1", "タブ3", "タブ3" } << 2;
    QTest::newRow("close last") << "nnc" << QStringList{ "タブ1" } << 0;
    QTest::newRow("close only") << "nc" << QStringList{ "タブ1" } << 0;
    QTest::newRow("named NewTab is plain") << "N" << QStringList{ "タブ1" } << 0;
    QTest::newRow("close on empty set does nothing") << "c" << QStringList{} << -1;
}

void tst_Editor::tabLabels()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, expected);
    QFETCH(int, current);

    QZEditTabWidget tabs;
    for (QChar step : steps) {
        if (step == 'n')
            tabs.NewTab();
        else if (step == 'N')
            tabs.NewTab(QStringLiteral("ignored"));
        else if (step == 'c')
            tabs.CloseTab();
        else
            tabs.setCurrentIndex(step.digitValue());
    }
    QCOMPARE(labels(tabs), expected);
    QCOMPARE(tabs.currentIndex(), current);
}

void tst_Editor::closingTheOnlyTabGivesAFreshOne()
{
    QZEditTabWidget tabs;
    tabs.NewTab();
    page(tabs, 0)->setPlainText(QStringLiteral("select 1"));
    tabs.CloseTab();
    QCOMPARE(tabs.count(), 1);
    QCOMPARE(tabs.currentPage()->toPlainText(), QString());
}

void tst_Editor::storedTextIsShared()
{
    QZEditTabWidget tabs;
    tabs.NewTab();
    tabs.PastSQL();
    QCOMPARE(tabs.currentPage()->toPlainText(), QStringLiteral(" "));

    tabs.currentPage()->setPlainText(QStringLiteral("select * from 商品"));
    tabs.RecSQL();
    tabs.NewTab();
    tabs.currentPage()->setPlainText(QStringLiteral("other"));
    tabs.PastSQL();
    QCOMPARE(tabs.currentPage()->toPlainText(), QStringLiteral("select * from 商品"));
    QCOMPARE(page(tabs, 0)->toPlainText(), QStringLiteral("select * from 商品"));
}

void tst_Editor::commandsActOnCurrentTabOnly_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected"); // current tab's text afterwards

    QTest::newRow("Clear") << "Clear" << "";
    QTest::newRow("Cut") << "Cut" << "";
    QTest::newRow("Undo") << "Undo" << "";
    QTest::newRow("Copy then Paste") << "CopyPaste" << "second tabsecond tab";
}

void tst_Editor::commandsActOnCurrentTabOnly()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);

    QZEditTabWidget tabs;
    tabs.NewTab();
    tabs.NewTab();
    page(tabs, 0)->setPlainText(QStringLiteral("first tab"));
    page(tabs, 1)->insertPlainText(QStringLiteral("second tab"));
    page(tabs, 0)->selectAll();
    page(tabs, 1)->selectAll();
    QApplication::clipboard()->setText(QStringLiteral("clipboard"));

    if (command == "CopyPaste") {
        tabs.Copy();
        QTextCursor c = page(tabs, 1)->textCursor();
        c.movePosition(QTextCursor::End);
        page(tabs, 1)->setTextCursor(c);
        tabs.Paste();
    } else {
        QVERIFY(QMetaObject::invokeMethod(&tabs, command.toLatin1().constData()));
    }
    QCOMPARE(page(tabs, 1)->toPlainText(), expected);
    QCOMPARE(page(tabs, 0)->toPlainText(), QStringLiteral("first tab"));

    tabs.Redo();
    if (command == "Undo")
        QCOMPARE(page(tabs, 1)->toPlainText(), QStringLiteral("second tab"));
}

void tst_Editor::clearCanBeUndone()
{
    QZEditTabWidget tabs;
    tabs.NewTab();
    tabs.currentPage()->insertPlainText(QStringLiteral("select 1"));
    tabs.Clear();
    QCOMPARE(tabs.currentPage()->toPlainText(), QString());
    tabs.Undo();
    QCOMPARE(tabs.currentPage()->toPlainText(), QStringLiteral("select 1"));
}

// The text the kept state saves is patched edit by edit, not read again:
// after any edit it must be exactly what the editor shows.
void tst_Editor::keptTextFollowsEdits()
{
    QZEditTabWidget tabs;
    tabs.NewTab();
    QZTextEdit *edit = tabs.currentPage();
    edit->setPlainText(QStringLiteral("select 1;\nselect 2;\n"));
    const auto same = [&] { return edit->wholeText() == edit->toPlainText(); };
    QVERIFY(same());
    const std::function<void()> steps[] = {
        [&] { edit->insertPlainText(QStringLiteral("-- a\nb\u00a0c 末尾🍣\n")); },
        [&] { edit->selectAll(); edit->cut(); },
        [&] { edit->undo(); },
        [&] { QTextCursor c(edit->document()); c.setPosition(3); c.setPosition(15, QTextCursor::KeepAnchor);
              c.insertText(QStringLiteral("x\ny")); },
        [&] { tabs.Clear(); },
        [&] { edit->setPlainText(QStringLiteral("replaced")); },
    };
    for (const auto &step : steps) {
        step();
        QVERIFY2(same(), qPrintable(edit->wholeText()));
    }
}

// Past a megabyte a text goes in slices after its first lines.
static QString largeText()
{
    QString text;
    for (int i = 0; i < 100000; ++i)
        text += QStringLiteral("select %1;\n").arg(i);
    return text;
}

static void loadAll(QZTextEdit *edit)
{
    while (!edit->loadSlice()) {
    }
}

void tst_Editor::largeTextShowsAtOnce_data()
{
    QTest::addColumn<bool>("modified");
    QTest::newRow("as in its file") << false;
    QTest::newRow("changed since") << true;
}

void tst_Editor::largeTextShowsAtOnce()
{
    QFETCH(bool, modified);
    const QString big = largeText();
    QZEditTabWidget tabs;
    tabs.NewTab();
    QZTextEdit *edit = tabs.currentPage();
    QSignalSpy done(edit, &QZTextEdit::loadingDone);
    edit->setFilePath(QStringLiteral("/nowhere/big.sql"));
    edit->setWholeText(big, 30, modified);
    const QString label = modified ? QStringLiteral("*big.sql") : QStringLiteral("big.sql");
    // Shown and taking keys before the event loop has run once; the slices
    // going in are no change of the user's.
    QVERIFY(edit->isLoading());
    QVERIFY(!edit->isReadOnly());
    QCOMPARE(edit->document()->firstBlock().text(), QStringLiteral("select 0;"));
    QVERIFY(edit->blockCount() < 100000);
    QCOMPARE(edit->wholeText(), big);
    QCOMPARE(edit->wholeCursor(), 30);
    QCOMPARE(edit->isTextModified(), modified);
    QCOMPARE(tabs.tabText(0), label);
    loadAll(edit);
    QCOMPARE(done.count(), 1);
    QCOMPARE(edit->toPlainText(), big);
    QCOMPARE(edit->textCursor().position(), 30);
    QCOMPARE(edit->document()->isModified(), modified);
    QCOMPARE(tabs.tabText(0), label);
    // Loading is no edit: nothing to undo into a half-loaded text.
    QVERIFY(!edit->document()->isUndoAvailable());
}

void tst_Editor::editWhileLoading_data()
{
    QTest::addColumn<std::function<void(QZTextEdit *, QZEditTabWidget *)>>("edit");
    QTest::addColumn<QString>("prefix"); // what the edit leaves before the text
    const QString first = QStringLiteral("select 0;");
    QTest::newRow("letter") << std::function([](QZTextEdit *e, QZEditTabWidget *) {
        QTest::keyClick(e, Qt::Key_X);
    }) << QStringLiteral("x");
    QTest::newRow("Return") << std::function([](QZTextEdit *e, QZEditTabWidget *) {
        QTest::keyClick(e, Qt::Key_Return);
    }) << QStringLiteral("\n");
    QTest::newRow("Backspace after a move") << std::function([](QZTextEdit *e, QZEditTabWidget *) {
        QTest::keyClick(e, Qt::Key_Right);
        QTest::keyClick(e, Qt::Key_Backspace);
    }) << QString("-");
    QTest::newRow("paste") << std::function([](QZTextEdit *e, QZEditTabWidget *) {
        QApplication::clipboard()->setText(QStringLiteral("-- 貼り付け\n"));
        e->paste();
    }) << QStringLiteral("-- 貼り付け\n");
    QTest::newRow("input method") << std::function([](QZTextEdit *e, QZEditTabWidget *) {
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("注文"));
        QApplication::sendEvent(e, &commit);
    }) << QStringLiteral("注文");
    QTest::newRow("Ctrl+/") << std::function([](QZTextEdit *e, QZEditTabWidget *) {
        e->toggleLineComments();
    }) << QStringLiteral("-- ");
    QTest::newRow("replace all") << std::function([](QZTextEdit *, QZEditTabWidget *t) {
        t->findBar()->findEdit()->setText(QStringLiteral("select 99999;"));
        t->findBar()->replaceEdit()->setText(QStringLiteral("select 'last';"));
        QCOMPARE(t->findBar()->replaceAll(), 1);
    }) << QString();
}

// An edit while the rest is still to come lands on the whole text, as one
// step that Undo takes back.
void tst_Editor::editWhileLoading()
{
    QFETCH(std::function<void(QZTextEdit *, QZEditTabWidget *)>, edit);
    QFETCH(QString, prefix);
    const QString big = largeText();
    QZEditTabWidget tabs;
    tabs.NewTab();
    QZTextEdit *page = tabs.currentPage();
    page->setWholeText(big, 0, false);
    QVERIFY(page->isLoading());
    edit(page, &tabs);
    QVERIFY(!page->isLoading());
    QString expected = big;
    if (prefix == u"-") // the first character removed
        expected.remove(0, 1);
    else if (prefix.isEmpty())
        expected.replace(QStringLiteral("select 99999;"), QStringLiteral("select 'last';"));
    else
        expected.prepend(prefix);
    QCOMPARE(page->toPlainText().size(), expected.size());
    QVERIFY(page->toPlainText() == expected);
    QVERIFY(page->wholeText() == expected);
    QVERIFY(page->document()->isModified());
    page->undo();
    QVERIFY(page->toPlainText() == big);
}

// What goes in by other ways than the keys is kept, and the rest of the
// text still follows what was loaded.
void tst_Editor::otherEditsWhileLoading()
{
    const QString big = largeText();
    QZEditTabWidget tabs;
    tabs.NewTab();
    QZTextEdit *page = tabs.currentPage();
    page->setWholeText(big, 50, false);
    QTest::keyClick(page, Qt::Key_Down); // moves, changes nothing
    QVERIFY(page->isLoading());
    QTextCursor(page->document()).insertText(QStringLiteral("A"));
    QTextCursor end(page->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("Z"));
    const QString expected = u'A' + big + u'Z';
    QVERIFY(page->wholeText() == expected);
    loadAll(page);
    QVERIFY(page->toPlainText() == expected);
    QVERIFY(page->document()->isModified());
    // The user's cursor stays where the user took it.
    QCOMPARE(page->textCursor().blockNumber(), 1);
}

QTEST_MAIN(tst_Editor)
#include "tst_editor.moc"
