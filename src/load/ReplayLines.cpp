#include "load/ReplayLines.h"

#include "common/Clock.h"

ReplayLines::ReplayLines(const ReplayLane &lane)
    : m_file(ReferenceYear(), lane.longestGapUs), m_path(lane.path), m_part(lane.part), m_parts(lane.parts),
      m_loop(lane.loop)
{
    // A failure is kept for Next and Outcome to tell.
    m_outcome = m_file.Open(m_path);
}

bool ReplayLines::Next(ReplayLine &line)
{
    if (!m_outcome)
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
            m_outcome = m_file.Outcome();
            return false;
        }
    }
}

int ReplayLines::ReferenceYear()
{
    return SystemClock().Now().year;
}
