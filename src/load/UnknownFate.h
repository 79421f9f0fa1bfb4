#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Where the recent messages of one session end in its byte stream, so the
// bytes a broken session's peer never acknowledged become the messages they
// belonged to: those messages may or may not have arrived.
class UnknownFate {
public:
    // The next message of the stream, this many bytes long.
    void Add(std::uint64_t bytes);
    // The next messages of the stream, of these lengths in turn.
    void Add(std::span<const std::uint32_t> sizes);
    // Messages that end after this many bytes of the stream (one cut short
    // included).
    std::int64_t After(std::uint64_t acknowledged) const;
    // Forgets messages the peer has acknowledged whole: their fate is known.
    void Forget(std::uint64_t acknowledged);
    // A new session: its stream starts at byte 0.
    void Restart();

    std::uint64_t Written() const { return m_written; }
    std::size_t Held() const { return m_ends.size() - m_first; }

private:
    // The ends from m_first on; those before it are forgotten, and moved out
    // once they are half, so a batch's ends are added without an allocation.
    std::vector<std::uint64_t> m_ends;
    std::size_t m_first = 0;
    std::uint64_t m_written = 0;
};
