#pragma once

#include "proof/MessageIntake.h"
#include "proof/ReceiveSource.h"

#include <cstdint>

// A receiver's counters at one instant, gathered in one place: what its
// source counted, what the intake took and the ledger's running figures.
// The stats file, the progress line, the metrics and the summary all read
// this, so a counter is added here and where it is shown.
struct ReceiveTally {
    IntakeCounts intake;
    ReceiveCounts source;
    // Stamps checked, and the ledger's figures so far: a late message fills
    // a gap, so lostSoFar can fall.
    std::uint64_t received = 0;
    std::uint64_t lostSoFar = 0;
    std::uint64_t duplicatesSoFar = 0;
    std::uint64_t reorderedSoFar = 0;
};

inline ReceiveTally TallyNow(const MessageIntake &intake, const ReceiveSource &source)
{
    const DeliveryLedger &ledger = intake.Ledger();
    return {intake.Counts(),    source.Counts(),          ledger.Received(),
            ledger.LostSoFar(), ledger.DuplicatesSoFar(), ledger.ReorderedSoFar()};
}
