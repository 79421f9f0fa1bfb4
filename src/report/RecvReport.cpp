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

void AppendCount(std::string &text, std::uint64_t count, const char *what)
{
    if (count > 0)
        text += ", " + GroupedCount(count) + " " + what;
}

QJsonValue Number(std::uint64_t value)
{
    return QJsonValue(static_cast<qint64>(std::min(value, CountCap)));
}

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
        text += " (suspect jumps: stamps more than --max-gap above their stream's highest number, neither received "
                "nor counted as lost)";
    AppendCount(text, summary.loop.frames.malformed, "malformed frames");
    AppendCount(text, summary.loop.frames.oversize, "oversize frames");
    AppendCount(text, intake.malformedStamps, "malformed stamps");
    AppendCount(text, summary.ledger.untracked,
                "stamps not checked (their streams were beyond --max-streams or the memory for streams)");
    AppendCount(text, intake.forged, "forged stamps (without the MAC --stamp-key makes: left out of every figure)");
    AppendCount(text, summary.loop.emptyDatagrams, "empty datagrams");
    AppendCount(text, summary.loop.refused, "refused connections");
    AppendCount(text, summary.loop.idleClosed, "connections closed for sending nothing");
    AppendCount(text, summary.loop.idleEvicted, "idle connections closed to take a new one at --max-connections");
    AppendCount(text, summary.loop.bufferDrops, "connections dropped for holding the most when the buffers were full");
    AppendCount(text, summary.loop.pausedSessions, "RELP sessions paused for not taking their answers");
    AppendCount(text, summary.loop.tlsOnPlainPort,
                "TLS handshakes on this plain port (closed unread: a TLS sender wants --listen tls)");
    AppendCount(text, summary.loop.proxyRefused, "connections closed for a missing or malformed PROXY header");
    if (summary.loop.proxyRefused > 0)
        text += " (the last: " + summary.loop.lastProxyFailure + ")";
    AppendCount(text, summary.loop.failedHandshakes, "failed TLS handshakes");
    if (summary.loop.failedHandshakes > 0)
        text += " (the last: " + summary.loop.lastHandshakeFailure + ")";
    AppendCount(text, summary.loop.droppedSessions, "TLS sessions dropped after their handshake");
    if (summary.loop.droppedSessions > 0)
        text += " (the last: " + summary.loop.lastDropReason + ")";
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
    json["messages"] = Number(summary.intake.messages);
    json["bytes"] = Number(summary.intake.bytes);
    json["stamped"] = Number(summary.intake.stamped);
    if (summary.acknowledged) {
        json["acknowledged"] = Number(*summary.acknowledged);
        json["acknowledged_means"] = JsonText(summary.acknowledgedMeans);
        json["paused_sessions"] = Number(summary.loop.pausedSessions);
    }
    json["malformed_stamps"] = Number(summary.intake.malformedStamps);
    json["forged"] = Number(summary.intake.forged);
    json["empty_datagrams"] = Number(summary.loop.emptyDatagrams);
    json["untracked_stamps"] = Number(ledger.untracked);
    json["frames"] = Number(summary.loop.frames.frames);
    json["malformed_frames"] = Number(summary.loop.frames.malformed);
    json["oversize_frames"] = Number(summary.loop.frames.oversize);
    json["connections"] = Number(summary.loop.connections);
    json["refused_connections"] = Number(summary.loop.refused);
    json["idle_closed"] = Number(summary.loop.idleClosed);
    json["idle_evicted"] = Number(summary.loop.idleEvicted);
    json["buffer_drops"] = Number(summary.loop.bufferDrops);
    QJsonObject framings;
    for (const Framing framing : ReceivedFramings) {
        const std::string_view name = framing == Framing::Auto ? "undecided" : FramingName(framing);
        framings[QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))] =
            Number(summary.loop.framings[static_cast<std::size_t>(framing)]);
    }
    json["connection_framing"] = framings;
    json["tls_handshakes"] = Number(summary.loop.handshakes);
    json["tls_failed"] = Number(summary.loop.failedHandshakes);
    json["tls_on_plain_port"] = Number(summary.loop.tlsOnPlainPort);
    json["tls_timeouts"] = Number(summary.loop.handshakeTimeouts);
    if (summary.loop.failedHandshakes > 0)
        json["tls_last_failure"] = JsonText(summary.loop.lastHandshakeFailure);
    json["tls_dropped"] = Number(summary.loop.droppedSessions);
    if (summary.loop.droppedSessions > 0)
        json["tls_last_drop"] = JsonText(summary.loop.lastDropReason);
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
