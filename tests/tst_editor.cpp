#include "QZEditTabWidget.h"
#include "QZTextEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

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

QTEST_MAIN(tst_Editor)
#include "tst_editor.moc"
