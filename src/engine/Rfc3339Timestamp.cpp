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
    char fraction[7] = {'.'};
    PutDigits(fraction + 1, epochMicroseconds - seconds * 1000000, 6);
    out.append(m_secondText, sizeof m_secondText);
    out.append(fraction, sizeof fraction);
    out.append(m_offsetText, m_offsetLength);
}

void Rfc3339Timestamp::Refresh(std::int64_t epochSeconds)
{
    m_second = epochSeconds;
    const std::int64_t minute = FloorDiv(epochSeconds, 60);
    if (minute != m_offsetMinute) {
        m_offsetMinute = minute;
        // RFC 3339 offsets have no seconds; the local time is shifted by the
        // offset as written so the two agree.
        const int offsetMinutes = m_clock.UtcOffsetSeconds(epochSeconds) / 60;
        m_offsetSeconds = offsetMinutes * 60;
        if (offsetMinutes == 0) {
            m_offsetText[0] = 'Z';
            m_offsetLength = 1;
        } else {
            const int size = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
            m_offsetText[0] = offsetMinutes < 0 ? '-' : '+';
            PutDigits(m_offsetText + 1, size / 60 % 100, 2);
            m_offsetText[3] = ':';
            PutDigits(m_offsetText + 4, size % 60, 2);
            m_offsetLength = 6;
        }
    }
    const LocalDateTime local = DateTimeOfEpochSeconds(epochSeconds + m_offsetSeconds);
    char *t = m_secondText;
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
}
