#include "cli/common/StopSignals.h"
#include "cli/recv/RecvRun.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

int main(int argc, char **argv)
{
    // Every connection is a descriptor: take all the system allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    InstallStopSignals();
    std::signal(SIGPIPE, SIG_IGN);
    // The metrics endpoint's thread runs Qt's event loop.
    QCoreApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunRecvCommand(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
