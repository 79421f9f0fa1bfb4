#include "report/RecvReport.h"

#include "common/TextHelpers.h"
#include "report/JsonText.h"
#include "report/ProgressLine.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {
constexpr std::size_t StreamLinesUpTo = 16;
constexpr std::size_t ShardLinesUpTo = 64;
constexpr std::size_t ProxyLinesUpTo = 16;

bool FromFile(const RecvSummary &summary)
{
    return summary.source.rfind("file ", 0) == 0;
}

// Messages over the time from the first to the last; none for a file,
// which has no clock, or when they all came at once.
std::optional<double> AverageRate(const RecvSummary &summary)
{
    if (FromFile(summary) || summary.activeSeconds <= 0)
        return std::nullopt;
    return static_cast<double>(summary.intake.messages) / summary.activeSeconds;
}

std::string RunsText(const SequenceRuns &runs)
{
    std::string text;
    for (const auto &[first, last] : runs) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(first) + (last > first ? "-" + std::to_string(last) : "");
    }
    return text;
}

// Microseconds as milliseconds, the unit every text line gives latency in.
std::string Milliseconds(std::uint64_t us)
{
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%03u ms", static_cast<unsigned>(us % 1000));
    return GroupedCount(us / 1000) + fraction;
}

std::string FiguresText(const DeliveryFigures &figures)
{
    std::string text = GroupedCount(figures.received) + " received, " + GroupedCount(figures.lost) + " lost, " +
                       GroupedCount(figures.duplicates) + " duplicated, " + GroupedCount(figures.reordered) +
                       " out of order";
    if (figures.suspectJumps > 0)
        text += ", " + GroupedCount(figures.suspectJumps) + " suspect jumps";
    if (figures.latency.samples > 0)
        text += "; latency p50 " + Milliseconds(figures.latency.p50) + ", p99 " + Milliseconds(figures.latency.p99) +
                ", max " + Milliseconds(figures.latency.max);
    return text;
}

QJsonValue Number(std::uint64_t value)
{
    return QJsonValue(static_cast<qint64>(std::min(value, CountCap)));
}

// The summary's counts, each read here once: the key it has in --json
// (none: written with its group) and the words the summary line names it
// by when there are any (none: not on the line), in the line's order; and
// for some the last reason, "(the last: ...)".
struct SummaryCount {
    const char *key;
    const char *words;
    std::uint64_t (*read)(const RecvSummary &);
    const char *lastKey = nullptr;
    const std::string *(*last)(const RecvSummary &) = nullptr;
};

using S = const RecvSummary &;
constexpr SummaryCount SummaryCounts[] = {
    {"messages", nullptr, [](S s) { return s.intake.messages; }},
    {"bytes", nullptr, [](S s) { return s.intake.bytes; }},
    {"stamped", nullptr, [](S s) { return s.intake.stamped; }},
    {"frames", nullptr, [](S s) { return s.loop.frames.frames; }},
    {"connections", nullptr, [](S s) { return s.loop.connections; }},
    {"tls_handshakes", nullptr, [](S s) { return s.loop.handshakes; }},
    {"tls_timeouts", nullptr, [](S s) { return s.loop.handshakeTimeouts; }},
    {"malformed_frames", "malformed frames", [](S s) { return s.loop.frames.malformed; }},
    {"oversize_frames", "oversize frames", [](S s) { return s.loop.frames.oversize; }},
    {"malformed_stamps", "malformed stamps", [](S s) { return s.intake.malformedStamps; }},
    {"untracked_stamps", "stamps not checked (their streams were beyond --max-streams or the memory for streams)",
     [](S s) { return s.ledger.untracked; }},
    {"other_runs", "stamps of other runs passed over (--run-id)", [](S s) { return s.intake.otherRuns; }},
    {"beyond_expect", "stamped messages more than --expect (the file may hold several runs: --run-id picks one)",
     [](S s) { return s.beyondExpect; }},
    {"forged", "forged stamps (without the MAC --stamp-key makes: left out of every figure)",
     [](S s) { return s.intake.forged; }},
    {"empty_datagrams", "empty datagrams", [](S s) { return s.loop.emptyDatagrams; }},
    {"refused_connections", "refused connections", [](S s) { return s.loop.refused; }},
    {"idle_closed", "connections closed for sending nothing", [](S s) { return s.loop.idleClosed; }},
    {"idle_evicted", "idle connections closed to take a new one at --max-connections",
     [](S s) { return s.loop.idleEvicted; }},
    {"buffer_drops", "connections dropped for holding the most when the buffers were full",
     [](S s) { return s.loop.bufferDrops; }},
    // In --json with the RELP answers.
    {nullptr, "RELP sessions paused for not taking their answers", [](S s) { return s.loop.pausedSessions; }},
    {"tls_on_plain_port", "TLS handshakes on this plain port (closed unread: a TLS sender wants --listen tls)",
     [](S s) { return s.loop.tlsOnPlainPort; }},
    // In --json with the PROXY headers.
    {nullptr, "connections closed for a missing or malformed PROXY header", [](S s) { return s.loop.proxyRefused; },
     nullptr, [](S s) { return &s.loop.lastProxyFailure; }},
    {"tls_failed", "failed TLS handshakes", [](S s) { return s.loop.failedHandshakes; }, "tls_last_failure",
     [](S s) { return &s.loop.lastHandshakeFailure; }},
    {"tls_dropped", "TLS sessions dropped after their handshake", [](S s) { return s.loop.droppedSessions; },
     "tls_last_drop", [](S s) { return &s.loop.lastDropReason; }},
};

