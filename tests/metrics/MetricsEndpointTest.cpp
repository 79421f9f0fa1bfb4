#include "metrics/MetricsEndpoint.h"
#include "cli/probe/ProbeRun.h"
#include "cli/recv/RecvRun.h"
#include "cli/send/SendCommand.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <sstream>

using namespace std::string_literals;

namespace {
// The whole answer to GET /metrics, headers included; the server keeps the
// connection open, so the answer ends where its Content-Length says.
std::string Fetch(const std::string &where)
{
    const std::size_t colon = where.rfind(':');
    QTcpSocket socket;
    socket.connectToHost(QString::fromStdString(where.substr(0, colon)),
                         static_cast<quint16>(std::stoi(where.substr(colon + 1))));
    EXPECT_TRUE(socket.waitForConnected(5000));
    socket.write("GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string answer;
    const auto whole = [&answer] {
        const std::size_t body = answer.find("\r\n\r\n");
        const std::size_t length = answer.find("Content-Length: ");
        return body != std::string::npos && length != std::string::npos &&
               answer.size() - body - 4 >= std::stoul(answer.substr(length + 16));
    };
    while (!whole() && socket.waitForReadyRead(5000))
        answer += socket.readAll().toStdString();
    return answer;
}

std::uint16_t PortOf(const std::string &where)
{
    return static_cast<std::uint16_t>(std::stoi(where.substr(where.rfind(':') + 1)));
}

// Everything the endpoint answers to request, up to its close.
std::string Exchange(const std::string &where, const std::string &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, PortOf(where));
    EXPECT_TRUE(socket.waitForConnected(5000));
    socket.write(QByteArray::fromStdString(request));
    std::string answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        answer += socket.readAll().toStdString();
    answer += socket.readAll().toStdString();
    EXPECT_NE(socket.state(), QAbstractSocket::ConnectedState) << "still open after:\n" << answer;
    return answer;
}
} // namespace

TEST(MetricsAddress, PortAloneIsLoopbackAndOnlyAddressLiteralsPass)
{
    const struct {
        const char *text;
        const char *host; // nullptr: refused
        int port;
    } cases[] = {
        {"9100", "127.0.0.1", 9100},
        {"0.0.0.0:9100", "0.0.0.0", 9100},
        {"[::1]:0", "::1", 0},
        {"[::]:65535", "::", 65535},
        {"", nullptr, 0},
        {"65536", nullptr, 0},
        {"::1:9100", nullptr, 0},
        {"[127.0.0.1]:1", nullptr, 0},
        {"localhost:9100", nullptr, 0},
        {"127.0.0.1:", nullptr, 0},
        {"127.0.0.1:9x", nullptr, 0},
        {"-1", nullptr, 0},
    };
    for (const auto &c : cases) {
        const std::optional<MetricsAddress> address = ReadMetricsAddress(c.text);
        ASSERT_EQ(address.has_value(), c.host != nullptr) << c.text;
        if (address) {
            EXPECT_EQ(address->host, c.host) << c.text;
            EXPECT_EQ(address->port, c.port) << c.text;
        }
    }
}

