#pragma once

#include <cstdint>
#include <memory>

struct LocalDateTime {
    int year = 2010;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The wall clock, behind an interface so tests can set the date and time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
    // Seconds since local midnight, with a fraction, in single precision.
    virtual float SecondsSinceMidnight() const;
    // Microseconds since 1970-01-01 00:00 UTC. By default Now() read as UTC,
    // which agrees with the default offset of 0.
    virtual std::int64_t EpochMicroseconds() const;
    // Local time minus UTC, in seconds, at the given instant. A time-zone
    // lookup, so callers keep its answer for a while.
    virtual int UtcOffsetSeconds(std::int64_t epochSeconds) const;
};

class SystemClock final : public Clock {
public:
    LocalDateTime Now() const override;
    std::int64_t EpochMicroseconds() const override;
    int UtcOffsetSeconds(std::int64_t epochSeconds) const override;
};

// The English month abbreviation, whatever the locale: "Jan" for 1.
const char *MonthAbbreviation(int month);

// Calendar arithmetic on the proleptic Gregorian calendar, no time zone.
std::int64_t EpochSecondsOf(const LocalDateTime &time);
LocalDateTime DateTimeOfEpochSeconds(std::int64_t seconds);
