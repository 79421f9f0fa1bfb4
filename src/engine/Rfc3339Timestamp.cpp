#include "engine/Rfc3339Timestamp.h"

#include "common/Clock.h"

#include <limits>

namespace {
constexpr std::int64_t Never = std::numeric_limits<std::int64_t>::min();

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

void PutDigits(char *at, std::int64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i, value /= 10)
        at[i] = static_cast<char>('0' + value % 10);
}

// Six digits two at a time: this runs for every message.
void PutFraction(char *at, std::uint32_t micros)
{
    static constexpr char Pairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                    "8081828384858687888990919293949596979899";
    const std::uint32_t parts[3] = {micros / 10000, micros / 100 % 100, micros % 100};
    for (int i = 0; i < 3; ++i) {
        at[2 * i] = Pairs[2 * parts[i]];
        at[2 * i + 1] = Pairs[2 * parts[i] + 1];
    }
}
} // namespace

Rfc3339Timestamp::Rfc3339Timestamp(const Clock &clock) : m_clock(clock), m_offsetMinute(Never), m_second(Never)
{}

void Rfc3339Timestamp::AppendNow(std::string &out)
{
    AppendAt(out, m_clock.EpochMicroseconds());
}

void Rfc3339Timestamp::AppendAt(std::string &out, std::int64_t epochMicroseconds)
{
    const std::int64_t seconds = FloorDiv(epochMicroseconds, 1000000);
    if (seconds != m_second)
        Refresh(seconds);
    PutFraction(m_text + FractionOffset, static_cast<std::uint32_t>(epochMicroseconds - seconds * 1000000));
    out.append(m_text, m_length);
}

bool Rfc3339Timestamp::RewriteFraction(char *digits, std::int64_t epochMicroseconds) const
{
    if (m_second == Never)
        return false;
    const std::int64_t fraction = epochMicroseconds - m_second * 1000000;
    if (fraction < 0 || fraction >= 1000000)
        return false;
    PutFraction(digits, static_cast<std::uint32_t>(fraction));
    return true;
}

void Rfc3339Timestamp::Refresh(std::int64_t epochSeconds)
{
    m_second = epochSeconds;
    const std::int64_t minute = FloorDiv(epochSeconds, 60);
    char *offset = m_text + FractionOffset + 6;
    if (minute != m_offsetMinute) {
        m_offsetMinute = minute;
        // RFC 3339 offsets have no seconds; the local time is shifted by the
        // offset as written so the two agree.
        const int offsetMinutes = m_clock.UtcOffsetSeconds(epochSeconds) / 60;
        m_offsetSeconds = offsetMinutes * 60;
        if (offsetMinutes == 0) {
            offset[0] = 'Z';
            m_length = FractionOffset + 7;
        } else {
            const int size = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
            offset[0] = offsetMinutes < 0 ? '-' : '+';
            PutDigits(offset + 1, size / 60 % 100, 2);
            offset[3] = ':';
            PutDigits(offset + 4, size % 60, 2);
            m_length = FractionOffset + 12;
        }
    }
    const LocalDateTime local = DateTimeOfEpochSeconds(epochSeconds + m_offsetSeconds);
    char *t = m_text;
    PutDigits(t, local.year < 0 ? 0 : local.year % 10000, 4);
    t[4] = '-';
    PutDigits(t + 5, local.month, 2);
    t[7] = '-';
    PutDigits(t + 8, local.day, 2);
    t[10] = 'T';
    PutDigits(t + 11, local.hour, 2);
    t[13] = ':';
    PutDigits(t + 14, local.minute, 2);
    t[16] = ':';
    PutDigits(t + 17, local.second, 2);
    t[19] = '.';
}
