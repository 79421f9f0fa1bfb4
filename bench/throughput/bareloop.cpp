// The machine's practical limit: one fixed message sent over and over with
// nothing composed, sendmmsg batches for UDP, large writes for TCP, and for
// TLS SSL_write of the same buffer (whatever version and cipher the receiver
// and OpenSSL agree on by default; the server is not verified).
// For a Unix datagram socket a plain loop of send, one message per call on
// a connected blocking socket, as a local logger writes to /dev/log.
// Prints "messages N bytes M seconds S" when done.
// Usage: bareloop udp|tcp|tls PORT SECONDS SIZE [lf|octet-count]
//        bareloop unix-dgram PATH SECONDS SIZE
// On TCP and TLS a message is SIZE bytes ending in LF, or with octet-count
// SIZE bytes after "SIZE ", as an octet-counted syslog sender frames it.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
int UnixDatagrams(const char *path, double seconds, std::size_t size)
{
    std::string message = "<13>";
    message.append(size - message.size(), 'x');
    sockaddr_un target{};
    target.sun_family = AF_UNIX;
    std::strncpy(target.sun_path, path, sizeof target.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
        std::perror("connect");
        return 1;
    }
    long long messages = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    // The clock is read every 64 sends: reading it costs about as much as one.
    while (std::chrono::steady_clock::now() < end)
        for (int i = 0; i < 64; ++i)
            if (::send(fd, message.data(), message.size(), 0) == static_cast<ssize_t>(message.size()))
                ++messages;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    std::printf("messages %lld bytes %lld seconds %.3f\n", messages, messages * static_cast<long long>(message.size()),
                elapsed);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: bareloop udp|tcp|tls PORT SECONDS SIZE [lf|octet-count]\n"
                             "       bareloop unix-dgram PATH SECONDS SIZE\n");
        return 2;
    }
    if (std::string(argv[1]) == "unix-dgram")
        return UnixDatagrams(argv[2], std::atof(argv[3]), static_cast<std::size_t>(std::atoi(argv[4])));
    const bool octetCount = argc == 6 && std::string(argv[5]) == "octet-count";
    std::signal(SIGPIPE, SIG_IGN);
    const bool udp = std::string(argv[1]) == "udp";
    const bool tls = std::string(argv[1]) == "tls";
    const int port = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]);
    const std::size_t size = static_cast<std::size_t>(std::atoi(argv[4]));

    // A syslog line of the requested size; TCP needs the LF or the count as framing.
    std::string message = "<13>";
    message.append(size - message.size() - 1, 'x');
    message.push_back('\n');
    if (octetCount && !udp) {
        message.back() = 'x';
        message.insert(0, std::to_string(size) + " ");
    }

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (!udp && ::connect(fd, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
        std::perror("connect");
        return 1;
    }
    SSL *session = nullptr;
    if (tls) {
        session = SSL_new(SSL_CTX_new(TLS_client_method()));
        SSL_set_fd(session, fd);
        if (SSL_connect(session) != 1) {
            ERR_print_errors_fp(stderr);
            return 1;
        }
    }

    // The same batch the sender hands over: 512 messages per call.
    constexpr std::size_t Batch = 512;
    std::vector<iovec> buffers(Batch, iovec{message.data(), message.size()});
    std::vector<mmsghdr> headers(Batch);
    for (std::size_t i = 0; i < Batch; ++i) {
        headers[i].msg_hdr.msg_name = &target;
        headers[i].msg_hdr.msg_namelen = sizeof target;
        headers[i].msg_hdr.msg_iov = &buffers[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    std::string stream;
    for (std::size_t i = 0; i < Batch; ++i)
        stream += message;

    long long bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (udp) {
            const int sent = ::sendmmsg(fd, headers.data(), Batch, 0);
            if (sent > 0)
                bytes += static_cast<long long>(sent) * static_cast<long long>(message.size());
        } else if (tls) {
            std::size_t written = 0;
            if (SSL_write_ex(session, stream.data(), stream.size(), &written) != 1)
                break;
            bytes += static_cast<long long>(written);
        } else {
            const ssize_t written = ::write(fd, stream.data(), stream.size());
            if (written > 0)
                bytes += written;
        }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (tls) {
        // Closing with the server's tickets unread would reset the session
        // and drop the last records: end it and read until the server closes.
        SSL_shutdown(session);
        ::shutdown(fd, SHUT_WR);
        char discard[4096];
        while (::read(fd, discard, sizeof discard) > 0) {
        }
    }
    ::close(fd);
    std::printf("messages %lld bytes %lld seconds %.3f\n", bytes / static_cast<long long>(message.size()), bytes,
                elapsed);
    return 0;
}
