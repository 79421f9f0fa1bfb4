#include "cli/recv/DeliveryLedger.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

namespace {
void Add(DeliveryFigures &sum, std::uint64_t received, std::uint64_t lost, std::uint64_t duplicates,
         std::uint64_t reordered)
{
    sum.received += received;
    sum.lost += lost;
    sum.duplicates += duplicates;
    sum.reordered += reordered;
}
} // namespace

bool DeliveryLedger::Key::operator==(const Key &other) const
{
    return stream == other.stream && runLength == other.runLength && std::memcmp(run, other.run, runLength) == 0;
}

std::size_t DeliveryLedger::KeyHash::operator()(const Key &key) const
{
    const std::size_t text = std::hash<std::string_view>{}(std::string_view(key.run, key.runLength));
    return text ^ (std::hash<std::uint64_t>{}(key.stream) * 0x9e3779b97f4a7c15ull);
}

DeliveryLedger::StreamState *DeliveryLedger::Find(const Stamp &stamp)
{
    // Messages come in runs from one stream: the last one is tried first.
    if (m_last < m_records.size()) {
        const Key &last = m_records[m_last].key;
        if (last.stream == stamp.stream && last.runLength == stamp.run.size() &&
            std::memcmp(last.run, stamp.run.data(), stamp.run.size()) == 0)
            return &m_records[m_last];
    }
    Key key;
    key.stream = stamp.stream;
    key.runLength = static_cast<std::uint8_t>(std::min(stamp.run.size(), StampFormat::MaxRunLength));
    std::memcpy(key.run, stamp.run.data(), key.runLength);
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        m_last = found->second;
        return &m_records[m_last];
    }
    if (m_records.size() >= m_limits.maxStreams)
        return nullptr;
    m_index.emplace(key, m_records.size());
    m_records.push_back(StreamState{key, 0, 0, 0, 0, SequenceSet(m_limits.windowBits), {}});
    m_last = m_records.size() - 1;
    return &m_records.back();
}

void DeliveryLedger::Record(const Stamp &stamp, std::int64_t receivedUs)
{
    StreamState *record = Find(stamp);
    if (!record) {
        ++m_untracked;
        return;
    }
    switch (record->seen.Insert(stamp.seq)) {
    case SequenceSet::Mark::Seen:
        ++record->duplicates;
        return;
    case SequenceSet::Mark::TooOld:
        // Older than the window: whether it came before is not known, so it
        // is neither received nor a duplicate, only late.
        ++record->reordered;
        return;
    case SequenceSet::Mark::New:
        break;
    }
    ++record->received;
    ++m_received;
    if (stamp.seq < record->highest)
        ++record->reordered;
    else {
        m_highestSum += stamp.seq - record->highest;
        record->highest = stamp.seq;
    }
    if (receivedUs >= 0)
        record->latency.Add(receivedUs > stamp.sentUs ? static_cast<std::uint64_t>(receivedUs - stamp.sentUs) : 0);
}

LedgerReport DeliveryLedger::Report(std::uint64_t expect) const
{
    LedgerReport report;
    report.untracked = m_untracked;
    LatencyHistogram<std::uint64_t> all;
    std::map<std::uint64_t, std::pair<ShardReport, LatencyHistogram<std::uint64_t>>> shards;
    std::uint64_t highestSum = 0;
    report.streams.reserve(m_records.size());
    for (const auto &record : m_records) {
        StreamReport stream;
        stream.run.assign(record.key.run, record.key.runLength);
        stream.stream = record.key.stream;
        stream.shard = record.key.stream / StampFormat::StreamsPerShard;
        stream.highestSeq = record.highest;
        const std::uint64_t lost = record.highest - std::min(record.highest, record.received);
        Add(stream.figures, record.received, lost, record.duplicates, record.reordered);
        stream.figures.latency = record.latency.Figures();
        Add(report.totals, record.received, lost, record.duplicates, record.reordered);
        all.Merge(record.latency);
        auto &[shard, latency] = shards[stream.shard];
        shard.shard = stream.shard;
        ++shard.streams;
        Add(shard.figures, record.received, lost, record.duplicates, record.reordered);
        latency.Merge(record.latency);
        highestSum += record.highest;
        report.streams.push_back(std::move(stream));
    }
    std::sort(report.streams.begin(), report.streams.end(), [](const StreamReport &a, const StreamReport &b) {
        return a.run != b.run ? a.run < b.run : a.stream < b.stream;
    });
    for (auto &[number, entry] : shards) {
        entry.first.figures.latency = entry.second.Figures();
        report.shards.push_back(entry.first);
    }
    report.tailLost = expect > highestSum ? expect - highestSum : 0;
    report.totals.lost += report.tailLost;
    report.totals.latency = all.Figures();
    return report;
}
