#include "load/ReplayLines.h"

#include "common/Clock.h"

ReplayLines::ReplayLines(const ReplayLane &lane)
    : m_file(ReferenceYear(), lane.longestGapUs), m_path(lane.path), m_part(lane.part), m_parts(lane.parts),
      m_loop(lane.loop), m_joined(lane.joined)
{
    // A failure is kept for Next and Outcome to tell.
    m_outcome = m_file.Open(m_path);
}

bool ReplayLines::Next(ReplayLine &line)
{
    if (!m_outcome)
        return false;
    for (;;) {
        switch (Gather(line)) {
        case ReplayFile::Read::Line:
            if (m_index++ % m_parts != m_part)
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

ReplayFile::Read ReplayLines::Gather(ReplayLine &line)
{
    bool continues = false;
    if (m_ahead) {
        line = *m_ahead;
        m_text.assign(m_aheadText);
        line.text = m_text;
        continues = m_aheadContinues;
        m_ahead.reset();
    } else if (m_ended) {
        m_ended = false;
        return ReplayFile::Read::End;
    } else {
        do {
            if (const ReplayFile::Read read = m_file.Next(line); read != ReplayFile::Read::Line)
                return read;
        } while (line.text.empty());
        if (!m_joined || line.time == ReplayTime::None)
            return ReplayFile::Read::Line;
        m_text.assign(line.text);
    }
    if (line.time == ReplayTime::None && !continues)
        return ReplayFile::Read::Line;
    ReplayLine next;
    for (;;) {
        const ReplayFile::Read read = m_file.Next(next);
        if (read == ReplayFile::Read::Failed)
            return read;
        if (read == ReplayFile::Read::End) {
            m_ended = true;
            break;
        }
        if (next.text.empty())
            continue;
        if (next.time != ReplayTime::None) {
            KeepAhead(next, false);
            break;
        }
        if (m_text.size() + 1 + next.text.size() > ReplayFile::LongestLine) {
            ++m_joinsSplit;
            KeepAhead(next, true);
            break;
        }
        m_text.push_back('\n');
        m_text += next.text;
    }
    line.text = m_text;
    return ReplayFile::Read::Line;
}

void ReplayLines::KeepAhead(const ReplayLine &line, bool continues)
{
    m_aheadText.assign(line.text);
    m_ahead = line;
    m_ahead->text = {};
    m_aheadContinues = continues;
}

int ReplayLines::ReferenceYear()
{
    return SystemClock().Now().year;
}
