#pragma once

#include <cstddef>
#include <cstdint>

// Random values written as text into a buffer with room for them, each drawn
// from the program's random sequence (common/Random.h). Each returns the end
// of what it wrote.

// The high 64 bits of bits * count: an index below count, as likely as any
// other, from 64 random bits.
std::uint64_t UniformBelow(std::uint64_t bits, std::uint64_t count);

// A unicast IPv4 address (no 0., 127. or multicast and above; the last octet
// 1..254): at most 15 bytes.
char *WriteRandomIpv4(char *out);
// An IPv6 address in 2000::/3 as RFC 5952 writes it: at most 39 bytes.
char *WriteRandomIpv6(char *out);
// A version 4 UUID: 36 bytes.
char *WriteRandomUuid(char *out);
// digits random lowercase hex digits.
char *WriteRandomHex(char *out, std::size_t digits);
// The low digits hex digits of bits, the most significant first.
char *WriteHexDigits(char *out, std::uint64_t bits, int digits);
