#include "cli/common/StopSignals.h"
#include "cli/probe/ProbeRun.h"

#include <QCoreApplication>

#include <unistd.h>

#include <iostream>

int main(int argc, char **argv)
{
    InstallStopSignals();
    // The event loop carries the sender's connections in each step.
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunProbeCommand(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