QJsonObject FiguresJson(const DeliveryFigures &figures)
{
    QJsonObject object;
    object["received"] = Number(figures.received);
    object["lost"] = Number(figures.lost);
    object["duplicates"] = Number(figures.duplicates);
    object["reordered"] = Number(figures.reordered);
    object["suspect_jumps"] = Number(figures.suspectJumps);
    QJsonObject latency;
    latency["p50"] = Number(figures.latency.p50);
    latency["p99"] = Number(figures.latency.p99);
    latency["max"] = Number(figures.latency.max);
    latency["samples"] = Number(figures.latency.samples);
    object["latency_us"] = latency;
    return object;
}

} // namespace

std::string RecvProgressLine(std::uint64_t received, std::uint64_t lostSoFar, std::uint64_t lastSecond)
{
    return MessagesText(static_cast<std::int64_t>(std::min(received, CountCap))) + " received, " +
           GroupedCount(lostSoFar) + " lost so far, " + GroupedCount(lastSecond) + " MPS";
}

std::string RecvSummaryLine(const RecvSummary &summary)
{
    const IntakeCounts &intake = summary.intake;
    std::string text = MessagesText(static_cast<std::int64_t>(intake.messages));
    if (FromFile(summary)) {
        text += " in the file, ";
    } else {
        text += " received in " + Fixed(summary.elapsedSeconds, 3) + " s";
        if (const auto rate = AverageRate(summary))
            text += ", " + Grouped(std::llround(*rate)) + " MPS from the first to the last in " +
                    Fixed(summary.activeSeconds, 3) + " s";
        text += ": ";
    }
    text += GroupedCount(intake.bytes) + " bytes (framing left out)";
    if (summary.acknowledged)
        text += ", " + GroupedCount(*summary.acknowledged) + " acknowledged";
    text += "; stamped: " + FiguresText(summary.ledger.totals);
    if (summary.ledger.tailLost > 0)
        text += " (" + GroupedCount(summary.ledger.tailLost) + " of the lost at the end of the streams)";
    if (summary.ledger.totals.suspectJumps > 0)
        text += " (suspect jumps: stamps above --expect, more than --max-gap above their stream's highest number or "
                "further than a sender goes in the time since its first, neither received nor counted as lost)";
    for (const SummaryCount &count : SummaryCounts) {
        const std::uint64_t value = count.read(summary);
        if (!count.words || value == 0)
            continue;
        text += ", " + GroupedCount(value) + " " + count.words;
        if (count.last)
            text += " (the last: " + *count.last(summary) + ")";
    }
    return text;
}

