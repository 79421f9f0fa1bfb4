#include "engine/TimeText.h"

#include "common/Clock.h"

#include <charconv>
#include <clocale>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale.h>

namespace {
constexpr std::int64_t Never = std::numeric_limits<std::int64_t>::min();

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

char *PutDigits(char *at, std::int64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i, value /= 10)
        at[i] = static_cast<char>('0' + value % 10);
    return at + count;
}

// "+01:00" (colon) or "+0100"; "Z" for UTC where zulu is set.
char *PutOffset(char *at, int offsetSeconds, bool colon, bool zulu)
{
    const int minutes = offsetSeconds / 60;
    if (minutes == 0 && zulu) {
        *at++ = 'Z';
        return at;
    }
    const int size = minutes < 0 ? -minutes : minutes;
    *at++ = minutes < 0 ? '-' : '+';
    at = PutDigits(at, size / 60 % 100, 2);
    if (colon)
        *at++ = ':';
    return PutDigits(at, size % 60, 2);
}

// strftime in the C locale, so month and day names are the same whatever
// the user's locale (Qt sets it from the environment).
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

std::tm BrokenDown(std::int64_t epochSeconds, int offsetSeconds)
{
    const std::int64_t local = epochSeconds + offsetSeconds;
    const LocalDateTime time = DateTimeOfEpochSeconds(local);
    const std::int64_t days = FloorDiv(local, 86400);
    std::tm tm{};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_wday = static_cast<int>(((days + 4) % 7 + 7) % 7);
    tm.tm_yday = static_cast<int>(days - EpochSecondsOf(LocalDateTime{time.year, 1, 1, 0, 0, 0, 0}) / 86400);
    tm.tm_isdst = 0;
    tm.tm_gmtoff = offsetSeconds;
    tm.tm_zone = offsetSeconds == 0 ? "UTC" : "";
    return tm;
}
} // namespace

std::optional<TimeFormat> ParseTimeFormat(std::string_view name)
{
    static constexpr std::pair<std::string_view, TimeFormat> Names[] = {
        {"rfc3339", TimeFormat::Rfc3339}, {"rfc3339_us", TimeFormat::Rfc3339Micro}, {"rfc3164", TimeFormat::Rfc3164},
        {"epoch", TimeFormat::Epoch},     {"epoch_ms", TimeFormat::EpochMs},        {"apache", TimeFormat::Apache},
    };
    for (const auto &[text, format] : Names)
        if (text == name)
            return format;
    return std::nullopt;
}

TimeText::TimeText(TimeFormat format, const Clock &clock, std::string strftimeFormat)
    : m_format(format), m_clock(&clock), m_strftime(std::move(strftimeFormat)), m_instant(Never), m_unit(Never),
      m_second(Never), m_offsetMinute(Never)
{}

std::string_view TimeText::AtNew(std::int64_t epochMicroseconds)
{
    m_instant = epochMicroseconds;
    std::int64_t unit = epochMicroseconds;
    switch (m_format) {
    case TimeFormat::Rfc3339:
    case TimeFormat::EpochMs:
        unit = FloorDiv(epochMicroseconds, 1000);
        break;
    case TimeFormat::Rfc3339Micro:
        break;
    default:
        unit = FloorDiv(epochMicroseconds, 1000000);
    }
    if (unit != m_unit) {
        m_unit = unit;
        Make(epochMicroseconds);
    }
    return std::string_view(m_text, m_length);
}