// What a scraper reads: the last snapshot, counters stopped at their cap,
// label values escaped, latency buckets cumulative in seconds.
TEST(MetricsEndpoint, ServesTheLastSnapshotInPrometheusText)
{
    MetricsEndpoint endpoint;
    ASSERT_TRUE(endpoint.Start({"127.0.0.1", 0}));
    MetricsSnapshot snapshot;
    snapshot.labels = {"a\"b\\c", "1/4", "tcp"};
    snapshot.SetCounter(MetricNames::Sent, std::uint64_t{1});
    snapshot.SetCounter(MetricNames::Sent, ~std::uint64_t{0});
    snapshot.SetCounter(MetricNames::Failed, std::int64_t{-3});
    // A summary that counts less than the seconds did leaves the counter where it was.
    snapshot.SetCounter(MetricNames::Sent, std::uint64_t{7});
    snapshot.SetGauge(MetricNames::SendRate, 12.5);
    MetricsSnapshot::Latency latency;
    for (const std::uint64_t us : {50, 300, 20'000'000})
        latency.histogram.Add(us);
    latency.sumUs = 20'000'350;
    snapshot.latency = latency;
    endpoint.Publish(MetricsSnapshot{});
    endpoint.Publish(snapshot);

    const std::string text = Fetch(endpoint.Where());
    const std::string labels = R"(run_id="a\"b\\c",shard="1/4",transport="tcp")";
    for (const std::string &line : {
             "Content-Type: text/plain; version=0.0.4; charset=utf-8"s,
             "# TYPE quillon_sent_total counter\nquillon_sent_total{" + labels + "} 9223372036854775807\n",
             "quillon_failed_total{" + labels + "} 0\n",
             "# TYPE quillon_send_rate gauge\nquillon_send_rate{" + labels + "} 12.5\n",
             "# TYPE quillon_latency_seconds histogram\n"s,
             "quillon_latency_seconds_bucket{" + labels + R"(,le="0.0001"} 1)" + "\n",
             "quillon_latency_seconds_bucket{" + labels + R"(,le="0.00025"} 1)" + "\n",
             "quillon_latency_seconds_bucket{" + labels + R"(,le="10"} 2)" + "\n",
             "quillon_latency_seconds_bucket{" + labels + R"(,le="+Inf"} 3)" + "\n",
             "quillon_latency_seconds_sum{" + labels + "} 20.00035\n",
             "quillon_latency_seconds_count{" + labels + "} 3\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;

    MetricsEndpoint second;
    const Status taken = second.Start(
        {"127.0.0.1", static_cast<std::uint16_t>(std::stoi(endpoint.Where().substr(endpoint.Where().rfind(':') + 1)))});
    EXPECT_FALSE(taken);
    EXPECT_NE(taken.Why().find("in use"), std::string::npos) << taken.Why();
}

// Every program refuses an address that is no address, and one taken, as a
// usage error naming the flag, before it sends or listens.
TEST(MetricsFlags, EveryProgramRefusesABadOrTakenAddress)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(taken.serverPort());
    using Command = std::function<int(const std::vector<std::string> &, std::ostream &, std::ostream &)>;
    const std::pair<Command, std::vector<std::string>> programs[] = {
        {[](auto &args, auto &out, auto &err) { return RunSendCommand(args, out, err); }, {"--count", "1"}},
        {[](auto &args, auto &out, auto &err) { return RunRecvCommand(args, out, err); }, {"--port", "0"}},
        {[](auto &args, auto &out, auto &err) { return RunProbeCommand(args, out, err); }, {"--receive", "tcp:1"}},
    };
    for (const auto &[command, base] : programs) {
        for (const std::string &value : {"bad host:1"s, port}) {
            std::vector<std::string> args = base;
            args.insert(args.end(), {"--metrics-listen", value});
            std::ostringstream out, err;
            EXPECT_EQ(command(args, out, err), 2) << value << ": " << err.str();
            EXPECT_NE(err.str().find("--metrics-listen"), std::string::npos) << err.str();
        }
    }
}

