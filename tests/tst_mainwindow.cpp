#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "TestSupport.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolBar>

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startUpState();
    void actionTable_data();
    void actionTable();
    void declaredInterface();
    void iconsFromImageFolder();
    void findOpensItsBarAndExitCloses();

private:
    // Windows keep their tabs in the working directory: never the build tree.
    ScratchDirectory m_scratch;
};

void tst_MainWindow::startUpState()
{
    ScratchDirectory scratch; // no ./image here
    QZQuorvinWindow window;
    QVERIFY(window.InitWindow());

    QCOMPARE(window.windowTitle(), QStringLiteral("Velquin"));
    QVERIFY(window.width() >= 800 && window.height() >= 600);
    QCOMPARE(window.size(), QSize(qMax(800, window.minimumSizeHint().width()),
                                  qMax(600, window.minimumSizeHint().height())));

    auto *splitter = window.findChild<QSplitter *>(QStringLiteral("m_pSplitter"));
    QVERIFY(splitter);
    QCOMPARE(window.centralWidget(), splitter);
    QCOMPARE(splitter->orientation(), Qt::Vertical);
    QCOMPARE(splitter->count(), 2);
    QCOMPARE(splitter->widget(0)->objectName(), QStringLiteral("m_pTabWidget"));
    QCOMPARE(splitter->widget(1)->objectName(), QStringLiteral("m_pDataTable"));

    auto *tabs = qobject_cast<QZEditTabWidget *>(splitter->widget(0));
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->tabText(0), QStringLiteral("タブ1"));

    auto *grid = qobject_cast<QTableView *>(splitter->widget(1));
    QCOMPARE(grid->model()->rowCount(), 40);
    QCOMPARE(grid->model()->columnCount(), 15);

    QVERIFY(!window.statusBar()->isHidden());
    QCOMPARE(window.statusBar()->currentMessage(), QString());
    emit window.message(QStringLiteral("100% %s 開けました。"));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("100% %s 開けました。"));

    const QList<QMenu *> menus = window.menuBar()->findChildren<QMenu *>();
    QStringList titles;
    for (QAction *a : window.menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{ QStringLiteral("ファイル"), QStringLiteral("編集") }));
    QVERIFY(window.findChild<QMenu *>(QStringLiteral("File Popup Menu")));
    QVERIFY(window.findChild<QMenu *>(QStringLiteral("Edit Popup Menu")));

    const QList<QToolBar *> bars = window.findChildren<QToolBar *>();
    QCOMPARE(bars.size(), 2);
    for (QToolBar *bar : bars)
        QCOMPARE(window.toolBarArea(bar), Qt::TopToolBarArea);
}

void tst_MainWindow::actionTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<QString>("container");

    const QString file = QStringLiteral("File Popup Menu");
    const QString edit = QStringLiteral("Edit Popup Menu");
    const QString bar1 = QStringLiteral("m_pToolBar1");
    const QString bar2 = QStringLiteral("m_pToolBar2");
    QTest::newRow("exit") << "m_pExitAct" << "終了" << QKeySequence() << file;
    QTest::newRow("undo") << "m_pUndoAct" << "元に戻す" << QKeySequence("Ctrl+Z") << edit;
    QTest::newRow("redo") << "m_pRedoAct" << "やり直し" << QKeySequence("Ctrl+Y") << edit;
    QTest::newRow("copy") << "m_pCopyAct" << "コピー" << QKeySequence("Ctrl+C") << edit;
    QTest::newRow("cut") << "m_pCutAct" << "切り取り" << QKeySequence("Ctrl+X") << edit;
    QTest::newRow("paste") << "m_pPasteAct" << "貼り付け" << QKeySequence("Ctrl+V") << edit;
    QTest::newRow("find") << "m_pFindAct" << "Find" << QKeySequence("Ctrl+F") << edit;
    QTest::newRow("connect") << "m_pConnectAct" << "データベースへ接続します" << QKeySequence("Ctrl+N") << bar1;
    QTest::newRow("disconnect") << "m_pDisconnectAct" << "データベースから切断します" << QKeySequence("Ctrl+D") << bar1;
    QTest::newRow("newtab") << "m_pNewTabAct" << "エディタ・タブを追加します" << QKeySequence("Alt+PgUp") << bar1;
    QTest::newRow("closetab") << "m_pCloseTabAct" << "エディタ・タブを減らします" << QKeySequence("Alt+PgDown") << bar1;
    QTest::newRow("clear") << "m_pClearAct" << "エディタをクリアします" << QKeySequence() << bar2;
    QTest::newRow("exec") << "m_pExecAct" << "SQLの実行" << QKeySequence("F5") << bar2;
}

