#include "load/UnknownFate.h"

#include <algorithm>

void UnknownFate::Add(std::uint64_t bytes)
{
    m_written += bytes;
    m_ends.push_back(m_written);
}

void UnknownFate::Add(std::span<const std::uint32_t> sizes)
{
    const std::size_t from = m_ends.size();
    m_ends.resize(from + sizes.size());
    std::uint64_t *const ends = m_ends.data() + from;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        ends[i] = m_written += sizes[i];
}

std::int64_t UnknownFate::After(std::uint64_t acknowledged) const
{
    return std::distance(
        std::upper_bound(m_ends.begin() + static_cast<std::ptrdiff_t>(m_first), m_ends.end(), acknowledged),
        m_ends.end());
}

void UnknownFate::Forget(std::uint64_t acknowledged)
{
    const auto kept =
        std::upper_bound(m_ends.begin() + static_cast<std::ptrdiff_t>(m_first), m_ends.end(), acknowledged);
    m_first = static_cast<std::size_t>(kept - m_ends.begin());
    if (2 * m_first >= m_ends.size()) {
        m_ends.erase(m_ends.begin(), kept);
        m_first = 0;
    }
}

void UnknownFate::Restart()
{
    m_ends.clear();
    m_first = 0;
    m_written = 0;
}
