#pragma once

#include "cli/common/CliProcess.h"
#include "support/LoopbackReceivers.h"

#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>

// A quillon-recv listening on loopback; the port comes from its first line
// (on standard error with --json).
class Receiver {
public:
    // memoryCap: the address space the program may take (ulimit -v), so one
    // that grows with what peers write fails instead of taking the machine;
    // 0 for none, and none with the address or thread sanitizer. fileCap:
    // the files it may open (ulimit -n, hard and soft); 0 for as many as
    // this process.
    explicit Receiver(const std::vector<std::string> &args, rlim_t memoryCap = 0, rlim_t fileCap = 0);
    int Port() const { return m_port; }
    const std::string &FirstLine() const { return m_listening; }
    void Signal(int number);
    // The most memory the program held so far (VmHWM), in bytes.
    std::uint64_t PeakMemory() const;
    // Reads lines of standard error (the progress, with --progress) until one
    // starts with prefix; they stay in the outcome's errors.
    bool WaitForLine(const std::string &prefix);
    Outcome Finish();

private:
    QProcess m_program;
    std::string m_listening;
    std::string m_out;
    // Standard error read by WaitForLine.
    std::string m_progress;
    bool m_json = false;
    int m_port = 0;
};

// The last line of a JSON lines file (none: empty) once `until` holds for it,
// e.g. a receiver's --stats-file showing what arrived.
QJsonObject AwaitJsonLine(const QString &path, const std::function<bool(const QJsonObject &)> &until);

// A connected loopback TCP socket (127.0.0.1 or ::1).
int Connect(int port, int family = AF_INET);
void Write(int fd, const std::string &bytes);
// Whether the peer closed the socket within the timeout (nothing else came).
bool ClosedByPeer(int fd, int timeoutSeconds = 10);
