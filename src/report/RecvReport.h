#pragma once

#include "proof/DeliveryLedger.h"
#include "proof/MessageIntake.h"
#include "proof/ProxyTally.h"
#include "proof/ReceiveSource.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a run of the receiver saw.
struct RecvSummary {
    IntakeCounts intake;
    ReceiveCounts loop;
    LedgerReport ledger;
    // RELP: messages whose answers were handed to the system, and what
    // came before each answer, in words.
    std::optional<std::uint64_t> acknowledged;
    std::string acknowledgedMeans;
    // --listen-proxy: the clients the PROXY headers claimed.
    std::optional<std::vector<ProxyTally::Row>> proxySources;
    std::uint64_t expect = 0;
    // A file's stamped messages beyond --expect: it may hold several runs.
    std::uint64_t beyondExpect = 0;
    // "udp 127.0.0.1:514", "tcp [::1]:6514" or "file NAME"
    std::string source;
    double elapsedSeconds = 0;
    // From the first message to the last: the span the average rate is over.
    double activeSeconds = 0;
    // expect, duration, idle, signal, end of file, error
    std::string stoppedBy;
    std::string error;
    int exitStatus = 0;
};

// The line each second: "12,000 messages received, 3 lost so far, 1,000 MPS".
std::string RecvProgressLine(std::uint64_t received, std::uint64_t lostSoFar, std::uint64_t lastSecond);
std::string RecvSummaryLine(const RecvSummary &summary);
// One line per stream when there are few, else one per shard when there are
// several; none otherwise.
std::vector<std::string> RecvDetailLines(const RecvSummary &summary);
// One JSON object on one line, without a line end.
std::string RecvSummaryJson(const RecvSummary &summary);
