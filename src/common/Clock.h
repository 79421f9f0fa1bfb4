#pragma once

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
};

class SystemClock final : public Clock {
public:
    LocalDateTime Now() const override;
};

// The English month abbreviation, whatever the locale: "Jan" for 1.
const char *MonthAbbreviation(int month);
