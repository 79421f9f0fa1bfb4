#include "common/Random.h"

#include <cmath>

namespace {
// splitmix64: small and fast, and any state is a good start.
// Per thread, so sending threads each follow a sequence of their own.
thread_local std::uint64_t g_state = FixedRandomStart;
constexpr std::uint64_t Gamma = 0x9e3779b97f4a7c15ULL;

std::uint64_t Mix(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t NextBits()
{
    return Mix(g_state += Gamma);
}
} // namespace

void SetRandomStart(std::uint64_t state)
{
    g_state = state;
}

double NextRandom()
{
    // 53 random bits give a double in [0, 1) that never rounds up to 1.
    return RandomFraction(NextBits());
}

std::uint64_t NextRandomBits()
{
    return NextBits();
}

void NextRandomBlock(std::uint64_t *bits, std::size_t count)
{
    // Each draw mixes its own step of the state, so the draws of a block
    // overlap rather than wait on one another.
    const std::uint64_t state = g_state;
    for (std::size_t i = 0; i < count; ++i)
        bits[i] = Mix(state + (i + 1) * Gamma);
    g_state = state + count * Gamma;
}

std::int32_t RandomInteger(std::int32_t base, std::int32_t count)
{
    return base + static_cast<std::int32_t>(std::floor(NextRandom() * count));
}
