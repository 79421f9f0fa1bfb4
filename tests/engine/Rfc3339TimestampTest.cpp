#include "engine/Rfc3339Timestamp.h"
#include "common/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {
constexpr std::int64_t December7 = 1796648589; // 2026-12-07T13:03:09Z
constexpr std::int64_t Micro = 1000000;

// An instant the test sets and an offset that changes at a set instant;
// counts the offset lookups.
class EpochClock final : public Clock {
public:
    LocalDateTime Now() const override { return {}; }
    std::int64_t EpochMicroseconds() const override { return micros; }
    int UtcOffsetSeconds(std::int64_t seconds) const override
    {
        ++lookups;
        return seconds < changeAt ? before : after;
    }
    std::int64_t micros = December7 * Micro + 123456;
    int before = 3600, after = 3600;
    std::int64_t changeAt = 0;
    mutable int lookups = 0;
};

TEST(Rfc3339Timestamp, WritesLocalTimeWithMicrosecondsAndTheOffset)
{
    const std::tuple<std::int64_t, int, std::string> cases[] = {
        {December7 * Micro + 123456, 3600, "2026-12-07T14:03:09.123456+01:00"},
        {December7 * Micro + 123456, -19800, "2026-12-07T07:33:09.123456-05:30"},
        {December7 * Micro + 7, 0, "2026-12-07T13:03:09.000007Z"},
        {December7 * Micro, -75, "2026-12-07T13:02:09.000000-00:01"}, // no seconds in an RFC 3339 offset
        {1798768800 * Micro + 1, -19800, "2026-12-31T20:30:00.000001-05:30"},
        {1835481599 * Micro + 999999, 3600, "2028-03-01T00:59:59.999999+01:00"},
        {-500000, 0, "1969-12-31T23:59:59.500000Z"},
    };
    for (const auto &[micros, offset, expected] : cases) {
        EpochClock clock;
        clock.micros = micros, clock.before = clock.after = offset;
        Rfc3339Timestamp timestamp(clock);
        std::string out = "x";
        timestamp.AppendNow(out);
        EXPECT_EQ(out, "x" + expected);
    }
}

TEST(Rfc3339Timestamp, AsksForTheOffsetOncePerMinuteAndFollowsItsChange)
{
    constexpr std::int64_t change = 1774746000; // 2026-03-29T01:00:00Z, summer time begins
    EpochClock clock;
    clock.changeAt = change, clock.after = 7200;
    Rfc3339Timestamp timestamp(clock);
    const std::pair<std::int64_t, std::string> readings[] = {
        {(change - 2) * Micro + 999999, "2026-03-29T01:59:58.999999+01:00"},
        {(change - 1) * Micro, "2026-03-29T01:59:59.000000+01:00"},
        {(change - 1) * Micro + 500000, "2026-03-29T01:59:59.500000+01:00"},
        {change * Micro, "2026-03-29T03:00:00.000000+02:00"},
        {change * Micro + 250000, "2026-03-29T03:00:00.250000+02:00"},
        {(change + 61) * Micro, "2026-03-29T03:01:01.000000+02:00"},
    };
    std::string out;
    for (const auto &[micros, expected] : readings) {
        out.clear();
        timestamp.AppendAt(out, micros);
        EXPECT_EQ(out, expected);
    }
    EXPECT_EQ(clock.lookups, 3);
}

// POSIX zone rules need no zone files: Central European time, summer time from
// the last Sunday of March.
TEST(SystemClock, ReadsTheOffsetOfTheLocalZone)
{
    const char *saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    const SystemClock system;
    const int winter = system.UtcOffsetSeconds(1774746000 - 1), summer = system.UtcOffsetSeconds(1774746000);
    saved ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ(winter, 3600);
    EXPECT_EQ(summer, 7200);
}
} // namespace
