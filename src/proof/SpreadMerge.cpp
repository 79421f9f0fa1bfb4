#include "proof/SpreadMerge.h"

#include "common/TextHelpers.h"
#include "proof/DeliveryLedger.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace {
// A count a program wrote; anything else (negative, fractional, text) is 0.
std::uint64_t Count(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const qint64 number = value.toInteger(-1);
    return number < 0 ? 0 : static_cast<std::uint64_t>(number);
}

std::string Text(const QJsonValue &value)
{
    return value.toString().toStdString();
}

std::string Messages(std::uint64_t count)
{
    return GroupedCount(count) + (count == 1 ? " message" : " messages");
}

bool IsReceiverReport(const QJsonObject &object)
{
    return object["shards"].isArray() && object["streams"].isArray() && object.contains("tail_lost");
}

bool IsSenderSummary(const QJsonObject &object)
{
    return object["sent"].isDouble() && object["shard"].isDouble() && object["shards"].isDouble();
}

struct ReceivedStream {
    std::uint64_t shard = 0;
    std::uint64_t received = 0;
    bool claimed = false;
};

using StreamKey = std::pair<std::string, std::uint64_t>; // run, stream

void Add(std::uint64_t &sum, std::uint64_t value)
{
    sum = CappedSum(sum, value);
}

void AddFigures(ShardFigures &total, const ShardFigures &shard)
{
    Add(total.senders, shard.senders);
    Add(total.sent, shard.sent);
    Add(total.reconnects, shard.reconnects);
    Add(total.unknownFate, shard.unknownFate);
    Add(total.received, shard.received);
    Add(total.lost, shard.lost);
    Add(total.lostInGaps, shard.lostInGaps);
    Add(total.duplicates, shard.duplicates);
    Add(total.suspectJumps, shard.suspectJumps);
    total.incomplete = total.incomplete || shard.incomplete;
    if (shard.targetReached)
        total.targetReached = total.targetReached.value_or(true) && *shard.targetReached;
}

class Merger {
public:
    explicit Merger(SpreadMerge &merge) : m_merge(merge) {}

    void Sort(const std::vector<LogDocument> &documents)
    {
        std::vector<QJsonObject> reports;
        for (const LogDocument &document : documents) {
            if (IsReceiverReport(document.object)) {
                if (std::find(reports.begin(), reports.end(), document.object) == reports.end()) {
                    reports.push_back(document.object);
                    m_merge.receiverReports.push_back(document.where);
                }
            } else if (IsSenderSummary(document.object)) {
                // The same log given twice; senders may share a --run-id.
                if (!m_summaries.insert(QJsonDocument(document.object).toJson(QJsonDocument::Compact)).second)
                    ++m_merge.repeatedSummaries;
                else
                    m_senders.push_back(document);
            } else {
                ++m_merge.otherDocuments;
            }
        }
        m_merge.senderSummaries = m_senders.size();
        if (!reports.empty())
            m_report = reports.front();
    }

    void Join()
    {
        ReadReport();
        std::set<std::uint64_t> shardCounts;
        for (const LogDocument &sender : m_senders) {
            shardCounts.insert(Count(sender.object["shards"]));
            Sender(sender);
        }
        if (shardCounts.size() > 1) {
            std::string counts;
            for (const std::uint64_t count : shardCounts)
                counts += (counts.empty() ? "" : ", ") + std::to_string(count);
            m_merge.problems.push_back("the senders were not of one run: they name different numbers of shards (" +
                                       counts + ")");
        }
        const std::uint64_t expected = shardCounts.empty() ? 0 : *shardCounts.rbegin();
        std::uint64_t named = 0;
        for (const auto &[number, shard] : m_shards)
            named += number < expected && shard.senders > 0;
        if (named < expected)
            m_merge.problems.push_back("the senders name " + std::to_string(expected) + " shards, but only " +
                                       std::to_string(named) + " of them have a sender's summary");
        Unclaimed();
        for (auto &[number, shard] : m_shards) {
            Judge(shard);
            AddFigures(m_merge.total, shard);
            m_merge.shards.push_back(std::move(shard));
        }
        // The receiver's total holds the tail it missed against --expect too.
        m_merge.total.lost = std::max(m_merge.total.lost, Count(m_report["lost"]));
    }

private:
    ShardFigures &Shard(std::uint64_t number)
    {
        auto [at, added] = m_shards.try_emplace(number);
        at->second.shard = number;
        return at->second;
    }

    void ReadReport()
    {
        for (const QJsonValue &value : m_report["shards"].toArray()) {
            const QJsonObject object = value.toObject();
            ShardFigures &shard = Shard(Count(object["shard"]));
            Add(shard.received, Count(object["received"]));
            Add(shard.lostInGaps, Count(object["lost"]));
            Add(shard.duplicates, Count(object["duplicates"]));
            Add(shard.suspectJumps, Count(object["suspect_jumps"]));
        }
        for (const QJsonValue &value : m_report["streams"].toArray()) {
            const QJsonObject object = value.toObject();
            ReceivedStream &stream = m_streams[{Text(object["run"]), Count(object["stream"])}];
            stream.shard = Count(object["shard"]);
            Add(stream.received, Count(object["received"]));
        }
        const auto failIf = [this](const char *key, const std::string &what) {
            if (const std::uint64_t count = Count(m_report[key]))
                m_merge.problems.push_back("the receiver " + what + ": " + GroupedCount(count));
        };
        failIf("untracked_stamps", "had stamps it did not check (beyond --max-streams)");
        failIf("forged", "had forged stamps");
        failIf("malformed_stamps", "could not read stamps");
        if (m_report.contains("error"))
            m_merge.problems.push_back("the receiver failed: " + Text(m_report["error"]));
    }

