#include "common/Random.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__) && defined(__GNUC__)
using Lanes = std::uint64_t __attribute__((vector_size(64)));

// All the draws, eight at a time.
__attribute__((target("avx512f,avx512dq"))) void MixEight(std::uint64_t *bits, std::size_t count, std::uint64_t state)
{
    const Lanes steps = Lanes{1, 2, 3, 4, 5, 6, 7, 8} * Gamma;
    for (std::size_t i = 0; i < count; i += 8) {
        Lanes z = (state + i * Gamma) + steps;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        const auto left = static_cast<unsigned>(std::min<std::size_t>(count - i, 8));
        _mm512_mask_storeu_epi64(bits + i, static_cast<__mmask8>((1u << left) - 1), reinterpret_cast<__m512i>(z));
    }
}
#endif

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
    g_state = state + count * Gamma;
#if defined(__x86_64__) && defined(__GNUC__)
    // Eight at a time where the machine multiplies 64-bit lanes; the bits
    // are the same either way.
    if (__builtin_cpu_supports("avx512dq")) {
        MixEight(bits, count, state);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i)
        bits[i] = Mix(state + (i + 1) * Gamma);
}

std::int32_t RandomInteger(std::int32_t base, std::int32_t count)
{
    return base + static_cast<std::int32_t>(std::floor(NextRandom() * count));
}
