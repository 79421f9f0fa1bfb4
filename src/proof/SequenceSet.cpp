#include "proof/SequenceSet.h"

#include <algorithm>
#include <bit>

namespace {
constexpr std::uint64_t None = ~std::uint64_t{0};
// Bits of a word from position `from` up.
constexpr std::uint64_t FromBit(std::uint64_t from)
{
    return ~std::uint64_t{0} << from;
}
} // namespace

SequenceSet::SequenceSet(std::uint64_t windowBits) : m_window(std::max<std::uint64_t>(windowBits, 2 * BlockBits))
{}

SequenceSet::Mark SequenceSet::Insert(std::uint64_t seq)
{
    if (seq < m_floor)
        return Mark::TooOld;
    if (seq - m_floor >= m_window) {
        m_floor = seq - m_window + 1;
        DropBelowFloor();
    }
    const std::uint64_t index = seq / BlockBits;
    if (!m_last || m_lastIndex != index) {
        m_last = &m_blocks.try_emplace(index).first->second;
        m_lastIndex = index;
    }
    const std::uint64_t offset = seq % BlockBits;
    std::uint64_t &word = (*m_last)[offset / 64];
    const std::uint64_t bit = std::uint64_t{1} << (offset % 64);
    if (word & bit)
        return Mark::Seen;
    word |= bit;
    return Mark::New;
}

void SequenceSet::ForgetUpTo(std::uint64_t seq)
{
    if (seq >= m_floor) {
        m_floor = seq + 1;
        DropBelowFloor();
    }
}

void SequenceSet::DropBelowFloor()
{
    const auto kept = m_blocks.lower_bound(m_floor / BlockBits);
    if (m_last && m_lastIndex < m_floor / BlockBits)
        m_last = nullptr;
    m_blocks.erase(m_blocks.begin(), kept);
}

std::uint64_t SequenceSet::NextPresent(std::uint64_t n) const
{
    for (auto it = m_blocks.lower_bound(n / BlockBits); it != m_blocks.end(); ++it) {
        const std::uint64_t start = it->first * BlockBits;
        const std::uint64_t from = n > start ? n - start : 0;
        for (std::uint64_t w = from / 64; w < BlockBits / 64; ++w) {
            const std::uint64_t bits = it->second[w] & (w == from / 64 ? FromBit(from % 64) : None);
            if (bits)
                return start + w * 64 + static_cast<std::uint64_t>(std::countr_zero(bits));
        }
    }
    return None;
}

std::uint64_t SequenceSet::NextMissing(std::uint64_t n) const
{
    for (;;) {
        const auto it = m_blocks.find(n / BlockBits);
        if (it == m_blocks.end())
            return n;
        const std::uint64_t start = it->first * BlockBits;
        for (std::uint64_t w = (n - start) / 64; w < BlockBits / 64; ++w) {
            const std::uint64_t holes = ~it->second[w] & (w == (n - start) / 64 ? FromBit((n - start) % 64) : None);
            if (holes)
                return start + w * 64 + static_cast<std::uint64_t>(std::countr_zero(holes));
        }
        if (start + BlockBits < start)
            return None;
        n = start + BlockBits;
    }
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> SequenceSet::Missing(std::uint64_t from, std::uint64_t to,
                                                                          std::size_t limit) const
{
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
    std::uint64_t at = std::max(from, m_floor);
    while (at <= to && runs.size() < limit) {
        const std::uint64_t first = NextMissing(at);
        if (first > to)
            break;
        const std::uint64_t next = NextPresent(first);
        const std::uint64_t last = next == None || next > to ? to : next - 1;
        runs.emplace_back(first, last);
        if (last == to)
            break;
        at = last + 1;
    }
    return runs;
}

std::size_t SequenceSet::MemoryBytes() const
{
    // A map node carries three pointers, a colour and the key besides the block.
    return m_blocks.size() * (sizeof(Block) + 5 * sizeof(void *));
}
