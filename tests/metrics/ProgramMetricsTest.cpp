#include "metrics/ProgramMetrics.h"
#include "cli/send/CommandLine.h"
#include "cli/send/RunSender.h"
#include "load/SendRun.h"
#include "metrics/PrometheusText.h"
#include "metrics/SendMetricsFeed.h"

#include <QUdpSocket>

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {
// What the endpoint would serve now.
struct TextSink final : MetricsSink {
    std::string text;
    void Publish(const MetricsSnapshot &snapshot) override { text = PrometheusText(snapshot); }
};

// The value of the one series of name with exactly these run and shard.
std::string Value(const std::string &text, const std::string &name, const std::string &run, const std::string &shard)
{
    const std::string head = name + "{run_id=\"" + run + "\",shard=\"" + shard + "\",";
    const auto at = text.find(head);
    if (at == std::string::npos)
        return "none";
    const auto value = text.find("} ", at) + 2;
    return text.substr(value, text.find('\n', value) - value);
}

std::set<std::string> LabelSets(const std::string &text, const std::string &name)
{
    std::set<std::string> sets;
    const std::regex line("(^|\n)" + name + "\\{([^}]*)\\}");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        sets.insert((*it)[2]);
    return sets;
}
} // namespace

// A receiver's stream figures by the run and shard of their stamps: the
// first pairs seen keep their own series for the run, later ones add up
// under "other", and the tail lost against --expect has no run or shard.
TEST(ProgramMetrics, ReceiverSeriesFollowTheStampsRunAndShardWithinABound)
{
    DeliveryLedger ledger;
    TextSink sink;
    RecvMetricsFeed feed(sink, {"", "", "udp"}, ledger);
    const auto record = [&ledger](const std::string &run, std::uint64_t shard, std::uint64_t seq) {
        ledger.Record({run, StreamId(shard, 0), seq, 0}, -1);
    };
    for (const std::uint64_t seq : {1, 2, 4, 2})
        record("a", 0, seq);
    record("a", 2, 1);
    const std::size_t minted = RunShardSeries::MaxSeries + 20;
    std::vector<std::string> runs;
    for (std::size_t i = 0; i < minted; ++i)
        runs.push_back("r" + std::to_string(1000 + i));
    for (const std::string &run : runs)
        record(run, 0, 1);
    feed.Second(1, {}, true);

    struct Expected {
        std::string name, run, shard, value;
    };
    const std::string other(RunShardSeries::Other);
    const std::string inOther = std::to_string(minted + 2 - RunShardSeries::MaxSeries);
    for (const Expected &e : std::vector<Expected>{{"quillon_received_total", "a", "0", "3"},
                                                   {"quillon_duplicates_total", "a", "0", "1"},
                                                   {"quillon_lost", "a", "0", "1"},
                                                   {"quillon_received_total", "a", "2", "1"},
                                                   {"quillon_received_total", other, "", inOther},
                                                   {"quillon_lost", "", "", "0"}})
        EXPECT_EQ(Value(sink.text, e.name, e.run, e.shard), e.value) << e.name << " " << e.run << "/" << e.shard;
    EXPECT_EQ(LabelSets(sink.text, "quillon_received_total").size(), RunShardSeries::MaxSeries + 1);
    EXPECT_EQ(Value(sink.text, "quillon_bytes_total", "", ""), "0");

    // A run that sorts first but came last stays in "other" at the end too.
    record("a", 0, 3);
    record("0", 0, 1);
    feed.Second(2, {}, true);
    const std::set<std::string> during = LabelSets(sink.text, "quillon_received_total");
    RecvSummary summary;
    summary.ledger = ledger.Report(minted + 10);
    feed.Ended(summary);
    EXPECT_EQ(LabelSets(sink.text, "quillon_received_total"), during);
    EXPECT_EQ(Value(sink.text, "quillon_received_total", "a", "0"), "4");
    EXPECT_EQ(Value(sink.text, "quillon_lost", "a", "0"), "0");
    EXPECT_EQ(Value(sink.text, "quillon_received_total", "0", "0"), "none");
    EXPECT_EQ(Value(sink.text, "quillon_received_total", other, ""), std::to_string(std::stoull(inOther) + 1));
    EXPECT_EQ(Value(sink.text, "quillon_lost", "", ""), std::to_string(summary.ledger.tailLost));
    EXPECT_GT(summary.ledger.tailLost, 0u);
}

// Refusals and bytes show each second, not only with the summary: the last
// second's figures, before the summary's, already have them.
TEST(ProgramMetrics, SenderCountersAreLiveBeforeTheSummary)
{
    QUdpSocket closed;
    ASSERT_TRUE(closed.bind(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(closed.localPort());
    closed.close();
    const ParseResult parsed =
        ParseCommandLine({"--transport", "udp", "--target", "127.0.0.1", "--port", port, "--count", "400"});
    ASSERT_EQ(parsed.action, ParseResult::Action::Run) << parsed.error;
    const PreparedSend prepared = PrepareSend(parsed.options, [](const std::string &) {});
    ASSERT_TRUE(prepared.Ready()) << prepared.failure.error;
    TextSink sink;
    SendMetricsFeed feed(sink, {"run", "0/1", "udp"});
    const RunSummary summary = RunLoad(prepared.options, prepared.tls, {&feed});
    ASSERT_GT(summary.refused, 0);
    // A refusal may still come back after the last second's reading.
    const std::string refused = Value(sink.text, "quillon_refused_total", "run", "0/1");
    EXPECT_NE(refused, "none");
    EXPECT_NE(refused, "0");
    EXPECT_EQ(Value(sink.text, "quillon_bytes_total", "run", "0/1"), std::to_string(summary.bytes));
}
