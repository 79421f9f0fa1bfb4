#include "cli/common/CliProcess.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {
const QString Send = QStringLiteral(QUILLON_SEND_PATH);
const QString Recv = QStringLiteral(QUILLON_RECV_PATH);
// Long enough for a loaded machine under sanitizers; a program past it is
// taken as one that would never end.
constexpr int EndMs = 20000;

std::string ProcFile(qint64 pid, const std::string &name)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/" + name);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The program's own signal thread is up (it starts first in main), and one
// of its descriptors is the file.
bool Opened(qint64 pid, const std::string &path)
{
    const std::string status = ProcFile(pid, "status");
    const std::size_t threads = status.find("Threads:");
    if (threads == std::string::npos || std::stoi(status.substr(threads + 8)) < 2)
        return false;
    const QDir fds(QString::fromStdString("/proc/" + std::to_string(pid) + "/fd"));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System))
        if (QFile::symLinkTarget(fds.filePath(fd)).toStdString() == path)
            return true;
    return false;
}

// Standard input has been read from for a while: past any start-up reading.
bool ReadingInput(qint64 pid)
{
    const std::string io = ProcFile(pid, "io");
    const std::size_t at = io.find("rchar:");
    return at != std::string::npos && std::stoull(io.substr(at + 6)) > (std::uint64_t{16} << 20);
}

// The address space a child may take, set between fork and exec; nothing
// with the address or thread sanitizer, which reserve terabytes of it.
void CapMemory(QProcess &program, rlim_t bytes)
{
    program.setChildProcessModifier([bytes] {
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_AS, &limit);
    });
}
} // namespace

TEST(BoundedInput, AFirstStopSignalEndsEveryLongRead)
{
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string urandom = "/dev/urandom";
    struct Case {
        QString program;
        std::vector<std::string> args;
        std::string input;
        std::function<bool(qint64)> reading;
    };
    const auto fifoOpened = [&fifo](qint64 pid) { return Opened(pid, fifo); };
    const std::vector<Case> cases = {
        {Recv, {"--merge", "-"}, urandom, ReadingInput},
        {Recv, {"--check-file", "-"}, urandom, ReadingInput},
        {Recv, {"--merge", fifo}, "", fifoOpened},
        {Recv, {"--check-file", fifo}, "", fifoOpened},
        {Recv, {"--stamp-key", fifo, "--listen", "udp", "--bind", "127.0.0.1", "--port", "0"}, "", fifoOpened},
        {Send, {"--stamp-key", fifo, "--stamp", "--target", "127.0.0.1", "--count", "1"}, "", fifoOpened},
        {Send, {"--lines-file", fifo, "--target", "127.0.0.1"}, "", fifoOpened},
        {Send, {"--template-file", fifo, "--target", "127.0.0.1", "--count", "1"}, "", fifoOpened},
    };
    for (const Case &c : cases) {
        const std::string name = c.args[0] + " " + c.args[1] + (c.input.empty() ? "" : " < " + c.input);
        QProcess program;
        if (!c.input.empty())
            program.setStandardInputFile(QString::fromStdString(c.input));
        program.start(c.program, Arguments(c.args));
        ASSERT_TRUE(program.waitForStarted()) << name;
        const qint64 pid = program.processId();
        EXPECT_TRUE(WaitUntil([&] { return c.reading(pid); }, EndMs)) << name << ": never began to read";
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        const bool ended = program.waitForFinished(EndMs);
        EXPECT_TRUE(ended) << name << ": still running after SIGTERM";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << name;
        if (!ended) {
            program.kill();
            program.waitForFinished();
        }
    }
}

TEST(BoundedInput, InputPastTheMemoryBudgetIsAUsageError)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than any cap";
#endif
    QTemporaryDir dir;
    const std::string hexes = dir.filePath("hexes.txt").toStdString();
    {
        std::ofstream file(hexes);
        for (int i = 0; i < 100000; ++i)
            file << "${hex:4096} ";
        file << "\n";
    }
    const std::string many = dir.filePath("many.txt").toStdString();
    {
        std::ofstream file(many);
        for (int i = 0; i < 200000; ++i)
            file << "line " << i << " ${int:1:9}\n";
    }
    // A datagram to port 514 the reader finds, in 16 MB that each thread holds.
    const std::string capture = dir.filePath("capture.pcap").toStdString();
    std::ofstream(capture, std::ios::binary)
        << std::string("\x02\x02\x00\x14\x00\x00<13>test message", 22) << std::string(std::size_t{16} << 20, '\0');
    const std::string send = "quillon-send: ";
    struct Case {
        QString program;
        std::vector<std::string> args;
        std::string input;
        rlim_t cap;
        std::string error;
    };
    const rlim_t MB = 1 << 20;
    const std::vector<Case> cases = {
        {Send, {"--template-file", hexes}, "", 1024 * MB, "--template-file: " + hexes + ": the templates need "},
        {Send, {"--template-file", many}, "", 250 * MB, "--template-file: " + many + ": the templates need "},
        {Send, {"--lines-file", "-"}, "/dev/zero", 300 * MB, "--lines-file: standard input: a line longer than 1 MiB"},
        {Send,
         {"--message", "From a Ethereal capture file", "--source-file", capture, "--threads", "16"},
         "",
         300 * MB,
         "--source-file: '" + capture + "' needs "},
        {Send,
         {"--message", "From a Ethereal capture file", "--source-file", "/dev/zero"},
         "",
         150 * MB,
         "--source-file: '/dev/zero' holds more than "},
        {Send,
         {"--message", "From tab delimited text file", "--source-file", "/dev/zero"},
         "",
         150 * MB,
         "--source-file: '/dev/zero' has a line longer than 64 KiB"},
        {Recv, {"--merge", "-"}, "/dev/zero", 300 * MB, "--merge: standard input: the logs need more than "},
    };
    for (const Case &c : cases) {
        const std::string name = c.args[0] + " " + c.args[1];
        std::vector<std::string> args = c.args;
        if (c.program == Send)
            args.insert(args.end(), {"--target", "127.0.0.1", "--count", "1"});
        QProcess program;
        CapMemory(program, c.cap);
        if (!c.input.empty())
            program.setStandardInputFile(QString::fromStdString(c.input));
        program.start(c.program, Arguments(args));
        ASSERT_TRUE(program.waitForStarted()) << name;
        const Outcome outcome = Collect(program);
        EXPECT_EQ(outcome.exitCode, 2) << name << "\n" << outcome.err;
        EXPECT_NE(outcome.err.find(c.error), std::string::npos) << name << "\n" << outcome.err;
        EXPECT_NE(outcome.err.find(c.program == Send ? "quillon-send: " : "quillon-recv: "), std::string::npos);
    }
}
