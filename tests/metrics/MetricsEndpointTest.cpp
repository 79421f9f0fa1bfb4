#include "metrics/MetricsEndpoint.h"
#include "cli/probe/ProbeRun.h"
#include "cli/recv/RecvRun.h"
#include "cli/send/SendCommand.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

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
    snapshot.SetGauge(MetricNames::AchievedRate, 12.5);
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
             "# TYPE quillon_achieved_rate gauge\nquillon_achieved_rate{" + labels + "} 12.5\n",
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