// Only GET and HEAD of /metrics are served, on a connection kept open for
// more; a head or body far larger than a scrape's is refused, then closed.
TEST(MetricsEndpoint, AnswersEachRequestByItsMethodAndSize)
{
    MetricsEndpoint endpoint;
    ASSERT_TRUE(endpoint.Start({"127.0.0.1", 0}));
    MetricsSnapshot snapshot;
    snapshot.SetCounter(MetricNames::Sent, std::uint64_t{1});
    endpoint.Publish(snapshot);
    const std::string get = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
    const std::string close = "Connection: close\r\n\r\n";
    const std::string filler(1000, 'h');
    std::string headers;
    for (int i = 0; i < 17; ++i)
        headers += "X-" + std::to_string(i) + ": " + filler + "\r\n";
    const struct {
        const char *what;
        std::string request;
        std::vector<std::string> holds;
        std::vector<std::string> lacks;
        std::size_t answers = 1;
    } cases[] = {
        {"two GETs, one connection",
         get + "\r\n" + get + close,
         {"HTTP/1.1 200 OK\r\n", "# TYPE quillon_"},
         {"HTTP/1.1 4"},
         2},
        {"HEAD", "HEAD /metrics HTTP/1.1\r\n" + close, {"HTTP/1.1 200 OK\r\n", "Content-Length: "}, {"# TYPE"}},
        {"POST",
         "POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n" + close + "abc",
         {"HTTP/1.1 405 ", "Allow: GET, HEAD\r\n"},
         {"# TYPE"}},
        {"another path", "GET /other HTTP/1.1\r\n" + close, {"HTTP/1.1 404 "}, {"# TYPE"}},
        {"request line of 9 KiB",
         "GET /metrics?" + std::string(9 * 1024, 'q') + " HTTP/1.1\r\n" + close,
         {"HTTP/1.1 431 ", "Connection: close\r\n"},
         {"# TYPE"}},
        {"17 KiB of headers", get + headers + close, {"HTTP/1.1 431 "}, {"# TYPE"}},
        // 9 + 8,192 + 8,184 bytes: one over, the last line's LF the one.
        {"headers one byte over",
         get + "X: " + std::string(8187, 'a') + "\r\nY: " + std::string(8179, 'b') + "\r\n" + close,
         {"HTTP/1.1 431 "},
         {"# TYPE"}},
        {"body of 1 MiB", get + "Content-Length: 1048576\r\n" + close, {"HTTP/1.1 413 "}, {"# TYPE"}},
        {"no request line", "hello\r\n\r\n", {"HTTP/1.1 400 "}, {"# TYPE"}},
    };
    for (const auto &c : cases) {
        const std::string answer = Exchange(endpoint.Where(), c.request);
        for (const std::string &text : c.holds)
            EXPECT_NE(answer.find(text), std::string::npos) << c.what << ": " << text << "\nin:\n" << answer;
        for (const std::string &text : c.lacks)
            EXPECT_EQ(answer.find(text), std::string::npos) << c.what << ": " << text << "\nin:\n" << answer;
        std::size_t answers = 0;
        for (std::size_t at = 0; (at = answer.find("HTTP/1.1 ", at)) != std::string::npos; ++at)
            ++answers;
        EXPECT_EQ(answers, c.answers) << c.what << "\n" << answer;
    }
}

// A header that never ends is answered and the connection closed after a
// bounded read, long before the 64 MB the peer would send.
TEST(MetricsEndpoint, StopsReadingAnEndlessHeader)
{
    MetricsEndpoint endpoint;
    ASSERT_TRUE(endpoint.Start({"127.0.0.1", 0}));
    const int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(peer, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(PortOf(endpoint.Where()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_TRUE(::connect(peer, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 || errno == EINPROGRESS);

    constexpr std::size_t Endless = std::size_t{64} << 20;
    std::string chunk = "GET /metrics HTTP/1.1\r\nX-Endless: ";
    chunk.resize(64 * 1024, 'e');
    std::size_t sent = 0;
    bool sending = true;
    std::string answer;
    for (bool open = true; open;) {
        pollfd wait{peer, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        ASSERT_EQ(::poll(&wait, 1, 10'000), 1) << "no answer after " << sent << " bytes";
        if (wait.revents & (POLLIN | POLLHUP | POLLERR)) {
            char got[4096];
            const ssize_t read = ::recv(peer, got, sizeof got, 0);
            if (read > 0)
                answer.append(got, static_cast<std::size_t>(read));
            open = read > 0 || (read < 0 && errno == EAGAIN);
        }
        if (sending && (wait.revents & POLLOUT)) {
            const ssize_t wrote = ::send(peer, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (wrote > 0)
                sent += static_cast<std::size_t>(wrote);
            sending = (wrote > 0 || errno == EAGAIN) && sent < Endless;
            chunk.assign(chunk.size(), 'e');
        }
    }
    ::close(peer);
    EXPECT_EQ(answer.rfind("HTTP/1.1 431 ", 0), 0u) << answer;
    EXPECT_LT(sent, Endless / 2);
}
