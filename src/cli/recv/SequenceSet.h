#pragma once

#include <cstdint>
#include <vector>

// The sequence numbers seen in one stream, one bit each, for telling a
// duplicate from a first arrival. The bitmap grows by doubling as numbers
// rise, up to a window of windowBits; a number beyond the window slides it
// forward by at least half, and numbers that fell out of it read as TooOld.
class SequenceSet {
public:
    static constexpr std::uint64_t DefaultWindowBits = std::uint64_t{1} << 27; // 16 MiB

    explicit SequenceSet(std::uint64_t windowBits = DefaultWindowBits);

    enum class Mark { New, Seen, TooOld };
    Mark Insert(std::uint64_t seq);
    std::uint64_t Base() const { return m_base; }
    std::size_t MemoryBytes() const { return m_words.capacity() * sizeof(std::uint64_t); }

private:
    void Slide(std::uint64_t word);

    std::vector<std::uint64_t> m_words;
    // The sequence number of bit 0 of word 0.
    std::uint64_t m_base = 0;
    std::size_t m_maxWords;
};
