#include "engine/RandomValues.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {
constexpr char HexDigits[] = "0123456789abcdef";

// "0".."255" with their lengths, for addresses, each with the dot that
// follows it within an address: one store an octet.
struct Octets {
    char text[256][4];
    std::uint8_t length[256];
};
constexpr Octets OctetTable = [] {
    Octets table{};
    for (int i = 0; i < 256; ++i) {
        int n = 0;
        if (i >= 100)
            table.text[i][n++] = static_cast<char>('0' + i / 100);
        if (i >= 10)
            table.text[i][n++] = static_cast<char>('0' + i / 10 % 10);
        table.text[i][n++] = static_cast<char>('0' + i % 10);
        table.length[i] = static_cast<std::uint8_t>(n);
        table.text[i][n] = '.';
    }
    return table;
}();

char *PutOctet(char *out, unsigned value)
{
    std::memcpy(out, OctetTable.text[value], 4);
    return out + OctetTable.length[value];
}

char *PutOctetAndDot(char *out, unsigned value)
{
    return PutOctet(out, value) + 1;
}

// First octets of unicast addresses: not 0, loopback or multicast and above.
constexpr std::array<std::uint8_t, 222> FirstOctets = [] {
    std::array<std::uint8_t, 222> octets{};
    std::size_t n = 0;
    for (int i = 1; i < 224; ++i)
        if (i != 127)
            octets[n++] = static_cast<std::uint8_t>(i);
    return octets;
}();

// The eight hex digits of value as the bytes of a word, the lowest nibble's
// in the lowest byte: a handful of operations instead of a lookup a digit.
std::uint64_t HexBytes(std::uint32_t value)
{
    std::uint64_t x = value;
    x = (x | x << 16) & 0x0000ffff0000ffffULL;
    x = (x | x << 8) & 0x00ff00ff00ff00ffULL;
    x = (x | x << 4) & 0x0f0f0f0f0f0f0f0fULL;
    // 1 in each byte of 10 and above, which become letters.
    const std::uint64_t letters = ((x + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
    return x + 0x3030303030303030ULL + letters * ('a' - '0' - 10);
}

// The word's lowest byte first.
void PutBytes(char *out, std::uint64_t word)
{
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    std::memcpy(out, &word, 8);
}

// The 16 hex digits of bits, the highest first.
void PutHex16(char *out, std::uint64_t bits)
{
    PutBytes(out, __builtin_bswap64(HexBytes(static_cast<std::uint32_t>(bits >> 32))));
    PutBytes(out + 8, __builtin_bswap64(HexBytes(static_cast<std::uint32_t>(bits))));
}

char *PutHexGroup(char *out, unsigned group)
{
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned digit = (group >> shift) & 0xf;
        if (digit != 0 || started || shift == 0) {
            *out++ = HexDigits[digit];
            started = true;
        }
    }
    return out;
}
} // namespace

char *WriteRandomIpv4(char *out, std::uint64_t bits)
{
    out = PutOctetAndDot(out, FirstOctets[UniformBelow(bits, FirstOctets.size())]);
    out = PutOctetAndDot(out, bits & 0xff);
    out = PutOctetAndDot(out, (bits >> 8) & 0xff);
    return PutOctet(out, 1 + static_cast<unsigned>(((bits >> 16) & 0xffff) * 254 >> 16));
}

// In 2000::/3, written as RFC 5952 asks: lowercase, no leading zeros, the
// longest run of two or more zero groups as "::".
char *WriteRandomIpv6(char *out, std::uint64_t high, std::uint64_t low)
{
    unsigned groups[8];
    for (int i = 0; i < 4; ++i) {
        groups[i] = static_cast<unsigned>(high >> (48 - 16 * i)) & 0xffff;
        groups[4 + i] = static_cast<unsigned>(low >> (48 - 16 * i)) & 0xffff;
    }
    groups[0] = 0x2000 | (groups[0] & 0x1fff);
    int bestAt = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestAt = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    for (int i = 0; i < 8; ++i) {
        if (i == bestAt) {
            *out++ = ':';
            *out++ = ':';
            i += bestLength - 1;
            continue;
        }
        if (i > 0 && i != bestAt + bestLength)
            *out++ = ':';
        out = PutHexGroup(out, groups[i]);
    }
    return out;
}

char *WriteRandomHex(char *out, std::size_t digits, const std::uint64_t *draws)
{
    for (; digits >= 16; digits -= 16, out += 16) {
        const std::uint64_t bits = *draws++;
        PutBytes(out, HexBytes(static_cast<std::uint32_t>(bits)));
        PutBytes(out + 8, HexBytes(static_cast<std::uint32_t>(bits >> 32)));
    }
    if (digits == 0)
        return out;
    // The last draw's digits in whole: the room allows it.
    PutBytes(out, HexBytes(static_cast<std::uint32_t>(*draws)));
    PutBytes(out + 8, HexBytes(static_cast<std::uint32_t>(*draws >> 32)));
    return out + digits;
}

char *WriteHexDigits(char *out, std::uint64_t bits, int digits)
{
    if (digits <= 0)
        return out;
    // The digits wanted at the top, so the first byte is the highest nibble.
    char text[16];
    PutHex16(text, digits >= 16 ? bits : bits << (64 - 4 * digits));
    const auto length = static_cast<std::size_t>(std::min(digits, 16));
    std::memcpy(out, text, length);
    return out + length;
}

char *WriteRandomUuid(char *out, std::uint64_t high, std::uint64_t low)
{
    high = (high & ~0xf000ULL) | 0x4000ULL;
    low = (low & ~(3ULL << 62)) | (2ULL << 62);
    char text[32];
    PutHex16(text, high);
    PutHex16(text + 16, low);
    std::memcpy(out, text, 8);
    out[8] = '-';
    std::memcpy(out + 9, text + 8, 4);
    out[13] = '-';
    std::memcpy(out + 14, text + 12, 4);
    out[18] = '-';
    std::memcpy(out + 19, text + 16, 4);
    out[23] = '-';
    std::memcpy(out + 24, text + 20, 12);
    return out + 36;
}
