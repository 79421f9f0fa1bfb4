#pragma once

#include <cstdint>
#include <string>

class Clock;

// Writes RFC 3339 timestamps with microseconds and the local offset
// ("2026-12-07T14:03:09.123456+01:00", "Z" for UTC) for a stream of messages.
// The offset is asked of the clock once per minute of clock time and the
// date and time text is formed once per second, so a message costs one clock
// reading and a few copies.
class Rfc3339Timestamp {
public:
    explicit Rfc3339Timestamp(const Clock &clock);

    void AppendNow(std::string &out);
    void AppendAt(std::string &out, std::int64_t epochMicroseconds);

    // For a writer that kept the last timestamp written: an instant in the
    // same second differs from it only in the fraction, whose six digits
    // (at FractionOffset in that text) this writes over; false, writing
    // nothing, for an instant in another second.
    bool RewriteFraction(char *digits, std::int64_t epochMicroseconds) const;
    static constexpr std::size_t FractionOffset = 20;

private:
    void Refresh(std::int64_t epochSeconds);

    const Clock &m_clock;
    std::int64_t m_offsetMinute;
    std::int64_t m_second;
    int m_offsetSeconds = 0;
    // YYYY-MM-DDTHH:MM:SS.ffffff then Z or +hh:mm: only the fraction is
    // written per message, and the whole goes out in one append.
    char m_text[32] = {};
    std::size_t m_length = 0;
};
