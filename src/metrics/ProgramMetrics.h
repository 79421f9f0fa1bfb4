#pragma once

#include "load/RunSummary.h"
#include "load/SendSeconds.h"
#include "metrics/MetricsSnapshot.h"
#include "probe/ProbeResult.h"
#include "proof/DeliveryLedger.h"
#include "proof/MessageIntake.h"
#include "proof/ReceiveLoop.h"
#include "report/RecvReport.h"

#include <vector>

// The series each program shows: made on the engine's thread once a second
// (or a step), cheap, so the endpoint's thread only formats them.

// A sender at a second's mark: totals at the mark, second what it did
// (before the first, empty: no rates).
MetricsSnapshot SendMetrics(const MetricLabels &labels, const SendCounters &totals, const SendSecond &second);
// The run's end: the counts the summary has (and its JSON), none open.
void AddSendSummary(MetricsSnapshot &snapshot, const RunSummary &summary);

// A receiver now; rate: what arrived in the last second.
MetricsSnapshot RecvMetrics(const MetricLabels &labels, const IntakeCounts &intake, const DeliveryLedger &ledger,
                            const LoopCounts &loop, double rate);
// The run's end: the summary's counts, the tail lost against --expect too.
void AddRecvSummary(MetricsSnapshot &snapshot, const RecvSummary &summary);

// A probe after its latest step: the steps' counts added up, and the
// latest one's rate asked and achieved.
MetricsSnapshot ProbeMetrics(const MetricLabels &labels, const std::vector<ProbeStep> &steps, double stepSeconds);
