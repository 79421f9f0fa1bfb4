#pragma once

#include <cstdint>

// The one program-wide pseudo-random sequence. It always starts from the same
// state and is never reseeded, so every run makes the same choices.
double NextRandom();

// base + floor(NextRandom() * count)
std::int32_t RandomInteger(std::int32_t base, std::int32_t count);
