// Measures start-up with a large kept tab and prints each figure beside the
// reference measured in the same run: reading the same text from disk.
//
//   velquin_tabs_bench [--mb N]      (default 20)

#include "QZEditTabWidget.h"
#include "QZQuorvinWindow.h"
#include "QZTextEdit.h"
#include "TabStateStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--mb"));
    const qsizetype megabytes = at > 0 && at + 1 < args.size() ? args[at + 1].toInt() : 20;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString line = QStringLiteral(
        "insert into 注文 (注文ID, 顧客ID, 商品ID, 数量, メモ) values (1234567, 42, 7, 3, '午前中に配達');\n");
    QString big;
    while (big.toUtf8().size() < megabytes << 20)
        big += line.repeated(1000);
    TabSession session;
    session.tabs = { { QStringLiteral("select 1"), QStringLiteral("タブ1"), 0, {}, false },
                     { big, QStringLiteral("タブ2"), int(big.size() / 2), {}, false } };
    session.current = 1;
    TabStateStore store(dir.path());
    QElapsedTimer timer;
    timer.start();
    if (!store.save(session))
        return 1;
    const double saveMs = timer.nsecsElapsed() / 1e6;

    // Reference: the bare read of the kept text, as cheap as a start-up can be.
    const QString textFile = QDir(QStringLiteral("tabs.d")).entryList(QDir::Files).value(0);
    timer.restart();
    QFile file(QStringLiteral("tabs.d/") + textFile);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const double readMs = timer.nsecsElapsed() / 1e6;
    const QString decoded = QString::fromUtf8(bytes);
    const double readDecodeMs = timer.nsecsElapsed() / 1e6;

    timer.restart();
    QZQuorvinWindow window;
    window.InitWindow();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const double shownMs = timer.nsecsElapsed() / 1e6;
    auto *tabs = window.findChild<QZEditTabWidget *>(QStringLiteral("m_pTabWidget"));
    if (tabs->isLoading()) {
        QSignalSpy done(tabs, &QZEditTabWidget::loadingFinished);
        done.wait(60000);
    }
    const double loadedMs = timer.nsecsElapsed() / 1e6;
    const bool intact = tabs->currentPage()->toPlainText() == decoded;

    std::printf("kept tab: %.1f MB (%lld lines)\n", bytes.size() / 1048576.0,
                static_cast<long long>(big.count(u'\n')));
    std::printf("reference: QFile::readAll %.0f ms, with UTF-8 decoding %.0f ms\n", readMs, readDecodeMs);
    std::printf("window shown and taking input: %.0f ms (target under 1000 ms)\n", shownMs);
    std::printf("whole text in the editor:      %.0f ms (text intact: %s)\n", loadedMs,
                intact ? "yes" : "NO");
    std::printf("saving the tab state once:     %.0f ms\n", saveMs);
    return intact ? 0 : 1;
}
