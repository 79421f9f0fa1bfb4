#pragma once

#include <cstdint>
#include <string>

// What the window's handlers share. Texts are byte strings: widget text is
// captured as UTF-8, file contents are kept byte for byte.
struct SendState {
    std::int32_t MessagesSent = 0;
    std::int32_t LastMessagesSent = 0;
    std::int32_t SequenceNumber = 0;
    std::string TargetAddress;
    std::string SourceAddress;
    std::string MessageText;
    std::string MultiLineText;
    std::int16_t Priority = 0;
    std::string SubnetPrefix;
    std::int16_t CorruptData = 0;
    std::int32_t BurstSize = 100;
    std::string SourceFileName;
    std::int16_t SourceFileHandle = 0;
    std::int16_t LocalDisconnect = 0; // 0 false, -1 true
};

// Counters that wrap from 999,999 to 0.
inline constexpr std::int32_t CounterWrap = 1000000;