void tst_MainWindow::actionTable()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);
    QFETCH(QString, container);

    QZQuorvinWindow window;
    window.InitWindow();
    auto *action = window.findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->toolTip(), text);
    QCOMPARE(action->shortcut(), shortcut);
    QCOMPARE(action->parent(), &window);

    QWidget *holder = window.findChild<QWidget *>(container);
    QVERIFY(holder);
    QVERIFY(holder->actions().contains(action));
    // Each action lives in exactly one menu or tool bar.
    int places = 0;
    for (QWidget *w : window.findChildren<QWidget *>())
        if ((qobject_cast<QMenu *>(w) || qobject_cast<QToolBar *>(w)) && w->actions().contains(action))
            ++places;
    QCOMPARE(places, 1);
}

void tst_MainWindow::declaredInterface()
{
    const QMetaObject &mo = QZQuorvinWindow::staticMetaObject;
    QCOMPARE(mo.className(), "QZQuorvinWindow");
    QCOMPARE(mo.superClass(), &QMainWindow::staticMetaObject);

    QStringList methods;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        if (m.methodType() == QMetaMethod::Signal || m.methodType() == QMetaMethod::Slot)
            methods << QString::fromLatin1(m.methodSignature());
    }
    QCOMPARE(methods, (QStringList{ "message(QString)", "Open()", "Save()", "SaveAs()", "Print()",
                                    "Exit()", "Find()", "Clear()", "Connect()", "Disconnect()",
                                    "Exec()" }));
    for (int i = mo.methodOffset() + 1; i < mo.methodCount(); ++i)
        QCOMPARE(mo.method(i).access(), QMetaMethod::Protected);
}

void tst_MainWindow::iconsFromImageFolder()
{
    ScratchDirectory scratch;
    {
        QZQuorvinWindow window;
        window.InitWindow();
        for (QAction *a : window.findChild<QToolBar *>(QStringLiteral("m_pToolBar1"))->actions())
            QVERIFY(a->icon().isNull());
    }
    QDir().mkdir(QStringLiteral("image"));
    const QString source = QStringLiteral(VELQUIN_SOURCE_DIR "/image/");
    const QStringList names{ "connect", "disconnect", "newtab", "closetab", "clear", "exec" };
    for (const QString &n : names)
        QVERIFY(QFile::copy(source + n + ".bmp", "image/" + n + ".bmp"));

    QZQuorvinWindow window;
    window.InitWindow();
    const char *actions[] = { "m_pConnectAct", "m_pDisconnectAct", "m_pNewTabAct",
                              "m_pCloseTabAct", "m_pClearAct", "m_pExecAct" };
    for (const char *a : actions) {
        const QIcon icon = window.findChild<QAction *>(QString::fromLatin1(a))->icon();
        QVERIFY2(!icon.isNull(), a);
    }
}

void tst_MainWindow::findOpensItsBarAndExitCloses()
{
    QZQuorvinWindow window;
    window.InitWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    setEditorText(window, QStringLiteral("select 1"));
    QSignalSpy spy(&window, &QZQuorvinWindow::message);

    triggerAction(window, "m_pFindAct");
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("FindBar"))->isVisible());
    QCOMPARE(spy.size(), 0);
    QVERIFY(window.isVisible());

    triggerAction(window, "m_pExitAct");
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
