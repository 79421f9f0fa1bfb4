// How fast the receiver checks stamped messages, against bare loops that
// only take the bytes off the socket. Prints figures only.
//
//   quillon-recv-bench [MESSAGES_PER_PASS] [PASSES]
//
// A feeder thread sends stamped RFC 5424 messages (octet counted over TCP,
// one per datagram over UDP) on loopback; the receiving thread is either a
// bare loop (read or recvmmsg, counting bytes) or the receiver's own loop
// (epoll, framing, stamp parsing, the ledger). Each pass renames the run, so
// every message is new to the ledger. "checked in memory" is the receiver's
// work with no socket at all; "keyed" the same with keyed stamps, each MAC
// checked (quillon-recv --stamp-key).
#include "common/Clock.h"
#include "engine/Stamp.h"
#include "engine/StampKey.h"
#include "proof/MessageIntake.h"
#include "proof/ReceiveLoop.h"
#include "transport/FrameSplitter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t RunLength = 8;
constexpr std::size_t Streams = 4;

struct Workload {
    std::vector<std::string> messages;
    // Where each message's run id starts.
    std::vector<std::size_t> runAt;
    std::string stream; // octet counted, back to back
    std::vector<std::size_t> streamRunAt;
    // Keyed stamps: the MAC's digits follow the time's.
    std::optional<StampKey> key;
    std::int64_t sentUs = 0;
    std::vector<std::size_t> macAt;
};

std::string RunName(std::size_t pass)
{
    char name[RunLength + 1];
    std::snprintf(name, sizeof name, "pass%04zu", pass);
    return name;
}

Workload Build(std::size_t count, const std::optional<StampKey> &key = std::nullopt)
{
    Workload work;
    const std::string run = RunName(0);
    const std::int64_t now = SystemClock().EpochMicroseconds();
    work.key = key;
    work.sentUs = now;
    for (std::size_t i = 0; i < count; ++i) {
        std::string message = "<134>1 2024-05-01T12:00:00.000000Z bench-host quillon 4242 - ";
        Stamp stamp{run, i % Streams, i / Streams + 1, now};
        if (key)
            stamp.mac = 0;
        AppendStampElement(message, stamp);
        work.macAt.push_back(message.rfind("\"]") - StampFormat::MacDigits);
        message += " a receiver benchmark message with some text";
        work.runAt.push_back(message.find(run));
        const std::string prefix = std::to_string(message.size()) + " ";
        work.streamRunAt.push_back(work.stream.size() + prefix.size() + work.runAt.back());
        work.stream += prefix + message;
        work.messages.push_back(std::move(message));
    }
    return work;
}

void Rename(Workload &work, std::size_t pass)
{
    const std::string run = RunName(pass);
    std::optional<StampMac> mac;
    if (work.key)
        mac.emplace(*work.key);
    std::string digits;
    for (std::size_t i = 0; i < work.messages.size(); ++i) {
        work.messages[i].replace(work.runAt[i], RunLength, run);
        work.stream.replace(work.streamRunAt[i], RunLength, run);
        if (!mac)
            continue;
        digits.clear();
        AppendStampMac(digits, mac->Of(run, i % Streams, i / Streams + 1, work.sentUs));
        work.messages[i].replace(work.macAt[i], digits.size(), digits);
        work.stream.replace(work.streamRunAt[i] - work.runAt[i] + work.macAt[i], digits.size(), digits);
    }
}

double ThreadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

struct Measured {
    std::uint64_t messages = 0;
    double seconds = 0;
    double cpuSeconds = 0;
};

void Print(const char *label, const Measured &result, double bare = 0)
{
    const double rate = result.seconds > 0 ? static_cast<double>(result.messages) / result.seconds : 0;
    const double perCore = result.cpuSeconds > 0 ? static_cast<double>(result.messages) / result.cpuSeconds : 0;
    std::printf("  %-22s %9.0f messages/s, %9.0f per second of its core  (%llu in %.3f s, %.0f%% of a core)", label,
                rate, perCore, static_cast<unsigned long long>(result.messages), result.seconds,
                result.seconds > 0 ? 100 * result.cpuSeconds / result.seconds : 0);
    if (bare > 0)
        std::printf("  %.2f of bare", rate / bare);
    std::printf("\n");
}

// The one that took less of its core.
Measured Faster(const Measured &a, const Measured &b)
{
    const auto perCore = [](const Measured &r) { return r.cpuSeconds > 0 ? r.messages / r.cpuSeconds : 0; };
    return perCore(b) > perCore(a) ? b : a;
}

