#include "proof/SpreadMerge.h"
#include "cli/recv/SpreadMergeCommand.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <sstream>

namespace {
QJsonObject Object(const std::string &json)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::vector<std::string> Wheres(const LogDocuments &logs)
{
    std::vector<std::string> wheres;
    for (const LogDocument &document : logs.Documents())
        wheres.push_back(document.where + " " +
                         QJsonDocument(document.object).toJson(QJsonDocument::Compact).toStdString());
    return wheres;
}

// Two senders of 100 messages, shards 0 and 1, and the receiver's report.
struct SpreadRun {
    std::uint64_t received[2] = {100, 100};
    std::uint64_t unknownFate[2] = {0, 0};
    std::uint64_t gapsLost[2] = {0, 0}; // the receiver's own count
    std::uint64_t duplicates = 0;
    bool udp = false;
    int exitStatus = 0;
    std::string strayRun;
    bool secondSender = true;
    bool repeated = false;
    bool oneRunId = false;

    std::vector<LogDocument> Documents() const
    {
        std::vector<LogDocument> documents;
        std::string streams, shards;
        for (int i = 0; i < 2; ++i) {
            const std::string n = std::to_string(i), stream = std::to_string(i * 1000000 + 1);
            const std::string run = oneRunId ? "r" : "r" + n;
            streams += (i ? "," : "") + std::string(R"({"run":")") + run + R"(","stream":)" + stream + R"(,"shard":)" +
                       n + R"(,"received":)" + std::to_string(received[i]) + "}";
            shards += (i ? "," : "") + std::string(R"({"shard":)") + n + R"(,"received":)" +
                      std::to_string(received[i] + (strayRun.empty() ? 0 : 5 * (1 - i))) + R"(,"lost":)" +
                      std::to_string(gapsLost[i]) + R"(,"duplicates":)" + std::to_string(i ? 0 : duplicates) + "}";
            if (i == 0 || secondSender)
                for (int copy = 0; copy < 1 + repeated; ++copy)
                    documents.push_back(
                        {"pod/s-" + n,
                         Object(R"({"sent":100,"shard":)" + n + R"(,"shards":2,"run_id":")" + run +
                                R"(","streams":[{"stream":)" + stream + R"(,"last_seq":100}],)" +
                                R"("target_reached":true,"exit_status":)" + std::to_string(i ? exitStatus : 0) +
                                (udp ? "" : R"(,"unknown_fate":)" + std::to_string(unknownFate[i])) + "}")});
        }
        if (!strayRun.empty())
            streams += R"(,{"run":")" + strayRun + R"(","stream":1,"shard":0,"received":5})";
        documents.push_back(
            {"recv", Object(R"({"tail_lost":0,"streams":[)" + streams + R"(],"shards":[)" + shards + "]}")});
        return documents;
    }
};
} // namespace

TEST(SpreadLogs, ReadsTheDocumentsOfKubectlLogsWhateverTheCuts)
{
    const std::string text = "[pod/r/quillon-recv] listening on tcp 0.0.0.0:5140\n"
                             "[pod/r/quillon-recv] 2024-05-01T12:00:00.123456789Z {\"a\":1}\n"
                             "[pod/s-0/quillon-send] {\n"
                             "[pod/s-1/quillon-send] {\"b\":2}\n"
                             "[pod/s-0/quillon-send]   \"c\": 3\n"
                             "[pod/s-0/quillon-send] }\n"
                             "{\"cut short\":\n"
                             "{\"d\":4}\r\n"
                             "a warning\n"
                             "{\"e\":5}";
    const std::vector<std::string> expected = {"pod/r/quillon-recv {\"a\":1}", "pod/s-1/quillon-send {\"b\":2}",
                                               "pod/s-0/quillon-send {\"c\":3}", "log:8 {\"d\":4}", "log:10 {\"e\":5}"};
    for (const std::size_t cut : {text.size(), std::size_t{1}}) {
        LogDocuments logs;
        logs.Begin("log");
        for (std::size_t at = 0; at < text.size(); at += cut)
            logs.Feed(std::string_view(text).substr(at, cut));
        logs.End();
        EXPECT_EQ(Wheres(logs), expected) << "fed " << cut << " bytes at a time";
        const LogLineCounts &c = logs.Counts();
        EXPECT_EQ(c.unreadable, 1u);
        EXPECT_EQ(c.lines, c.documentLines + c.unreadableLines + c.otherLines);
    }
}

