// Counts what arrives on a loopback port: datagrams (UDP) or messages of a
// TCP stream (one per LF, or octet-counted frames "LENGTH message") and
// bytes. Prints "ready" once listening, and "messages N bytes M" when SIGINT
// or SIGTERM ends it.
// Usage: receiver udp|tcp PORT [lf|octet-count]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnSignal(int)
{
    g_stop = 1;
}

int Bound(int type, int port)
{
    const int fd = ::socket(AF_INET, type, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Big enough that a short burst from a fast sender is not dropped while
    // this process waits for the core.
    const int buffer = 64 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

void CountUdp(int fd, long long &messages, long long &bytes)
{
    constexpr int Batch = 256;
    constexpr int Size = 65536;
    std::vector<char> storage(static_cast<std::size_t>(Batch) * Size);
    std::vector<iovec> buffers(Batch);
    std::vector<mmsghdr> headers(Batch);
    for (int i = 0; i < Batch; ++i) {
        buffers[i] = {storage.data() + static_cast<std::size_t>(i) * Size, Size};
        headers[i].msg_hdr.msg_iov = &buffers[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    // After the stop, what is still queued is read too: it arrived in time.
    for (bool draining = false;;) {
        if (g_stop)
            draining = true;
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, draining ? 0 : 100) <= 0) {
            if (draining)
                break;
            continue;
        }
        const int got = ::recvmmsg(fd, headers.data(), Batch, MSG_DONTWAIT, nullptr);
        for (int i = 0; i < got; ++i)
            bytes += headers[i].msg_len;
        if (got > 0)
            messages += got;
    }
}

// Where a connection stands in its octet-counted frames.
struct FrameState {
    long long length = 0;    // the count read so far
    long long remaining = 0; // bytes of the current message still to come
};

// Counts the frames that end in data[0..size).
long long CountFrames(FrameState &state, const char *data, std::size_t size)
{
    long long frames = 0;
    for (std::size_t at = 0; at < size;) {
        if (state.remaining > 0) {
            const auto skip = std::min<long long>(state.remaining, static_cast<long long>(size - at));
            state.remaining -= skip;
            at += static_cast<std::size_t>(skip);
            frames += state.remaining == 0;
        } else if (data[at] == ' ') {
            state.remaining = state.length;
            state.length = 0;
            ++at;
        } else {
            state.length = state.length * 10 + (data[at++] - '0');
        }
    }
    return frames;
}

void CountTcp(int listener, bool octetCount, long long &messages, long long &bytes)
{
    ::listen(listener, 16);
    std::vector<pollfd> entries{{listener, POLLIN, 0}};
    std::vector<FrameState> frames(1);
    std::vector<char> buffer(1 << 20);
    for (bool draining = false;;) {
        if (g_stop)
            draining = true;
        if (::poll(entries.data(), entries.size(), draining ? 0 : 100) <= 0) {
            if (draining)
                break;
            continue;
        }
        if (entries[0].revents & POLLIN) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client >= 0) {
                entries.push_back({client, POLLIN, 0});
                frames.emplace_back();
            }
        }
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (!(entries[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(entries[i].fd, buffer.data(), buffer.size());
            if (got <= 0) {
                ::close(entries[i].fd);
                entries[i].fd = -1;
                continue;
            }
            bytes += got;
            messages += octetCount ? CountFrames(frames[i], buffer.data(), static_cast<std::size_t>(got))
                                   : std::count(buffer.data(), buffer.data() + got, '\n');
        }
        for (std::size_t i = entries.size(); i-- > 1;)
            if (entries[i].fd < 0) {
                entries.erase(entries.begin() + static_cast<long>(i));
                frames.erase(frames.begin() + static_cast<long>(i));
            }
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: receiver udp|tcp PORT [lf|octet-count]\n");
        return 2;
    }
    const bool octetCount = argc == 4 && std::string(argv[3]) == "octet-count";
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const bool udp = std::string(argv[1]) == "udp";
    const int fd = Bound(udp ? SOCK_DGRAM : SOCK_STREAM, std::atoi(argv[2]));
    long long messages = 0;
    long long bytes = 0;
    std::printf("ready\n");
    std::fflush(stdout);
    if (udp)
        CountUdp(fd, messages, bytes);
    else
        CountTcp(fd, octetCount, messages, bytes);
    std::printf("messages %lld bytes %lld\n", messages, bytes);
    return 0;
}
