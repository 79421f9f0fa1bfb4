#include "cli/recv/RecvProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <csignal>

Receiver::Receiver(const std::vector<std::string> &args)
{
    m_program.start(QStringLiteral(QUILLON_RECV_PATH), Arguments(args));
    EXPECT_TRUE(m_program.waitForStarted());
    while (!m_program.canReadLine() && m_program.waitForReadyRead(10000)) {
    }
    m_first = m_program.readLine().toStdString();
    EXPECT_EQ(m_first.rfind("listening on ", 0), 0u) << m_first << m_program.readAllStandardError().toStdString();
    m_port = std::atoi(m_first.substr(m_first.rfind(':') + 1).c_str());
}

void Receiver::Signal(int number)
{
    ::kill(static_cast<pid_t>(m_program.processId()), number);
}

bool Receiver::WaitForLine(const std::string &prefix)
{
    for (;;) {
        while (!m_program.canReadLine())
            if (!m_program.waitForReadyRead(10000))
                return false;
        const std::string line = m_program.readLine().toStdString();
        m_first += line;
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
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

void SendDatagrams(int port, const std::vector<std::string> &datagrams)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const std::string &datagram : datagrams)
        EXPECT_EQ(::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&target),
                           sizeof target),
                  static_cast<ssize_t>(datagram.size()));
    ::close(fd);
}