TEST(SpreadMerge, ReconcilesOnlyWhatWasSentAndArrivedOrIsOfUnknownFate)
{
    const std::vector<std::tuple<const char *, std::function<void(SpreadRun &)>, std::string>> cases = {
        {"all arrived", [](SpreadRun &) {}, ""},
        {"a summary given twice", [](SpreadRun &r) { r.repeated = true; }, ""},
        {"senders of one --run-id", [](SpreadRun &r) { r.oneRunId = true; }, ""},
        {"lost, all of unknown fate",
         [](SpreadRun &r) {
             r.received[1] = 90;
             r.unknownFate[1] = 12;
         },
         ""},
        {"lost beyond unknown fate",
         [](SpreadRun &r) {
             r.received[1] = 90;
             r.unknownFate[1] = 4;
         },
         "1: 10 messages lost, 6 more than the 4 of unknown fate"},
        {"duplicates", [](SpreadRun &r) { r.duplicates = 3; }, "0: 3 duplicates"},
        {"a failed sender", [](SpreadRun &r) { r.exitStatus = 1; }, "1: the sender in pod/s-1 exited with status 1"},
        {"another run's stream", [](SpreadRun &r) { r.strayRun = "old"; }, "0: 5 messages came on streams of runs no"},
        {"a sender's summary missing", [](SpreadRun &r) { r.secondSender = false; }, "1: no sender's summary names"},
        {"lost over UDP",
         [](SpreadRun &r) {
             r.received[1] = 90;
             r.udp = true;
         },
         "1: 10 messages lost: UDP gives no word of delivery"},
    };
    for (const auto &[name, change, problem] : cases) {
        SpreadRun run;
        change(run);
        const SpreadMerge merge = MergeSpreadRun(run.Documents());
        std::string problems;
        for (const ShardFigures &shard : merge.shards)
            for (const std::string &text : shard.problems)
                problems += std::to_string(shard.shard) + ": " + text + "\n";
        EXPECT_EQ(merge.Reconciled(), problem.empty()) << name << "\n" << problems;
        EXPECT_NE(problems.find(problem), std::string::npos) << name << "\n" << problems;
        EXPECT_EQ(merge.total.received, run.received[0] + run.received[1] + (run.strayRun.empty() ? 0 : 5)) << name;
    }
}

// The receiver's count of what it missed is a floor however many senders'
// logs were left out, and a total without them says it is incomplete.
TEST(SpreadMerge, ShowsNoLessLossThanTheReceiverMeasured)
{
    SpreadRun run;
    run.secondSender = false;
    run.received[1] = 172581;
    run.gapsLost[1] = 27419;
    QTemporaryDir dir;
    const std::string logs = dir.filePath("run.log").toStdString();
    {
        std::ofstream file(logs);
        for (const LogDocument &document : run.Documents())
            file << QJsonDocument(document.object).toJson(QJsonDocument::Compact).toStdString() << "\n";
    }
    const SpreadMerge merge = MergeSpreadRun(run.Documents());
    EXPECT_EQ(merge.total.lost, 27419u);
    EXPECT_TRUE(merge.total.incomplete);
    std::ostringstream out, err;
    EXPECT_EQ(RunMergeCommand({logs}, false, out, err), 1);
    const std::string text = out.str();
    for (const char *part : {"total (incomplete)", "27,419", "172,681",
                             "the total is incomplete: the sender summary of shard 1 is missing"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

TEST(SpreadMerge, InputThatIsNoRunsLogsIsAUsageError)
{
    QTemporaryDir dir;
    const std::string senderOnly = dir.filePath("sender.log").toStdString();
    std::ofstream(senderOnly) << "[pod/s-0/quillon-send] {\"sent\":1,\"shard\":0,\"shards\":1}\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"/nonexistent/recv.log"}, "cannot read '/nonexistent/recv.log': No such file or directory"},
        {{"/"}, "cannot read '/': Is a directory"},
        {{senderOnly}, "no receiver report"},
    };
    for (const auto &[files, error] : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(RunMergeCommand(files, false, out, err), 2) << error;
        EXPECT_NE(err.str().find(error), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}