    void Sender(const LogDocument &document)
    {
        const QJsonObject &object = document.object;
        ShardFigures &shard = Shard(Count(object["shard"]));
        ++shard.senders;
        const std::uint64_t sent = Count(object["sent"]);
        Add(shard.sent, sent);
        Add(shard.reconnects, Count(object["reconnects"]));
        Add(shard.unknownFate, Count(object["unknown_fate"]));
        // Only stream and RELP senders count messages of unknown fate.
        if (!object.contains("unknown_fate"))
            shard.datagrams = true;
        if (object["target_reached"].isBool())
            shard.targetReached = shard.targetReached.value_or(true) && object["target_reached"].toBool();
        const std::string who = "the sender in " + document.where;
        if (const qint64 status = object["exit_status"].toInteger(0); status != 0)
            shard.problems.push_back(who + " exited with status " + std::to_string(status) +
                                     (object.contains("error") ? ": " + Text(object["error"]) : ""));
        const std::string run = Text(object["run_id"]);
        if (run.empty()) {
            shard.problems.push_back(who + " sent without --stamp: its messages cannot be matched");
            return;
        }
        std::uint64_t stamped = 0;
        for (const QJsonValue &value : object["streams"].toArray()) {
            const QJsonObject stream = value.toObject();
            const std::uint64_t number = Count(stream["stream"]);
            const std::uint64_t last = Count(stream["last_seq"]);
            Add(stamped, last);
            std::uint64_t received = 0;
            if (const auto at = m_streams.find({run, number}); at != m_streams.end()) {
                at->second.claimed = true;
                received = at->second.received;
            }
            if (received > last)
                shard.problems.push_back("stream " + std::to_string(number) + " of run " + run + " received " +
                                         GroupedCount(received) + ", more than the " + GroupedCount(last) + " it sent");
            Add(shard.lost, last - std::min(received, last));
        }
        if (sent > stamped)
            shard.problems.push_back(who + " sent " + Messages(sent - stamped) + " without a stamp (HEX= lines)");
        else if (stamped > sent)
            shard.problems.push_back(who + " numbered " + Messages(stamped) + " but sent " + GroupedCount(sent));
    }

    // Streams no sender's summary names: a sender left out, or another run.
    void Unclaimed()
    {
        std::map<std::uint64_t, std::pair<std::uint64_t, std::string>> strays; // shard: messages, a run
        for (const auto &[key, stream] : m_streams) {
            if (stream.claimed)
                continue;
            auto &[messages, run] = strays[stream.shard];
            Add(messages, stream.received);
            if (run.empty())
                run = key.first;
        }
        for (const auto &[number, stray] : strays)
            Shard(number).problems.push_back(Messages(stray.first) + " came on streams of runs no sender's summary " +
                                             "names (run " + stray.second + ")");
    }

    static void Judge(ShardFigures &shard)
    {
        std::vector<std::string> problems;
        // The receiver's own count of the gaps is a floor: the senders'
        // logs may be missing or short.
        shard.lost = std::max(shard.lost, shard.lostInGaps);
        if (shard.senders == 0) {
            problems.push_back("no sender's summary names this shard: its sender summary is missing");
            shard.incomplete = shard.received > 0 || shard.lost > 0;
        }
        if (shard.received == 0 && shard.sent > 0)
            problems.push_back("the receiver did not report it");
        if (shard.lost > shard.unknownFate) {
            std::string why = shard.unknownFate > 0
                                  ? ", " + GroupedCount(shard.lost - shard.unknownFate) + " more than the " +
                                        GroupedCount(shard.unknownFate) + " of unknown fate"
                              : shard.datagrams ? std::string(": UDP gives no word of delivery")
                                                : std::string(" that the senders did not count as of unknown fate");
            problems.push_back(Messages(shard.lost) + " lost" + why);
        }
        if (shard.duplicates > 0)
            problems.push_back(GroupedCount(shard.duplicates) + (shard.duplicates == 1 ? " duplicate" : " duplicates"));
        if (shard.suspectJumps > 0)
            problems.push_back(GroupedCount(shard.suspectJumps) +
                               (shard.suspectJumps == 1 ? " suspect jump" : " suspect jumps"));
        problems.insert(problems.end(), shard.problems.begin(), shard.problems.end());
        shard.problems = std::move(problems);
    }

    SpreadMerge &m_merge;
    QJsonObject m_report;
    std::vector<LogDocument> m_senders;
    std::set<QByteArray> m_summaries;
    std::map<StreamKey, ReceivedStream> m_streams;
    std::map<std::uint64_t, ShardFigures> m_shards;
};
} // namespace

bool SpreadMerge::Reconciled() const
{
    return receiverReports.size() == 1 && senderSummaries > 0 && problems.empty() &&
           std::all_of(shards.begin(), shards.end(), [](const ShardFigures &shard) { return shard.problems.empty(); });
}

SpreadMerge MergeSpreadRun(const std::vector<LogDocument> &documents)
{
    SpreadMerge merge;
    Merger merger(merge);
    merger.Sort(documents);
    if (merge.receiverReports.size() == 1)
        merger.Join();
    return merge;
}
