#pragma once

#include <cstddef>
#include <cstdint>

// Random values written as text into a buffer with room for them, made of
// draws of the program's random sequence (common/Random.h) the caller hands
// over, so a message takes its draws in one go. Each returns the end of
// what it wrote.

// The high 64 bits of bits * count: an index below count, as likely as any
// other, from 64 random bits.
inline std::uint64_t UniformBelow(std::uint64_t bits, std::uint64_t count)
{
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint64_t>((static_cast<Wide>(bits) * count) >> 64);
}

// A unicast IPv4 address (no 0., 127. or multicast and above; the last octet
// 1..254) from one draw: at most 15 bytes.
char *WriteRandomIpv4(char *out, std::uint64_t bits);
// An IPv6 address in 2000::/3 as RFC 5952 writes it, from two draws: at
// most 39 bytes.
char *WriteRandomIpv6(char *out, std::uint64_t high, std::uint64_t low);
// A version 4 UUID from two draws: 36 bytes.
char *WriteRandomUuid(char *out, std::uint64_t high, std::uint64_t low);
// digits random lowercase hex digits, 16 from each draw; out has room for
// them rounded up to a multiple of 16.
char *WriteRandomHex(char *out, std::size_t digits, const std::uint64_t *bits);
// The low digits hex digits of bits, the most significant first.
char *WriteHexDigits(char *out, std::uint64_t bits, int digits);
