#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class Clock;

// The time formats a message template writes.
enum class TimeFormat {
    Rfc3339,      // 2026-12-07T14:03:09.123+01:00 (Z at UTC)
    Rfc3339Micro, // 2026-12-07T14:03:09.123456+01:00, as RFC 5424 headers carry it
    Rfc3164,      // Dec  7 14:03:09
    Epoch,        // 1796652189
    EpochMs,      // 1796652189123
    Apache,       // 07/Dec/2026:14:03:09 +0100
    Strftime,     // any strftime format, in the C locale (%Z: "UTC" at offset 0, nothing elsewhere)
};

// A template's name for a format ("rfc3339", "epoch_ms", ...), or nothing.
std::optional<TimeFormat> ParseTimeFormat(std::string_view name);

// The local time of an instant as text in one format, kept between calls
// and made again only when the instant leaves its unit: the second, or the
// millisecond for the formats that show one (the microsecond format
// rewrites its fraction only). The UTC offset is asked of the clock once per
// minute.
class TimeText {
public:
    static constexpr std::size_t Longest = 96;

    // strftimeFormat only for TimeFormat::Strftime.
    TimeText(TimeFormat format, const Clock &clock, std::string strftimeFormat = {});

    // Inlined where it is asked once a slot: within a batch the instant stays.
    std::string_view At(std::int64_t epochMicroseconds)
    {
        if (epochMicroseconds == m_instant)
            return std::string_view(m_text, m_length);
        return AtNew(epochMicroseconds);
    }

    // Why a strftime format cannot be used (it writes nothing, or more than
    // Longest bytes), or nothing.
    [[nodiscard]] static std::string CheckStrftime(const std::string &format);

private:
    void Make(std::int64_t epochMicroseconds);

    std::string_view AtNew(std::int64_t epochMicroseconds);

    TimeFormat m_format;
    const Clock *m_clock;
    std::string m_strftime;
    // The instant last asked for: a batch of messages asks for one.
    std::int64_t m_instant;
    std::int64_t m_unit;
    std::int64_t m_second;
    std::int64_t m_offsetMinute;
    int m_offsetSeconds = 0;
    // Where the fraction sits in m_text, for the formats that show one.
    std::size_t m_fractionAt = 0;
    char m_text[Longest] = {};
    std::size_t m_length = 0;
};
