#include "common/Clock.h"

#include <chrono>
#include <ctime>

float Clock::SecondsSinceMidnight() const
{
    const LocalDateTime now = Now();
    return static_cast<float>(now.hour * 3600 + now.minute * 60 + now.second) + static_cast<float>(now.millisecond) / 1000.0f;
}

LocalDateTime SystemClock::Now() const
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
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

const char *MonthAbbreviation(int month)
{
    static const char *const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12)
        return "Jan";
    return names[month - 1];
}
