#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char Usage[] =
    "Usage: velquin [--help] [--version] [--max-result-mb N] [Qt options]\n"
    "A desktop SQL query tool for MySQL and MariaDB. Ctrl+N connects, F5 runs\n"
    "the statement in the editor. The last connection's fields are kept in\n"
    "database.ini in the working directory.\n"
    "\n"
    "  --help       print this text and exit\n"
    "  --version    print the version and exit\n"
    "  --max-result-mb N\n"
    "               the most memory one result may take (default: a quarter of\n"
    "               physical memory); rows past it are not read\n"
    "\n"
    "Other options (-platform NAME, -style NAME, ...) go to Qt.\n";

bool isEmpty(const char *value)
{
    return value == nullptr || *value == '\0';
}

// Platforms that need a display server to talk to; any other (offscreen,
// minimal, vnc, linuxfb, eglfs...) brings its own output.
bool needsDisplayServer(const char *platform, std::size_t length)
{
    for (const char *name : { "xcb", "wayland", "wayland-egl" })
        if (std::strlen(name) == length && std::strncmp(platform, name, length) == 0)
            return true;
    return false;
}

// The value of --max-result-mb, given as "--max-result-mb N" or "=N".
const char *limitArgument(int argc, char *argv[], bool *present)
{
    static const char Name[] = "--max-result-mb";
    *present = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], Name) == 0) {
            *present = true;
            return i + 1 < argc ? argv[i + 1] : nullptr;
        }
        if (std::strncmp(argv[i], Name, sizeof Name - 1) == 0 && argv[i][sizeof Name - 1] == '=') {
            *present = true;
            return argv[i] + sizeof Name;
        }
    }
    return nullptr;
}

std::optional<long long> megabytes(const char *text)
{
    if (isEmpty(text))
        return std::nullopt;
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (*end != '\0' || value <= 0 || value > (1LL << 40))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<int> CommandLine::earlyExit(int argc, char *argv[])
{
    bool limitGiven = false;
    if (const char *limit = limitArgument(argc, argv, &limitGiven);
        limitGiven && !megabytes(limit)) {
        std::fputs("velquin: --max-result-mb takes a whole number of megabytes, 1 or more\n",
                   stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velquin %s\n", VELQUIN_VERSION);
            return 0;
        }
    }
    if (!hasDisplay(argc, argv)) {
        std::fputs("velquin: no display (DISPLAY and WAYLAND_DISPLAY are not set); "
                   "start it from a desktop session, or set QT_QPA_PLATFORM=offscreen\n",
                   stderr);
        return 1;
    }
    return std::nullopt;
}

std::optional<long long> CommandLine::resultMemoryLimit(int argc, char *argv[])
{
    bool given = false;
    const std::optional<long long> mb = megabytes(limitArgument(argc, argv, &given));
    if (!mb)
        return std::nullopt;
    return *mb << 20;
}

bool CommandLine::hasDisplay(int argc, char *argv[])
{
#if defined(__unix__) && !defined(__APPLE__)
    if (!isEmpty(std::getenv("DISPLAY")) || !isEmpty(std::getenv("WAYLAND_DISPLAY")))
        return true;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return !needsDisplayServer(argv[i + 1], std::strcspn(argv[i + 1], ":"));
    // QT_QPA_PLATFORM may list fallbacks ("wayland;xcb"), each with options
    // after a colon; one that needs no display server is enough.
    const char *platforms = std::getenv("QT_QPA_PLATFORM");
    for (const char *p = platforms; !isEmpty(p);) {
        const std::size_t entry = std::strcspn(p, ";");
        const std::size_t name = std::strcspn(p, ";:");
        if (name > 0 && !needsDisplayServer(p, name))
            return true;
        p += entry + (p[entry] == ';' ? 1 : 0);
    }
    return false;
#else
    (void)argc;
    (void)argv;
    return true;
#endif
}
