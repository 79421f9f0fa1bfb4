#include "proof/DeliveryLedger.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <map>

namespace {
void Add(DeliveryFigures &sum, const DeliveryFigures &part)
{
    sum.received = CappedSum(sum.received, part.received);
    sum.lost = CappedSum(sum.lost, part.lost);
    sum.duplicates = CappedSum(sum.duplicates, part.duplicates);
    sum.reordered = CappedSum(sum.reordered, part.reordered);
    sum.suspectJumps = CappedSum(sum.suspectJumps, part.suspectJumps);
    sum.untimely = CappedSum(sum.untimely, part.untimely);
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
    if (m_records.size() >= m_limits.maxStreams || (m_records.size() + 1) * StreamBytes() > m_limits.maxMemory)
        return nullptr;
    StreamState state;
    state.key = key;
    state.seen = SequenceSet(m_limits.windowBits);
    m_records.push_back(std::move(state));
    // Out of memory here, the ledger stays as it was: the run still reports.
    try {
        m_index.emplace(key, m_records.size() - 1);
    } catch (...) {
        m_records.pop_back();
        throw;
    }
    m_last = m_records.size() - 1;
    return &m_records.back();
}

bool DeliveryLedger::WithinReach(const StreamState &record, const Stamp &stamp, std::int64_t receivedUs) const
{
    if (m_limits.maxSeq != 0 && stamp.seq > m_limits.maxSeq)
        return false;
    if (record.lowest == 0 || stamp.seq <= record.highest || stamp.seq - record.highest - 1 <= m_limits.maxGap)
        return true;
    std::int64_t sentUs = stamp.sentUs;
    if (receivedUs >= 0 && receivedUs <= INT64_MAX - MaxClockSkewUs)
        sentUs = std::min(sentUs, receivedUs + MaxClockSkewUs);
    const std::uint64_t us = sentUs > record.earliestSentUs ? static_cast<std::uint64_t>(sentUs) -
                                                                  static_cast<std::uint64_t>(record.earliestSentUs)
                                                            : 0;
    const std::uint64_t sent = us >= CountCap / MaxRatePerUs ? CountCap : us * MaxRatePerUs;
    return stamp.seq - record.lowest <= CappedSum(m_limits.maxGap, sent);
}

bool DeliveryLedger::Believable(StreamState &record, const Stamp &stamp, std::int64_t receivedUs)
{
    const std::uint64_t seq = stamp.seq;
    if (!WithinReach(record, stamp, receivedUs)) {
        ++record.suspectJumps;
        return false;
    }
    if (seq <= record.highest || seq - record.highest - 1 <= m_limits.maxGap)
        return true;
    ++record.suspectJumps;
    const std::uint64_t low = record.jumpLow;
    const int top = 63 - std::countl_zero(record.jumpSeen);
    if (low == 0 ||
        (seq >= low ? seq - low >= JumpWindow : low - seq + static_cast<std::uint64_t>(top) >= JumpWindow)) {
        record.jumpLow = seq;
        record.jumpSeen = 0;
        record.jumpArrivals = 0;
    } else if (seq < low) {
        record.jumpSeen <<= low - seq;
        record.jumpLow = seq;
    }
    const std::uint64_t bit = std::uint64_t{1} << (seq - record.jumpLow);
    const bool repeat = record.jumpSeen & bit;
    ++record.jumpArrivals;
    if (repeat || std::popcount(record.jumpSeen | bit) < JumpProof) {
        record.jumpSeen |= bit;
        return false;
    }
    // The stream moved on. What it had lost so far stays lost (and in
    // LostSoFar); the jump itself is not. This arrival goes on as any other.
    const std::uint64_t from = record.jumpLow;
    const std::uint64_t held = record.jumpSeen;
    record.suspectJumps -= record.jumpArrivals;
    const std::uint64_t repeats = record.jumpArrivals - 1 - static_cast<std::uint64_t>(std::popcount(held));
    record.duplicates += repeats;
    m_duplicates = CappedSum(m_duplicates, repeats);
    record.lostBefore = record.Lost();
    record.base = from - 1;
    record.highest = from - 1;
    record.receivedAbove = 0;
    record.jumpLow = 0;
    record.jumpSeen = 0;
    record.jumpArrivals = 0;
    record.seen.ForgetUpTo(from - 1);
    for (std::uint64_t rest = held; rest != 0; rest &= rest - 1)
        Accept(record, from + static_cast<std::uint64_t>(std::countr_zero(rest)), 0, -1);
    return true;
}

void DeliveryLedger::Record(const Stamp &stamp, std::int64_t receivedUs)
{
    StreamState *record = Find(stamp);
    if (!record) {
        ++m_untracked;
        return;
    }
    if (!Believable(*record, stamp, receivedUs))
        return;
    // A stamp dated long before it came would stretch what the stream can
    // have reached: it counts as sent an hour before it arrived at most.
    std::int64_t sentUs = stamp.sentUs;
    if (receivedUs >= INT64_MIN + MaxClockSkewUs)
        sentUs = std::max(sentUs, receivedUs - MaxClockSkewUs);
    record->earliestSentUs = std::min(record->earliestSentUs, sentUs);
    Accept(*record, stamp.seq, stamp.sentUs, receivedUs);
}

void DeliveryLedger::Accept(StreamState &record, std::uint64_t seq, std::int64_t sentUs, std::int64_t receivedUs)
{
    switch (record.seen.Insert(seq)) {
    case SequenceSet::Mark::Seen:
        ++record.duplicates;
        m_duplicates = CappedSum(m_duplicates, 1);
        return;
    case SequenceSet::Mark::TooOld:
        // Older than the window: whether it came before is not known, so it
        // is neither received nor a duplicate, only late.
        ++record.reordered;
        m_reordered = CappedSum(m_reordered, 1);
        return;
    case SequenceSet::Mark::New:
        break;
    }
    if (record.lowest == 0 || seq < record.lowest)
        record.lowest = seq;
    ++record.received;
    ++record.receivedAbove;
    ++m_received;
    if (seq < record.highest) {
        ++record.reordered;
        m_reordered = CappedSum(m_reordered, 1);
        // Once capped, the sum is no longer known exactly and stays capped.
        if (m_lostSoFar < CountCap)
            --m_lostSoFar;
    } else {
        m_lostSoFar = CappedSum(m_lostSoFar, seq - record.highest - 1);
        record.highest = seq;
    }
    if (receivedUs >= 0) {
        if (!record.latency)
            record.latency = std::make_unique<LatencyHistogram<std::uint32_t>>();
        const std::uint64_t us = receivedUs > sentUs ? static_cast<std::uint64_t>(receivedUs - sentUs) : 0;
        // No socket carries a message in no time, so a stamp or clock was changed.
        if (us == 0)
            ++record.untimely;
        record.latency->Add(us);
        m_latency.Add(us);
        m_latencySumUs = CappedSum(m_latencySumUs, us);
    }
}

StreamReport DeliveryLedger::Counts(const StreamState &record)
{
    StreamReport stream;
    stream.run.assign(record.key.run, record.key.runLength);
    stream.stream = record.key.stream;
    stream.shard = record.key.stream / StampFormat::StreamsPerShard;
    stream.highestSeq = record.highest;
    DeliveryFigures &figures = stream.figures;
    figures.received = record.received;
    figures.lost = record.Lost();
    figures.duplicates = record.duplicates;
    figures.reordered = record.reordered;
    figures.suspectJumps = record.suspectJumps;
    figures.untimely = record.untimely;
    return stream;
}

std::vector<StreamReport> DeliveryLedger::StreamCounts() const
{
    std::vector<StreamReport> streams;
    streams.reserve(m_records.size());
    for (const auto &record : m_records)
        streams.push_back(Counts(record));
    return streams;
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
        StreamReport stream = Counts(record);
        DeliveryFigures &figures = stream.figures;
        if (figures.lost > 0)
            stream.gaps = record.seen.Missing(record.base + 1, record.highest, GapsPerStream);
        Add(report.totals, figures);
        auto &[shard, latency] = shards[stream.shard];
        shard.shard = stream.shard;
        ++shard.streams;
        Add(shard.figures, figures);
        if (record.latency) {
            figures.latency = record.latency->Figures();
            all.Merge(*record.latency);
            latency.Merge(*record.latency);
        }
        highestSum = CappedSum(highestSum, record.highest);
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
    report.totals.lost = CappedSum(report.totals.lost, report.tailLost);
    report.totals.latency = all.Figures();
    return report;
}

DeliveryFigures DeliveryLedger::RunsFigures(const std::vector<std::string> &runs, std::uint64_t expect) const
{
    DeliveryFigures figures;
    LatencyHistogram<std::uint64_t> latency;
    std::uint64_t highestSum = 0;
    for (const auto &record : m_records) {
        if (std::find(runs.begin(), runs.end(), std::string_view(record.key.run, record.key.runLength)) == runs.end())
            continue;
        Add(figures, Counts(record).figures);
        highestSum = CappedSum(highestSum, record.highest);
        if (record.latency)
            latency.Merge(*record.latency);
    }
    figures.lost = CappedSum(figures.lost, expect > highestSum ? expect - highestSum : 0);
    figures.latency = latency.Figures();
    return figures;
}

LatencyHistogram<std::uint64_t> DeliveryLedger::RunLatency(std::string_view run) const
{
    LatencyHistogram<std::uint64_t> latency;
    for (const auto &record : m_records)
        if (record.latency && std::string_view(record.key.run, record.key.runLength) == run)
            latency.Merge(*record.latency);
    return latency;
}

std::size_t DeliveryLedger::MemoryBytes() const
{
    std::size_t bytes = m_records.capacity() * sizeof(StreamState) + m_index.bucket_count() * sizeof(void *) +
                        m_index.size() * (sizeof(Key) + 4 * sizeof(void *));
    for (const StreamState &record : m_records)
        bytes += record.seen.MemoryBytes() + (record.latency ? sizeof(*record.latency) : 0);
    return bytes;
}

std::size_t DeliveryLedger::StreamBytes()
{
    // Allocations cost a header each; the records' vector holds up to twice
    // what it needs while it grows.
    constexpr std::size_t Header = 16;
    constexpr std::size_t IndexEntry = sizeof(Key) + 3 * sizeof(void *) + Header;
    constexpr std::size_t FirstBlock = SequenceSet::BlockBits / 8 + 5 * sizeof(void *) + Header;
    return 2 * sizeof(StreamState) + IndexEntry + FirstBlock + sizeof(LatencyHistogram<std::uint32_t>) + Header;
}
