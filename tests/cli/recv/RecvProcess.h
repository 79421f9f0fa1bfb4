#pragma once

#include <QJsonObject>
#include <QProcess>

#include <cstdint>
#include <string>
#include <vector>

#include <sys/socket.h>

// Running the built quillon-recv (and quillon-send) and talking to it on
// loopback, for the end-to-end tests.
struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    QJsonObject json; // the last line, when it is JSON
};

QStringList Arguments(const std::vector<std::string> &args);
Outcome Collect(QProcess &program, std::string out = {});
Outcome RunToEnd(const QString &path, const std::vector<std::string> &args, const QByteArray &input = {});

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
std::uint64_t Figure(const QJsonObject &object, const char *name);
