#include "engine/RandomValues.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {
constexpr char HexDigits[] = "0123456789abcdef";

// "0".."255" with their lengths, for addresses.
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
    }
    return table;
}();

char *PutOctet(char *out, unsigned value)
{
    std::memcpy(out, OctetTable.text[value], 4);
    return out + OctetTable.length[value];
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
    out = PutOctet(out, FirstOctets[UniformBelow(bits, FirstOctets.size())]);
    *out++ = '.';
    out = PutOctet(out, bits & 0xff);
    *out++ = '.';
    out = PutOctet(out, (bits >> 8) & 0xff);
    *out++ = '.';
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
    while (digits > 0) {
        std::uint64_t bits = *draws++;
        const std::size_t now = std::min<std::size_t>(digits, 16);
        for (std::size_t i = 0; i < now; ++i, bits >>= 4)
            *out++ = HexDigits[bits & 0xf];
        digits -= now;
    }
    return out;
}

char *WriteHexDigits(char *out, std::uint64_t bits, int digits)
{
    for (int i = digits - 1; i >= 0; --i, bits >>= 4)
        out[i] = HexDigits[bits & 0xf];
    return out + digits;
}

char *WriteRandomUuid(char *out, std::uint64_t high, std::uint64_t low)
{
    high = (high & ~0xf000ULL) | 0x4000ULL;
    low = (low & ~(3ULL << 62)) | (2ULL << 62);
    out = WriteHexDigits(out, high >> 32, 8);
    *out++ = '-';
    out = WriteHexDigits(out, high >> 16, 4);
    *out++ = '-';
    out = WriteHexDigits(out, high, 4);
    *out++ = '-';
    out = WriteHexDigits(out, low >> 48, 4);
    *out++ = '-';
    return WriteHexDigits(out, low, 12);
}
