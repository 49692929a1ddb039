#pragma once

#include <optional>

// What the program decides from its arguments and environment before any
// QApplication exists: a QApplication without a display aborts the process,
// so --help and --version must be answered, and a missing display reported,
// without one.
class CommandLine
{
public:
    // The exit code when the program is to stop here, having printed what it
    // had to say; nothing when the window is to start. Arguments it does not
    // know are left for the toolkit.
    static std::optional<int> earlyExit(int argc, char *argv[]);
    // --max-result-mb N: the most memory one result may take, in bytes.
    static std::optional<long long> resultMemoryLimit(int argc, char *argv[]);

private:
    static bool hasDisplay(int argc, char *argv[]);
};
