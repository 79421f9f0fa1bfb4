#include "cli/recv/RecvProcess.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>

Receiver::Receiver(const std::vector<std::string> &args, rlim_t memoryCap, rlim_t fileCap)
    : m_json(std::find(args.begin(), args.end(), "--json") != args.end())
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) // which reserve terabytes of address space
    memoryCap = 0;
#endif
    if (memoryCap > 0 || fileCap > 0)
        m_program.setChildProcessModifier([memoryCap, fileCap] {
            const rlimit memory{memoryCap, memoryCap}, files{fileCap, fileCap};
            if (memoryCap > 0)
                ::setrlimit(RLIMIT_AS, &memory);
            if (fileCap > 0)
                ::setrlimit(RLIMIT_NOFILE, &files);
        });
    m_program.start(QStringLiteral(QUILLON_RECV_PATH), Arguments(args));
    EXPECT_TRUE(m_program.waitForStarted());
    m_program.setReadChannel(m_json ? QProcess::StandardError : QProcess::StandardOutput);
    while (!m_program.canReadLine() && m_program.waitForReadyRead(10000)) {
    }
    m_listening = m_program.readLine().toStdString();
    m_program.setReadChannel(QProcess::StandardOutput);
    EXPECT_EQ(m_listening.rfind("listening on ", 0), 0u)
        << m_listening << m_program.readAllStandardError().toStdString();
    m_port = std::atoi(m_listening.substr(m_listening.rfind(':') + 1).c_str());
    if (!m_json)
        m_out = m_listening;
}

Outcome Receiver::Finish()
{
    Outcome outcome = Collect(m_program, m_out);
    outcome.err = m_progress + outcome.err;
    if (m_json) {
        outcome.err = m_listening + outcome.err;
        // Standard output is the summary alone.
        EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 1) << outcome.out;
    }
    return outcome;
}

void Receiver::Signal(int number)
{
    // A program that already ended has no id: kill(0) would hit this whole process group.
    const auto pid = static_cast<pid_t>(m_program.processId());
    EXPECT_GT(pid, 0) << "the receiver ended early";
    if (pid > 0)
        ::kill(pid, number);
}

bool Receiver::WaitForLine(const std::string &prefix)
{
    m_program.setReadChannel(QProcess::StandardError);
    for (;;) {
        while (!m_program.canReadLine())
            if (!m_program.waitForReadyRead(10000)) {
                m_program.setReadChannel(QProcess::StandardOutput);
                return false;
            }
        const std::string line = m_program.readLine().toStdString();
        m_progress += line;
        if (line.rfind(prefix, 0) == 0) {
            m_program.setReadChannel(QProcess::StandardOutput);
            return true;
        }
    }
}

std::uint64_t Receiver::PeakMemory() const
{
    std::ifstream status("/proc/" + std::to_string(m_program.processId()) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    ADD_FAILURE() << "no VmHWM for the receiver";
    return 0;
}

QJsonObject AwaitJsonLine(const QString &path, const std::function<bool(const QJsonObject &)> &until)
{
    QJsonObject last;
    WaitUntil(
        [&] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return false;
            const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
            last = QJsonDocument::fromJson(lines.back()).object();
            return until(last);
        },
        10000);
    return last;
}

int Connect(int port, int family)
{
    const int fd = ::socket(family, SOCK_STREAM, 0);
    int result = -1;
    if (family == AF_INET6) {
        sockaddr_in6 target{};
        target.sin6_family = AF_INET6;
        target.sin6_port = htons(static_cast<std::uint16_t>(port));
        target.sin6_addr = in6addr_loopback;
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target);
    } else {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<std::uint16_t>(port));
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target);
    }
    EXPECT_EQ(result, 0);
    return fd;
}

void Write(int fd, const std::string &bytes)
{
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

bool ClosedByPeer(int fd, int timeoutSeconds)
{
    const timeval wait{timeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET))
            return true;
        if (got < 0)
            return false;
    }
}
