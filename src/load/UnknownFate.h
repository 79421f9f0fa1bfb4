#pragma once

#include <cstdint>
#include <deque>

// Where the recent messages of one session end in its byte stream, so the
// bytes a broken session's peer never acknowledged become the messages they
// belonged to: those messages may or may not have arrived.
class UnknownFate {
public:
    // The next message of the stream, this many bytes long.
    void Add(std::uint64_t bytes);
    // Messages that end after this many bytes of the stream (one cut short
    // included).
    std::int64_t After(std::uint64_t acknowledged) const;
    // Forgets messages the peer has acknowledged whole: their fate is known.
    void Forget(std::uint64_t acknowledged);
    // A new session: its stream starts at byte 0.
    void Restart();

    std::uint64_t Written() const { return m_written; }
    std::size_t Held() const { return m_ends.size(); }

private:
    std::deque<std::uint64_t> m_ends;
    std::uint64_t m_written = 0;
};
