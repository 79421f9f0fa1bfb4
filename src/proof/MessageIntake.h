#pragma once

#include "engine/StampKey.h"
#include "proof/DeliveryLedger.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class MessageOutput;

struct IntakeCounts {
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;
    std::uint64_t stamped = 0;
    std::uint64_t malformedStamps = 0;
    // Stamps without the MAC the key makes: not counted as stamped.
    std::uint64_t forged = 0;
    // Stamps of runs other than the one asked for: passed over.
    std::uint64_t otherRuns = 0;
};

// Where every received message goes: counted, its stamp checked into the
// ledger (with a key, only a stamp whose MAC holds), and written to the
// output file when there is one.
class MessageIntake {
public:
    explicit MessageIntake(DeliveryLedger &ledger, MessageOutput *output = nullptr) : m_ledger(ledger), m_output(output)
    {}

    // From now on stamps must carry the MAC this key makes.
    void RequireKey(const StampKey &key) { m_mac.emplace(key); }
    // From now on only the stamps of this run are checked.
    void OnlyRun(std::string run) { m_run = std::move(run); }
    // receivedUs < 0: no receive time (a line of a file).
    void Take(std::string_view message, std::int64_t receivedUs);
    // Writes what was taken to the output file, so the system holds it
    // before the sender is told; false when it could not.
    [[nodiscard]] bool HandOver();
    const IntakeCounts &Counts() const { return m_counts; }
    const DeliveryLedger &Ledger() const { return m_ledger; }

private:
    DeliveryLedger &m_ledger;
    MessageOutput *m_output;
    IntakeCounts m_counts;
    std::optional<StampMac> m_mac;
    std::optional<std::string> m_run;
};
