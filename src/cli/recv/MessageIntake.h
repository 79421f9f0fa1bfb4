#pragma once

#include "cli/recv/DeliveryLedger.h"

#include <cstdint>
#include <string_view>

class MessageOutput;

struct IntakeCounts {
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;
    std::uint64_t stamped = 0;
    std::uint64_t malformedStamps = 0;
};

// Where every received message goes: counted, its stamp checked into the
// ledger, and written to the output file when there is one.
class MessageIntake {
public:
    explicit MessageIntake(DeliveryLedger &ledger, MessageOutput *output = nullptr) : m_ledger(ledger), m_output(output)
    {}

    // receivedUs < 0: no receive time (a line of a file).
    void Take(std::string_view message, std::int64_t receivedUs);
    const IntakeCounts &Counts() const { return m_counts; }
    const DeliveryLedger &Ledger() const { return m_ledger; }

private:
    DeliveryLedger &m_ledger;
    MessageOutput *m_output;
    IntakeCounts m_counts;
};
