#include "BenchSection.h"

#include "support/TestCertificates.h"
#include "support/TlsLoopbackServer.h"
#include "transport/SocketEndpoint.h"
#include "transport/TlsContext.h"

#include <QCoreApplication>

#include <openssl/ssl.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>

namespace {
constexpr double RunSeconds = 3.0;
constexpr std::size_t PacketSize = 256;
// As many packets as quillon-send hands over at once.
constexpr std::size_t PacketsPerWrite = 512;
constexpr int EventIntervalMs = 5;

bool WaitFor(const std::function<bool()> &condition, double seconds = 10)
{
    const BenchClock::time_point start = BenchClock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > seconds * 1000)
            return false;
        QCoreApplication::processEvents();
    }
    return true;
}

std::string Buffer()
{
    std::string packet = "<13>";
    packet.append(PacketSize - packet.size() - 1, 'x');
    packet.push_back('\n');
    std::string buffer;
    for (std::size_t i = 0; i < PacketsPerWrite; ++i)
        buffer += packet;
    return buffer;
}

void PrintRate(const std::string &what, double bytes, double ms)
{
    PrintFigure(what, bytes / PacketSize * 1000.0 / ms, "packets/s");
    PrintFigure(what, bytes / (1024.0 * 1024.0) * 1000.0 / ms, "MiB/s");
}

// The endpoint as quillon-send drives it: SendStream of 512 packets at a
// time, events every few milliseconds. Bytes handed over, or 0.
double EndpointRun(const TlsLoopbackServer &server, const std::shared_ptr<const TlsClientContext> &context,
                   const std::string &buffer, double &ms)
{
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    TCP1.SetTls(context);
    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(server.Port());
    if (!TCP1.Connect() || !WaitFor([&] { return TCP1.State() == SocketEndpoint::StateConnected; }))
        return 0;
    PrintNote("session: " + TCP1.NegotiatedTlsVersion() + ", " + TCP1.NegotiatedCipher());
    const std::size_t before = server.ByteCount();
    double handed = 0;
    const BenchClock::time_point start = BenchClock::now();
    BenchClock::time_point lastEvents = start;
    while (MillisecondsSince(start) < RunSeconds * 1000) {
        if (!TCP1.SendStream(buffer))
            break;
        handed += static_cast<double>(buffer.size());
        if (MillisecondsSince(lastEvents) >= EventIntervalMs) {
            QCoreApplication::processEvents();
            lastEvents = BenchClock::now();
        }
    }
    if (!TCP1.FlushPending(10000))
        PrintNote("bytes still pending after 10 s");
    ms = MillisecondsSince(start);
    TCP1.Close();
    if (!WaitFor([&] { return server.ByteCount() - before >= handed; }))
        PrintNote("the receiver did not get every byte within 10 s");
    return handed;
}

// Nothing but SSL_write of one fixed buffer on a blocking socket.
double BareRun(const TlsLoopbackServer &server, const TlsClientContext &context, const std::string &buffer, double &ms)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(server.Port());
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SSL *ssl = SSL_new(context.Native());
    SSL_set_fd(ssl, fd);
    SSL_set1_host(ssl, "localhost");
    double written = 0;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&target), sizeof target) == 0 && SSL_connect(ssl) == 1) {
        const BenchClock::time_point start = BenchClock::now();
        while (MillisecondsSince(start) < RunSeconds * 1000) {
            std::size_t done = 0;
            if (SSL_write_ex(ssl, buffer.data(), buffer.size(), &done) != 1)
                break;
            written += static_cast<double>(done);
        }
        ms = MillisecondsSince(start);
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ::close(fd);
    return written;
}

const BenchSection::Register tlsStream("socket: TLS stream", [] {
    // The bare loop writes with write(), which a vanished receiver would
    // answer with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    const TestCertificates &certificates = MadeCertificates();
    TlsLoopbackServer::Options options;
    options.certFile = certificates.serverCert;
    options.keyFile = certificates.serverKey;
    options.keepBytes = false;
    TlsLoopbackServer server(options);
    TlsSettings settings;
    settings.enabled = true;
    settings.caFile = certificates.caFile;
    TlsSetupError error;
    const auto context = TlsClientContext::Create(settings, error);
    if (!context) {
        PrintNote("no TLS context: " + error.message);
        return;
    }
    const std::string buffer = Buffer();
    double endpointMs = 0, bareMs = 0;
    const double endpointBytes = EndpointRun(server, context, buffer, endpointMs);
    const double bareBytes = BareRun(server, *context, buffer, bareMs);
    if (endpointBytes == 0 || bareBytes == 0) {
        PrintNote("no TLS session to the loopback receiver");
        return;
    }
    PrintRate("SendStream of 512 packets of 256 bytes", endpointBytes, endpointMs);
    PrintRate("bare SSL_write loop, same buffer", bareBytes, bareMs);
    PrintFigure("endpoint / bare loop", (endpointBytes / endpointMs) / (bareBytes / bareMs), "");
});
} // namespace
