#include "load/UnknownFate.h"

#include <algorithm>

void UnknownFate::Add(std::uint64_t bytes)
{
    m_written += bytes;
    m_ends.push_back(m_written);
}

std::int64_t UnknownFate::After(std::uint64_t acknowledged) const
{
    return std::distance(std::upper_bound(m_ends.begin(), m_ends.end(), acknowledged), m_ends.end());
}

void UnknownFate::Forget(std::uint64_t acknowledged)
{
    m_ends.erase(m_ends.begin(), std::upper_bound(m_ends.begin(), m_ends.end(), acknowledged));
}

void UnknownFate::Restart()
{
    m_ends.clear();
    m_written = 0;
}
