#include "load/RunSummary.h"

#include <algorithm>

namespace {
constexpr double ShortestRatedSeconds = 1.0;

// The same target and port of another thread: figures added up.
void AddTargetFigures(std::vector<RunSummary::TargetFigures> &total, const RunSummary::TargetFigures &t)
{
    const auto same = std::find_if(total.begin(), total.end(), [&t](const RunSummary::TargetFigures &known) {
        return known.target == t.target && known.port == t.port;
    });
    if (same == total.end()) {
        total.push_back(t);
        return;
    }
    same->sent += t.sent;
    same->failed += t.failed;
    same->refused += t.refused;
    same->unknownFate += t.unknownFate;
    same->reconnects += t.reconnects;
    same->connectionsUp += t.connectionsUp;
    same->drops += t.drops;
    same->streams.insert(same->streams.end(), t.streams.begin(), t.streams.end());
}
} // namespace

void AddThreadSummary(RunSummary &total, const RunSummary &thread)
{
    total.sent += thread.sent;
    total.failed += thread.failed;
    total.refused += thread.refused;
    total.refusedConnections += thread.refusedConnections;
    total.blockedSeconds += thread.blockedSeconds;
    total.queuedBytes += thread.queuedBytes;
    total.untakenBytes += thread.untakenBytes;
    total.busiestThreadShare = std::max(total.busiestThreadShare, thread.busiestThreadShare);
    total.threadWaitShare = std::max(total.threadWaitShare, thread.threadWaitShare);
    total.bytes += thread.bytes;
    total.unknownFate += thread.unknownFate;
    if (thread.acknowledged)
        total.acknowledged = total.acknowledged.value_or(0) + *thread.acknowledged;
    total.reconnects += thread.reconnects;
    total.connectionsUp += thread.connectionsUp;
    total.longestOutage = std::max(total.longestOutage, thread.longestOutage);
    total.drops += thread.drops;
    total.idle += thread.idle;
    for (const RunSummary::TargetFigures &t : thread.targets)
        AddTargetFigures(total.targets, t);
    total.late += thread.late;
    total.skipped += thread.skipped;
    total.durationUnsent += thread.durationUnsent;
    // Every thread reads the whole file's times.
    total.replayGapsCut = std::max(total.replayGapsCut, thread.replayGapsCut);
    total.replayWentBack = std::max(total.replayWentBack, thread.replayWentBack);
    total.replayJoinsSplit = std::max(total.replayJoinsSplit, thread.replayJoinsSplit);
    total.replayMaxGap = std::max(total.replayMaxGap, thread.replayMaxGap);
    total.elapsedSeconds = std::max(total.elapsedSeconds, thread.elapsedSeconds);
    if (total.runId.empty())
        total.runId = thread.runId;
    total.streams.insert(total.streams.end(), thread.streams.begin(), thread.streams.end());
    total.connections.insert(total.connections.end(), thread.connections.begin(), thread.connections.end());
    if (total.tlsVersion.empty()) {
        total.tlsVersion = thread.tlsVersion;
        total.tlsCipher = thread.tlsCipher;
    }
    // The first thread to fail says why the run ended.
    if (total.error.empty() && !thread.error.empty()) {
        total.error = thread.error;
        total.stoppedBy = thread.stoppedBy;
    } else if (total.stoppedBy.empty()) {
        total.stoppedBy = thread.stoppedBy;
    }
    total.exitStatus = std::max(total.exitStatus, thread.exitStatus);
}

std::optional<double> AverageRate(const RunSummary &summary)
{
    if (summary.sent <= 1 || summary.elapsedSeconds < ShortestRatedSeconds)
        return std::nullopt;
    return static_cast<double>(summary.sent) / summary.elapsedSeconds;
}
