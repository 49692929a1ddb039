// Takes docs/screenshot.png: the real window on an X display (Xvfb), connected
// through its own dialog (pre-filled from database.ini), a query's rows in
// the grid.
//
//   velquin_screenshot OUTPUT.png "SQL"    (run in the working directory)

#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: velquin_screenshot OUTPUT.png SQL\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const QString sql = QString::fromUtf8(argv[2]);

    QZQuorvinWindow window(nullptr, "QZQuorvinWindow");
    window.InitWindow();
    window.move(0, 0);
    window.resize(1100, 680);
    window.show();
    QTest::qWaitForWindowExposed(&window);
    window.findChild<QSplitter *>(QStringLiteral("m_pSplitter"))->setSizes({ 150, 400, 110 });

    // database.ini names the sandbox, its port in the host field.
    ModalAnswerer ok(QStringLiteral("Connection Dialog"), [](QWidget *dialog) {
        dialog->findChild<QPushButton *>(QStringLiteral("PushButton1"))->click();
    });
    window.findChild<QAction *>(QStringLiteral("m_pConnectAct"))->trigger();
    waitUntil([&] { return window.windowTitle() != QStringLiteral("Velquin"); }, 15000);
    if (!ok.answered() || window.windowTitle() == QStringLiteral("Velquin")) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }
    window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"))->currentPage()->setPlainText(sql);
    window.findChild<QAction *>(QStringLiteral("m_pExecAct"))->trigger();
    QTest::qWait(1500);

    const QPixmap shot = window.screen()->grabWindow(0).copy(window.frameGeometry());
    if (!shot.save(output)) {
        std::fprintf(stderr, "could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
