#include "common/Clock.h"

#include <chrono>
#include <ctime>

float Clock::SecondsSinceMidnight() const
{
    const LocalDateTime now = Now();
    return static_cast<float>(now.hour * 3600 + now.minute * 60 + now.second) +
           static_cast<float>(now.millisecond) / 1000.0f;
}

std::int64_t Clock::EpochMicroseconds() const
{
    const LocalDateTime now = Now();
    return EpochSecondsOf(now) * 1000000 + static_cast<std::int64_t>(now.millisecond) * 1000;
}

int Clock::UtcOffsetSeconds(std::int64_t) const
{
    return 0;
}

LocalDateTime SystemClock::Now() const
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalDateTime result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec;
    result.millisecond = static_cast<int>(millis < 0 ? millis + 1000 : millis);
    return result;
}

std::int64_t SystemClock::EpochMicroseconds() const
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int SystemClock::UtcOffsetSeconds(std::int64_t epochSeconds) const
{
    const std::time_t seconds = static_cast<std::time_t>(epochSeconds);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return 0;
    return static_cast<int>(local.tm_gmtoff);
}

const char *MonthAbbreviation(int month)
{
    static const char *const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12)
        return "Jan";
    return names[month - 1];
}

std::int64_t EpochSecondsOf(const LocalDateTime &time)
{
    using namespace std::chrono;
    const sys_days date = year(time.year) / time.month / time.day;
    return date.time_since_epoch().count() * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

LocalDateTime DateTimeOfEpochSeconds(std::int64_t seconds)
{
    using namespace std::chrono;
    const sys_seconds instant{std::chrono::seconds(seconds)};
    const sys_days date = floor<days>(instant);
    const year_month_day ymd(date);
    const hh_mm_ss<std::chrono::seconds> time(instant - date);
    LocalDateTime result;
    result.year = static_cast<int>(ymd.year());
    result.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    result.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    result.hour = static_cast<int>(time.hours().count());
    result.minute = static_cast<int>(time.minutes().count());
    result.second = static_cast<int>(time.seconds().count());
    return result;
}