Measured InMemory(Workload &work, std::size_t passes)
{
    DeliveryLedger ledger;
    MessageIntake intake(ledger);
    if (work.key)
        intake.RequireKey(*work.key);
    struct Take final : FrameHandler {
        MessageIntake *intake;
        std::int64_t now = 0;
        void OnFrame(std::string_view frame) override { intake->Take(frame, now); }
    } take;
    take.intake = &intake;
    double seconds = 0;
    double cpuSeconds = 0;
    for (std::size_t pass = 1; pass <= passes; ++pass) {
        Rename(work, pass);
        const double cpu = ThreadCpuSeconds();
        const auto start = Clock::now();
        FrameSplitter splitter(Framing::Auto, 65536);
        for (std::size_t at = 0; at < work.stream.size(); at += 256 * 1024) {
            take.now = SystemClock().EpochMicroseconds();
            splitter.Feed(std::string_view(work.stream).substr(at, 256 * 1024), take);
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        cpuSeconds += ThreadCpuSeconds() - cpu;
    }
    if (ledger.Received() != work.messages.size() * passes)
        std::printf("  (in memory: %llu of %zu checked)\n", static_cast<unsigned long long>(ledger.Received()),
                    work.messages.size() * passes);
    return {ledger.Received(), seconds, cpuSeconds};
}

// Feeds every pass over one TCP connection, then closes it.
void FeedTcp(int port, Workload &work, std::size_t passes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in target = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    for (std::size_t pass = 1; pass <= passes; ++pass) {
        Rename(work, pass);
        std::size_t done = 0;
        while (done < work.stream.size()) {
            const ssize_t wrote = ::write(fd, work.stream.data() + done, work.stream.size() - done);
            if (wrote <= 0)
                std::exit(1);
            done += static_cast<std::size_t>(wrote);
        }
    }
    ::close(fd);
}

void FeedUdp(int port, Workload &work, std::size_t passes, std::atomic<bool> &done)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in target = Loopback(port);
    ::connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target);
    constexpr std::size_t Batch = 512;
    std::vector<iovec> vectors(Batch);
    std::vector<mmsghdr> headers(Batch);
    for (std::size_t pass = 1; pass <= passes; ++pass) {
        Rename(work, pass);
        for (std::size_t at = 0; at < work.messages.size(); at += Batch) {
            const std::size_t count = std::min(Batch, work.messages.size() - at);
            for (std::size_t i = 0; i < count; ++i) {
                vectors[i] = {work.messages[at + i].data(), work.messages[at + i].size()};
                headers[i] = {};
                headers[i].msg_hdr.msg_iov = &vectors[i];
                headers[i].msg_hdr.msg_iovlen = 1;
            }
            std::size_t sent = 0;
            while (sent < count) {
                const int n = sendmmsg(fd, headers.data() + sent, static_cast<unsigned>(count - sent), 0);
                if (n > 0)
                    sent += static_cast<std::size_t>(n);
            }
        }
    }
    ::close(fd);
    done = true;
}

Measured BareTcp(Workload &work, std::size_t passes)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener, 1);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    std::thread feeder(FeedTcp, ntohs(address.sin_port), std::ref(work), passes);
    const int fd = ::accept(listener, nullptr, nullptr);
    std::vector<char> buffer(256 * 1024);
    std::uint64_t bytes = 0;
    const double cpu = ThreadCpuSeconds();
    const auto start = Clock::now();
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        bytes += static_cast<std::uint64_t>(got);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    feeder.join();
    ::close(fd);
    ::close(listener);
    return {bytes / work.stream.size() * work.messages.size(), seconds, ThreadCpuSeconds() - cpu};
}

