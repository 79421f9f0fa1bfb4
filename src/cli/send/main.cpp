#include "cli/common/StopSignals.h"
#include "cli/send/SendCommand.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

#include <unistd.h>

int main(int argc, char **argv)
{
    InstallStopSignals();
    // The event loop carries the TCP connection and the socket events.
    QCoreApplication app(argc, argv);
    // librelp writes with plain send(): a RELP session whose receiver died
    // must fail its write, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunSendCommand(args, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1, ::isatty(STDERR_FILENO) == 1);
}
