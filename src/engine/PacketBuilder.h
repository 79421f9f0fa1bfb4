#pragma once

#include "common/SendState.h"

#include <cstdint>
#include <string>
#include <string_view>

struct ComposedView;

inline constexpr std::size_t OversizePadding = 2048;

// The hex digits after "HEX=" as bytes: pairs run together or separated by
// single spaces. Non-hex characters end a pair early or give 0; never an error.
std::string DecodeHexBytes(std::string_view digits);

// The bytes of one packet. Draws two NextRandom values when corrupt is set.
std::string BuildSyslogPacket(std::int32_t priority, std::string_view originalAddressText,
                              std::string_view rfcHeaderText, std::string_view messageBody, bool noPriority,
                              bool corrupt, bool sendHugePackets, bool addCrLf);

// The same bytes appended to out, whose capacity a caller can keep from
// packet to packet.
void AppendSyslogPacket(std::string &out, std::int32_t priority, std::string_view originalAddressText,
                        std::string_view rfcHeaderText, std::string_view messageBody, bool noPriority, bool corrupt,
                        bool sendHugePackets, bool addCrLf);

// An RFC 5424 packet: PRI, then the header from VERSION to STRUCTURED-DATA,
// then, when the body is not empty, a space, the BOM when asked for and the
// body. A "HEX=" body, corruption, padding and CR LF as for RFC 3164.
void AppendRfc5424Packet(std::string &out, std::int32_t priority, std::string_view header, std::string_view messageBody,
                         bool utf8Bom, bool noPriority, bool corrupt, bool sendHugePackets, bool addCrLf);

// The packet of a composed message in its format.
void AppendComposedPacket(std::string &out, std::int32_t priority, const ComposedView &message, bool noPriority,
                          bool corrupt, bool sendHugePackets, bool addCrLf);

// Adds one to MessagesSent, wrapping at 1,000,000.
void CountMessageSent(SendState &state);