// The receiver's loop until the feeder is done and nothing more comes.
Measured Receiver(bool tcp, Workload &work, std::size_t passes)
{
    DeliveryLedger ledger;
    MessageIntake intake(ledger);
    ListenSettings settings;
    settings.transport = tcp ? TransportKind::Tcp : TransportKind::Udp;
    settings.bind = "127.0.0.1";
    settings.port = 0;
    const SystemClock clock;
    ReceiveLoop loop(settings, intake, clock);
    if (const Status opened = loop.Open(); !opened) {
        std::printf("  %s\n", opened.Why().c_str());
        return {};
    }
    std::atomic<bool> done = false;
    std::thread feeder([&] {
        if (tcp) {
            FeedTcp(loop.Port(), work, passes);
            done = true;
        } else {
            FeedUdp(loop.Port(), work, passes, done);
        }
    });
    const double cpu = ThreadCpuSeconds();
    Clock::time_point first{};
    Clock::time_point last{};
    std::uint64_t seen = 0;
    const std::uint64_t all = work.messages.size() * passes;
    while (seen < all) {
        loop.RunOnce(100);
        const std::uint64_t now = intake.Counts().messages;
        if (now != seen) {
            last = Clock::now();
            if (seen == 0)
                first = last;
            seen = now;
        } else if (done && Clock::now() - last > std::chrono::milliseconds(300)) {
            break;
        }
    }
    const double cpuSeconds = ThreadCpuSeconds() - cpu;
    feeder.join();
    if (tcp && ledger.Received() != all)
        std::printf("  (tcp: %llu of %llu checked)\n", static_cast<unsigned long long>(ledger.Received()),
                    static_cast<unsigned long long>(all));
    return {ledger.Received(), std::chrono::duration<double>(last - first).count(), cpuSeconds};
}

Measured BareUdp(Workload &work, std::size_t passes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    const int size = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    const timeval wait{0, 300000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::atomic<bool> done = false;
    std::thread feeder(FeedUdp, ntohs(address.sin_port), std::ref(work), passes, std::ref(done));
    constexpr std::size_t Batch = 64;
    std::vector<char> buffer(Batch * 65536);
    std::vector<iovec> vectors(Batch);
    std::vector<mmsghdr> headers(Batch);
    for (std::size_t i = 0; i < Batch; ++i) {
        vectors[i] = {buffer.data() + i * 65536, 65536};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    const double cpu = ThreadCpuSeconds();
    Clock::time_point first{};
    Clock::time_point last{};
    std::uint64_t count = 0;
    for (;;) {
        const int got = recvmmsg(fd, headers.data(), Batch, MSG_WAITFORONE, nullptr);
        if (got <= 0) {
            if (done)
                break;
            continue;
        }
        last = Clock::now();
        if (count == 0)
            first = last;
        count += static_cast<std::uint64_t>(got);
    }
    const double cpuSeconds = ThreadCpuSeconds() - cpu;
    feeder.join();
    ::close(fd);
    return {count, std::chrono::duration<double>(last - first).count(), cpuSeconds};
}
} // namespace

int main(int argc, char **argv)
{
    const std::size_t perPass = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 500000;
    const std::size_t passes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 6;
    Workload work = Build(perPass);
    std::printf("quillon-recv-bench: %zu stamped RFC 5424 messages of %zu bytes, %zu passes, %u cores\n", perPass,
                work.messages.front().size(), passes, std::thread::hardware_concurrency());
    std::printf("Checking (framing, stamp, ledger) with no socket\n");
    // Plain and keyed in turn, the best of three each, so a machine that
    // others load slows both alike.
    Workload keyed = Build(perPass, StampKey("a benchmark secret of some length"));
    Measured plain, withKey;
    for (int round = 0; round < 3; ++round) {
        plain = Faster(plain, InMemory(work, passes));
        withKey = Faster(withKey, InMemory(keyed, passes));
    }
    Print("checked in memory", plain);
    Print("keyed, in memory", withKey);
    if (argc > 3 && std::string(argv[3]) == "memory")
        return 0;
    std::printf("TCP, one connection, octet counted\n");
    const Measured bareTcp = BareTcp(work, passes);
    Print("bare read loop", bareTcp);
    const Measured recvTcp = Receiver(true, work, passes);
    Print("receiver, checked", recvTcp,
          bareTcp.seconds > 0 ? static_cast<double>(bareTcp.messages) / bareTcp.seconds : 0);
    std::printf("UDP, one datagram per message (messages the receiver took)\n");
    const Measured bareUdp = BareUdp(work, passes);
    Print("bare recvmmsg loop", bareUdp);
    const Measured recvUdp = Receiver(false, work, passes);
    Print("receiver, checked", recvUdp,
          bareUdp.seconds > 0 ? static_cast<double>(bareUdp.messages) / bareUdp.seconds : 0);
    std::printf("  (UDP sent %zu; bare took %llu, receiver %llu)\n", perPass * passes,
                static_cast<unsigned long long>(bareUdp.messages), static_cast<unsigned long long>(recvUdp.messages));
    return 0;
}
