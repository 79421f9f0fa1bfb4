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

private:
    void Refresh(std::int64_t epochSeconds);

    const Clock &m_clock;
    std::int64_t m_offsetMinute;
    std::int64_t m_second;
    int m_offsetSeconds = 0;
    char m_secondText[19] = {};   // YYYY-MM-DDTHH:MM:SS
    char m_offsetText[6] = {'Z'}; // Z or +hh:mm
    std::size_t m_offsetLength = 1;
};
