#include "cli/recv/SequenceSet.h"

#include <algorithm>

namespace {
constexpr std::size_t FirstWords = 16;
}

SequenceSet::SequenceSet(std::uint64_t windowBits)
    : m_maxWords(static_cast<std::size_t>(std::max<std::uint64_t>(windowBits / 64, 2)))
{}

SequenceSet::Mark SequenceSet::Insert(std::uint64_t seq)
{
    if (seq < m_base)
        return Mark::TooOld;
    std::uint64_t word = (seq - m_base) / 64;
    if (word >= m_words.size()) {
        if (word < m_maxWords) {
            const std::size_t grown = std::max({static_cast<std::size_t>(word) + 1, m_words.size() * 2, FirstWords});
            m_words.resize(std::min(grown, m_maxWords), 0);
        } else {
            Slide(word);
            word = (seq - m_base) / 64;
        }
    }
    const std::uint64_t bit = std::uint64_t{1} << ((seq - m_base) % 64);
    std::uint64_t &slot = m_words[static_cast<std::size_t>(word)];
    if (slot & bit)
        return Mark::Seen;
    slot |= bit;
    return Mark::New;
}

void SequenceSet::Slide(std::uint64_t word)
{
    m_words.resize(m_maxWords, 0);
    const std::uint64_t needed = word - m_maxWords + 1;
    const std::uint64_t shift = std::max<std::uint64_t>(needed, m_maxWords / 2);
    if (shift >= m_maxWords) {
        std::fill(m_words.begin(), m_words.end(), 0);
    } else {
        const auto kept = m_words.begin() + static_cast<std::ptrdiff_t>(shift);
        std::copy(kept, m_words.end(), m_words.begin());
        std::fill(m_words.end() - static_cast<std::ptrdiff_t>(shift), m_words.end(), 0);
    }
    m_base += shift * 64;
}