std::vector<std::string> RecvDetailLines(const RecvSummary &summary)
{
    std::vector<std::string> lines;
    const LedgerReport &ledger = summary.ledger;
    if (ledger.streams.size() <= StreamLinesUpTo) {
        for (const StreamReport &stream : ledger.streams)
            lines.push_back("  run " + stream.run + " stream " + std::to_string(stream.stream) + " (shard " +
                            std::to_string(stream.shard) + "): " + FiguresText(stream.figures) +
                            (stream.gaps.empty() ? "" : "; gaps " + RunsText(stream.gaps)));
    } else if (ledger.shards.size() > 1 && ledger.shards.size() <= ShardLinesUpTo) {
        for (const ShardReport &shard : ledger.shards)
            lines.push_back("  shard " + std::to_string(shard.shard) + " (" + std::to_string(shard.streams) +
                            " streams): " + FiguresText(shard.figures));
    }
    if (summary.proxySources) {
        const std::vector<ProxyTally::Row> &rows = *summary.proxySources;
        lines.push_back("  PROXY headers: " + GroupedCount(summary.loop.proxyHeaders) + " sessions from " +
                        GroupedCount(rows.size()) + " claimed clients");
        for (std::size_t i = 0; i < rows.size() && i < ProxyLinesUpTo; ++i)
            lines.push_back("    " + rows[i].source + ": " + GroupedCount(rows[i].sessions) + " sessions, " +
                            MessagesText(static_cast<std::int64_t>(std::min(rows[i].messages, CountCap))));
        if (rows.size() > ProxyLinesUpTo)
            lines.push_back("    and " + GroupedCount(rows.size() - ProxyLinesUpTo) + " more (--json lists them)");
    }
    return lines;
}

std::string RecvSummaryJson(const RecvSummary &summary)
{
    const LedgerReport &ledger = summary.ledger;
    QJsonObject json = FiguresJson(ledger.totals);
    json["tail_lost"] = Number(ledger.tailLost);
    json["expect"] = Number(summary.expect);
    for (const SummaryCount &count : SummaryCounts) {
        if (!count.key)
            continue;
        const std::uint64_t value = count.read(summary);
        json[count.key] = Number(value);
        if (count.lastKey && value > 0)
            json[count.lastKey] = JsonText(*count.last(summary));
    }
    if (summary.acknowledged) {
        json["acknowledged"] = Number(*summary.acknowledged);
        json["acknowledged_means"] = JsonText(summary.acknowledgedMeans);
        json["paused_sessions"] = Number(summary.loop.pausedSessions);
    }
    QJsonObject framings;
    for (const Framing framing : ReceivedFramings) {
        const std::string_view name = framing == Framing::Auto ? "undecided" : FramingName(framing);
        framings[QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))] =
            Number(summary.loop.framings[static_cast<std::size_t>(framing)]);
    }
    json["connection_framing"] = framings;
    if (summary.proxySources) {
        QJsonObject proxy;
        proxy["headers"] = Number(summary.loop.proxyHeaders);
        proxy["refused"] = Number(summary.loop.proxyRefused);
        if (summary.loop.proxyRefused > 0)
            proxy["last_failure"] = JsonText(summary.loop.lastProxyFailure);
        QJsonArray sources;
        for (const ProxyTally::Row &row : *summary.proxySources)
            sources.append(QJsonObject{{"source", JsonText(row.source)},
                                       {"sessions", Number(row.sessions)},
                                       {"messages", Number(row.messages)}});
        proxy["sources"] = sources;
        json["proxy"] = proxy;
    }
    json["elapsed_seconds"] = summary.elapsedSeconds;
    json["active_seconds"] = summary.activeSeconds;
    const auto rate = AverageRate(summary);
    json["average_mps"] = rate ? QJsonValue(std::round(*rate * 10) / 10) : QJsonValue();
    json["source"] = JsonText(summary.source);
    json["stopped_by"] = JsonText(summary.stoppedBy);
    if (!summary.error.empty())
        json["error"] = JsonText(summary.error);
    json["exit_status"] = summary.exitStatus;
    QJsonArray streams;
    for (const StreamReport &stream : ledger.streams) {
        QJsonObject object = FiguresJson(stream.figures);
        object["run"] = JsonText(stream.run);
        object["stream"] = Number(stream.stream);
        object["shard"] = Number(stream.shard);
        object["highest_seq"] = Number(stream.highestSeq);
        if (!stream.gaps.empty()) {
            QJsonArray gaps;
            for (const auto &[first, last] : stream.gaps)
                gaps.append(QJsonArray{Number(first), Number(last)});
            object["gaps"] = gaps;
        }
        streams.append(object);
    }
    json["streams"] = streams;
    QJsonArray shards;
    for (const ShardReport &shard : ledger.shards) {
        QJsonObject object = FiguresJson(shard.figures);
        object["shard"] = Number(shard.shard);
        object["streams"] = Number(shard.streams);
        shards.append(object);
    }
    json["shards"] = shards;
    return JsonLine(json);
}
