#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// The sequence numbers seen in one stream, one bit each, for telling a
// duplicate from a first arrival. Bits live in blocks made only where a
// number arrived, so memory follows what arrived, never how large a number
// a peer wrote. Only the last windowBits numbers below the highest are
// kept: older blocks are let go, and numbers below the floor read as TooOld.
class SequenceSet {
public:
    static constexpr std::uint64_t DefaultWindowBits = std::uint64_t{1} << 27;
    static constexpr std::uint64_t BlockBits = 1024;

    explicit SequenceSet(std::uint64_t windowBits = DefaultWindowBits);
    // Moving keeps the blocks where they are, so the cached one stays valid.
    SequenceSet(SequenceSet &&) = default;
    SequenceSet &operator=(SequenceSet &&) = default;
    SequenceSet(const SequenceSet &) = delete;
    SequenceSet &operator=(const SequenceSet &) = delete;

    enum class Mark { New, Seen, TooOld };
    Mark Insert(std::uint64_t seq);
    // Numbers up to seq read as TooOld from now on.
    void ForgetUpTo(std::uint64_t seq);
    // The lowest number whose arrival is still known.
    std::uint64_t Floor() const { return m_floor; }
    // Runs of numbers from `from` to `to` never inserted, lowest first, at
    // most limit of them; numbers below the floor are left out.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> Missing(std::uint64_t from, std::uint64_t to,
                                                                 std::size_t limit) const;
    std::size_t MemoryBytes() const;

private:
    using Block = std::array<std::uint64_t, BlockBits / 64>;
    using Blocks = std::map<std::uint64_t, Block>; // by number / BlockBits

    void DropBelowFloor();
    // The first number from n on that is (or is not) in the set; ~0 for none.
    std::uint64_t NextPresent(std::uint64_t n) const;
    std::uint64_t NextMissing(std::uint64_t n) const;

    Blocks m_blocks;
    std::uint64_t m_floor = 0;
    std::uint64_t m_window;
    // Numbers mostly come in runs: the block of the last one is tried first.
    Block *m_last = nullptr;
    std::uint64_t m_lastIndex = 0;
};
