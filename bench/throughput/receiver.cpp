// Counts what arrives on a loopback port: datagrams (UDP) or messages of a
// TCP or TLS stream (one per LF, or octet-counted frames "LENGTH message")
// and bytes (TLS: decrypted). Prints "ready" once listening, and
// "messages N bytes M" when SIGINT or SIGTERM ends it, after "tls VERSION
// CIPHER" of the first TLS session that sent data.
// Usage: receiver udp|tcp PORT [lf|octet-count]
//        receiver tls PORT lf|octet-count CERT KEY
//        receiver unix-dgram PATH    (datagrams of a Unix socket made at PATH)
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
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

int BoundUnix(const char *path)
{
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    ::unlink(path);
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

// Reads what the connection has now into buffer: the byte count, 0 when
// nothing is there yet, -1 when the connection ended. A TLS session is read
// until OpenSSL has nothing decrypted left, so no record waits in its buffer.
ssize_t ReadSome(int fd, SSL *tls, std::vector<char> &buffer, std::size_t &used)
{
    used = 0;
    if (!tls) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        return got > 0 ? got : -1;
    }
    while (used < buffer.size()) {
        std::size_t got = 0;
        if (SSL_read_ex(tls, buffer.data() + used, buffer.size() - used, &got) == 1) {
            used += got;
            continue;
        }
        const int error = SSL_get_error(tls, 0);
        ERR_clear_error();
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            break;
        return used > 0 ? static_cast<ssize_t>(used) : -1;
    }
    return static_cast<ssize_t>(used);
}

void CountTcp(int listener, bool octetCount, SSL_CTX *tls, long long &messages, long long &bytes,
              std::string &negotiated)
{
    std::vector<pollfd> entries{{listener, POLLIN, 0}};
    std::vector<FrameState> frames(1);
    std::vector<SSL *> sessions(1, nullptr);
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
                SSL *session = nullptr;
                if (tls) {
                    ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) | O_NONBLOCK);
                    session = SSL_new(tls);
                    SSL_set_fd(session, client);
                    SSL_set_accept_state(session);
                }
                sessions.push_back(session);
            }
        }
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (!(entries[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            std::size_t used = 0;
            const ssize_t got = ReadSome(entries[i].fd, sessions[i], buffer, used);
            if (got < 0) {
                SSL_free(sessions[i]);
                ::close(entries[i].fd);
                entries[i].fd = -1;
                continue;
            }
            if (got > 0 && sessions[i] && negotiated.empty())
                negotiated = std::string(SSL_get_version(sessions[i])) + " " + SSL_get_cipher_name(sessions[i]);
            bytes += got;
            messages += octetCount ? CountFrames(frames[i], buffer.data(), static_cast<std::size_t>(got))
                                   : std::count(buffer.data(), buffer.data() + got, '\n');
        }
        for (std::size_t i = entries.size(); i-- > 1;)
            if (entries[i].fd < 0) {
                entries.erase(entries.begin() + static_cast<long>(i));
                frames.erase(frames.begin() + static_cast<long>(i));
                sessions.erase(sessions.begin() + static_cast<long>(i));
            }
    }
}
} // namespace

int main(int argc, char **argv)
{
    const bool tls = argc > 1 && std::string(argv[1]) == "tls";
    if (tls ? argc != 6 : argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: receiver udp|tcp PORT [lf|octet-count]\n"
                             "       receiver tls PORT lf|octet-count CERT KEY\n"
                             "       receiver unix-dgram PATH\n");
        return 2;
    }
    const bool octetCount = argc >= 4 && std::string(argv[3]) == "octet-count";
    SSL_CTX *context = nullptr;
    if (tls) {
        context = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(context, argv[4]) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, argv[5], SSL_FILETYPE_PEM) != 1) {
            ERR_print_errors_fp(stderr);
            return 1;
        }
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // A TLS peer that leaves while OpenSSL answers it is only a closed session.
    std::signal(SIGPIPE, SIG_IGN);
    const bool unixDgram = std::string(argv[1]) == "unix-dgram";
    const bool udp = std::string(argv[1]) == "udp" || unixDgram;
    const int fd = unixDgram ? BoundUnix(argv[2]) : Bound(udp ? SOCK_DGRAM : SOCK_STREAM, std::atoi(argv[2]));
    long long messages = 0;
    long long bytes = 0;
    std::string negotiated;
    // A sender may connect as soon as it reads "ready".
    if (!udp)
        ::listen(fd, 16);
    std::printf("ready\n");
    std::fflush(stdout);
    if (udp)
        CountUdp(fd, messages, bytes);
    else
        CountTcp(fd, octetCount, context, messages, bytes, negotiated);
    if (!negotiated.empty())
        std::printf("tls %s\n", negotiated.c_str());
    std::printf("messages %lld bytes %lld\n", messages, bytes);
    if (unixDgram)
        ::unlink(argv[2]);
    return 0;
}
