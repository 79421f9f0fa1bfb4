#include "support/TlsLoopbackServer.h"

#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "transport/TlsConnection.h"
#include "transport/TlsContext.h"

#include <openssl/ssl.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

TlsLoopbackServer::TlsLoopbackServer() : TlsLoopbackServer(Options{})
{}

TlsLoopbackServer::TlsLoopbackServer(const Options &options) : m_options(options), m_holding(options.holdReading)
{
    if (!options.plain) {
        TlsServerSettings settings;
        const bool made = options.certFile.empty();
        settings.certFile = made ? MadeCertificates().serverCert : options.certFile;
        settings.keyFile = made ? MadeCertificates().serverKey : options.keyFile;
        settings.caFile = options.caFile;
        settings.requireClientCertificate = options.requireClientCertificate;
        TlsSetupError error;
        m_context = TlsServerContext::Create(settings, error);
        if (!m_context) {
            std::fprintf(stderr, "TLS test server: %s\n", error.message.c_str());
            return;
        }
        if (options.tls12Only)
            SSL_CTX_set_max_proto_version(m_context->Native(), TLS1_2_VERSION);
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    if (options.ipv6) {
        auto &v6 = reinterpret_cast<sockaddr_in6 &>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        length = sizeof v6;
    } else {
        auto &v4 = reinterpret_cast<sockaddr_in &>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof v4;
    }
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    m_listener = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (options.holdReading) {
        const int small = 4096;
        ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    if (::bind(m_listener, generic, length) != 0 || ::listen(m_listener, 4) != 0 ||
        ::getsockname(m_listener, generic, &length) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
        return;
    m_port = ntohs(options.ipv6 ? reinterpret_cast<sockaddr_in6 &>(address).sin6_port
                                : reinterpret_cast<sockaddr_in &>(address).sin_port);
    m_thread = std::thread([this] { Run(); });
}

TlsLoopbackServer::~TlsLoopbackServer()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_released.notify_all();
        const char stop = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &stop, 1);
        m_thread.join();
    }
    for (int fd : {m_listener, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

// False when the server is stopping.
bool TlsLoopbackServer::WaitFor(int fd, short events) const
{
    pollfd entries[2] = {{fd, events, 0}, {m_wake[0], POLLIN, 0}};
    while (::poll(entries, 2, -1) < 0 && errno == EINTR) {
    }
    return entries[1].revents == 0;
}

bool TlsLoopbackServer::SendAll(int fd, std::string &bytes) const
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
            done += static_cast<std::size_t>(sent);
        else if (sent < 0 && errno != EINTR && errno != EAGAIN)
            break;
        else if (sent < 0 && errno == EAGAIN && !WaitFor(fd, POLLOUT))
            break;
    }
    const bool all = done == bytes.size();
    bytes.clear();
    return all;
}

void TlsLoopbackServer::End(const std::string &text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endText = text;
        ++m_ended;
    }
    m_endings.notify_all();
}

void TlsLoopbackServer::Run()
{
    while (WaitFor(m_listener, POLLIN)) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bytes.clear();
            m_endText.clear();
        }
        m_count = 0;
        ++m_accepted;
        Serve(fd);
        ::close(fd);
    }
}

void TlsLoopbackServer::AwaitRelease()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return !m_holding || m_stopping; });
}

void TlsLoopbackServer::Keep(const char *bytes, std::size_t count)
{
    if (m_options.keepBytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bytes.append(bytes, count);
    }
    m_count += count;
}

void TlsLoopbackServer::ServePlain(int fd)
{
    AwaitRelease();
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got > 0) {
            Keep(buffer.data(), static_cast<std::size_t>(got));
            if (m_options.closeAfter > 0 && m_count >= m_options.closeAfter)
                return End("closed by the server");
        } else if (got == 0)
            return End("the client ended the session");
        else if ((errno != EAGAIN && errno != EINTR) || !WaitFor(fd, POLLIN))
            return End("stopped");
    }
}

void TlsLoopbackServer::Serve(int fd)
{
    if (m_options.plain)
        return ServePlain(fd);
    std::string outgoing;
    TlsConnection tls(*m_context, fd, outgoing);
    for (;;) {
        const TlsConnection::Result result = tls.Handshake();
        SendAll(fd, outgoing);
        if (result == TlsConnection::Result::Done)
            break;
        if (result == TlsConnection::Result::Failed)
            return End(tls.FailureText());
        if (!WaitFor(fd, POLLIN))
            return End("stopped");
    }
    AwaitRelease();
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        std::size_t got = 0;
        const TlsConnection::Result result = tls.Read(buffer.data(), buffer.size(), got);
        SendAll(fd, outgoing);
        if (result == TlsConnection::Result::Done) {
            Keep(buffer.data(), got);
            if (m_options.closeAfter > 0 && m_count >= m_options.closeAfter) {
                tls.Shutdown();
                SendAll(fd, outgoing);
                return End("closed by the server");
            }
            continue;
        }
        if (result == TlsConnection::Result::WantRead) {
            if (!WaitFor(fd, POLLIN))
                return End("stopped");
            continue;
        }
        return End(tls.FailureText());
    }
}

bool TlsLoopbackServer::WaitForBytes(std::size_t count, int timeoutMs) const
{
    return WaitUntil([&] { return m_count >= count; }, timeoutMs);
}

bool TlsLoopbackServer::WaitForSessionEnd(int timeoutMs, bool processEvents) const
{
    const auto ended = [this] { return m_accepted > 0 && m_ended == m_accepted; };
    if (processEvents)
        return WaitUntil(ended, timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_endings.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

void TlsLoopbackServer::Release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
    }
    m_released.notify_all();
}

std::string TlsLoopbackServer::Bytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

std::string TlsLoopbackServer::EndText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endText;
}
