#pragma once

#include "cli/common/CliProcess.h"

#include <string>
#include <vector>

#include <sys/socket.h>

// A quillon-recv listening on loopback; the port comes from its first line.
class Receiver {
public:
    explicit Receiver(const std::vector<std::string> &args);
    int Port() const { return m_port; }
    const std::string &FirstLine() const { return m_first; }
    void Signal(int number);
    // Reads lines until one starts with prefix; they stay in the outcome.
    bool WaitForLine(const std::string &prefix);
    Outcome Finish() { return Collect(m_program, m_first); }

private:
    QProcess m_program;
    std::string m_first;
    int m_port = 0;
};

// A connected loopback TCP socket (127.0.0.1 or ::1).
int Connect(int port, int family = AF_INET);
void Write(int fd, const std::string &bytes);
// Whether the peer closed the socket within the timeout (nothing else came).
bool ClosedByPeer(int fd, int timeoutSeconds = 10);
void SendDatagrams(int port, const std::vector<std::string> &datagrams);
