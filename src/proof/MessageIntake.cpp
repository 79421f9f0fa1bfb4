#include "proof/MessageIntake.h"

#include "engine/Stamp.h"
#include "proof/MessageOutput.h"

void MessageIntake::Take(std::string_view message, std::int64_t receivedUs)
{
    ++m_counts.messages;
    m_counts.bytes += message.size();
    if (m_output)
        m_output->Write(message);
    Stamp stamp;
    switch (FindStamp(message, stamp)) {
    case StampSearch::Found:
        if (m_run && stamp.run != *m_run) {
            ++m_counts.otherRuns;
            break;
        }
        if (m_mac && !m_mac->Verify(stamp)) {
            ++m_counts.forged;
            break;
        }
        ++m_counts.stamped;
        m_ledger.Record(stamp, receivedUs);
        break;
    case StampSearch::Malformed:
        ++m_counts.malformedStamps;
        break;
    case StampSearch::None:
        break;
    }
}

bool MessageIntake::HandOver()
{
    return !m_output || m_output->Flush();
}