void TimeText::Make(std::int64_t epochMicroseconds)
{
    const std::int64_t second = FloorDiv(epochMicroseconds, 1000000);
    const std::int64_t micros = epochMicroseconds - second * 1000000;
    const bool fraction = m_format == TimeFormat::Rfc3339 || m_format == TimeFormat::Rfc3339Micro;
    // Within its second only the fraction changes.
    if (fraction && second == m_second) {
        if (m_format == TimeFormat::Rfc3339)
            PutDigits(m_text + m_fractionAt, micros / 1000, 3);
        else
            PutDigits(m_text + m_fractionAt, micros, 6);
        return;
    }
    m_second = second;
    const std::int64_t minute = FloorDiv(second, 60);
    if (minute != m_offsetMinute) {
        m_offsetMinute = minute;
        // Offsets are written in whole minutes: the local time agrees with them.
        m_offsetSeconds = m_clock->UtcOffsetSeconds(second) / 60 * 60;
    }
    const LocalDateTime local = DateTimeOfEpochSeconds(second + m_offsetSeconds);
    char *at = m_text;
    switch (m_format) {
    case TimeFormat::Rfc3339:
    case TimeFormat::Rfc3339Micro:
        at = PutDigits(at, local.year < 0 ? 0 : local.year % 10000, 4);
        *at++ = '-';
        at = PutDigits(at, local.month, 2);
        *at++ = '-';
        at = PutDigits(at, local.day, 2);
        *at++ = 'T';
        at = PutDigits(at, local.hour, 2);
        *at++ = ':';
        at = PutDigits(at, local.minute, 2);
        *at++ = ':';
        at = PutDigits(at, local.second, 2);
        *at++ = '.';
        m_fractionAt = static_cast<std::size_t>(at - m_text);
        at = m_format == TimeFormat::Rfc3339 ? PutDigits(at, micros / 1000, 3) : PutDigits(at, micros, 6);
        at = PutOffset(at, m_offsetSeconds, true, true);
        break;
    case TimeFormat::Rfc3164:
        std::memcpy(at, MonthAbbreviation(local.month), 3);
        at += 3;
        *at++ = ' ';
        *at++ = local.day < 10 ? ' ' : static_cast<char>('0' + local.day / 10);
        *at++ = static_cast<char>('0' + local.day % 10);
        *at++ = ' ';
        at = PutDigits(at, local.hour, 2);
        *at++ = ':';
        at = PutDigits(at, local.minute, 2);
        *at++ = ':';
        at = PutDigits(at, local.second, 2);
        break;
    case TimeFormat::Epoch:
        at = std::to_chars(at, m_text + Longest, second).ptr;
        break;
    case TimeFormat::EpochMs:
        at = std::to_chars(at, m_text + Longest, FloorDiv(epochMicroseconds, 1000)).ptr;
        break;
    case TimeFormat::Apache:
        at = PutDigits(at, local.day, 2);
        *at++ = '/';
        std::memcpy(at, MonthAbbreviation(local.month), 3);
        at += 3;
        *at++ = '/';
        at = PutDigits(at, local.year < 0 ? 0 : local.year % 10000, 4);
        *at++ = ':';
        at = PutDigits(at, local.hour, 2);
        *at++ = ':';
        at = PutDigits(at, local.minute, 2);
        *at++ = ':';
        at = PutDigits(at, local.second, 2);
        *at++ = ' ';
        at = PutOffset(at, m_offsetSeconds, false, false);
        break;
    case TimeFormat::Strftime: {
        const std::tm tm = BrokenDown(second, m_offsetSeconds);
        at += strftime_l(m_text, Longest, m_strftime.c_str(), &tm, CLocale());
        break;
    }
    }
    m_length = static_cast<std::size_t>(at - m_text);
}

std::string TimeText::CheckStrftime(const std::string &format)
{
    // A Wednesday in September with two-digit fields: the longest names and
    // numbers, so no other date writes longer.
    const std::tm tm = BrokenDown(EpochSecondsOf(LocalDateTime{2026, 9, 30, 23, 59, 59, 0}), -12 * 3600);
    char text[Longest];
    if (strftime_l(text, sizeof text, format.c_str(), &tm, CLocale()) == 0)
        return "the time format '" + format + "' writes nothing or more than " + std::to_string(Longest - 1) + " bytes";
    return {};
}
