#include "CommandLine.h"
#include "QZQuorvinWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> code = CommandLine::earlyExit(argc, argv))
        return *code;

    QApplication app(argc, argv);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    QZQuorvinWindow window(nullptr, "QZQuorvinWindow");
    if (const std::optional<long long> limit = CommandLine::resultMemoryLimit(argc, argv))
        window.setResultMemoryLimit(*limit);
    if (!window.InitWindow())
        return -1;
    window.show();
    return app.exec();
}
