#include "cli/probe/WatchedCommand.h"

#include <QStringList>

#include <cmath>
#include <csignal>

#include <unistd.h>

WatchedCommand::~WatchedCommand()
{
    if (Running())
        Stop();
}

bool WatchedCommand::Start(const std::string &command, std::string &error)
{
    m_process.setProgram(QStringLiteral("/bin/sh"));
    m_process.setArguments({QStringLiteral("-c"), QStringLiteral("exec ") + QString::fromStdString(command)});
    // The collector's output is its own, as if started by hand.
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process.setChildProcessModifier([] { ::setpgid(0, 0); });
    m_process.start();
    if (!m_process.waitForStarted()) {
        error = "--watch-command: cannot start '" + command + "': " + m_process.errorString().toStdString();
        return false;
    }
    m_started = true;
    return true;
}

int WatchedCommand::Pid() const
{
    return static_cast<int>(m_process.processId());
}

bool WatchedCommand::Running() const
{
    return m_started && m_process.state() != QProcess::NotRunning;
}

std::string WatchedCommand::Stop(double graceSeconds)
{
    if (!m_started)
        return {};
    const pid_t group = static_cast<pid_t>(m_process.processId());
    if (group > 0 && m_process.state() != QProcess::NotRunning) {
        ::kill(-group, SIGTERM);
        if (!m_process.waitForFinished(static_cast<int>(std::lround(graceSeconds * 1000)))) {
            ::kill(-group, SIGKILL);
            m_process.waitForFinished(-1);
            m_started = false;
            return "killed after " + std::to_string(std::lround(graceSeconds)) + " s";
        }
    }
    m_started = false;
    if (m_process.exitStatus() == QProcess::CrashExit)
        return "ended by a signal";
    return "exited with status " + std::to_string(m_process.exitCode());
}
