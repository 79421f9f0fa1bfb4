#pragma once

#include <cstddef>
#include <cstdint>

// The one program-wide pseudo-random sequence. Every program starts it from
// FixedRandomStart, so every run makes the same choices; only the command
// line's --seed starts it elsewhere.
inline constexpr std::uint64_t FixedRandomStart = 0x5157454e51554c4cULL;

// Restarts the sequence from the given state: equal states give equal
// sequences.
void SetRandomStart(std::uint64_t state);

double NextRandom();

// The next 64 bits of the same sequence, for draws that need more than a
// double's 53 (a uniform integer in a wide range, hex digits, addresses).
std::uint64_t NextRandomBits();
// The next count draws of NextRandomBits at once, for a caller that needs
// many a message.
void NextRandomBlock(std::uint64_t *bits, std::size_t count);
// The double NextRandom makes of a draw of NextRandomBits.
constexpr double RandomFraction(std::uint64_t bits)
{
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

// base + floor(NextRandom() * count)
std::int32_t RandomInteger(std::int32_t base, std::int32_t count);
