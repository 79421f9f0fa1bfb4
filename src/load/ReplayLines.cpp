#include "load/ReplayLines.h"

#include "common/Clock.h"

ReplayLines::ReplayLines(const ReplayLane &lane)
    : m_file(ReferenceYear()), m_path(lane.path), m_part(lane.part), m_parts(lane.parts), m_loop(lane.loop)
{
    // A failure leaves its reason in m_error, which Failed() reads.
    if (const Status opened = m_file.Open(m_path); !opened)
        m_error = opened.Why();
}

bool ReplayLines::Next(ReplayLine &line)
{
    if (Failed())
        return false;
    for (;;) {
        switch (m_file.Next(line)) {
        case ReplayFile::Read::Line:
            if (line.text.empty() || m_index++ % m_parts != m_part)
                continue;
            m_tookThisPass = true;
            return true;
        case ReplayFile::Read::End:
            if (!m_loop || !m_tookThisPass)
                return false;
            m_file.Rewind();
            m_index = 0;
            m_tookThisPass = false;
            continue;
        case ReplayFile::Read::Failed:
            m_error = m_file.Outcome().Why();
            return false;
        }
    }
}

int ReplayLines::ReferenceYear()
{
    return SystemClock().Now().year;
}
