#include "proof/LatencyHistogram.h"

#include <bit>

namespace LatencyBuckets {
std::size_t IndexOf(std::uint64_t us)
{
    if (us < Exact)
        return static_cast<std::size_t>(us);
    const int exponent = std::bit_width(us) - 1;
    if (exponent > MaxExponent)
        return Count - 1;
    const std::uint64_t sub = (us >> (exponent - SubBits)) & ((std::uint64_t{1} << SubBits) - 1);
    return Exact + static_cast<std::size_t>(exponent - SubBits - 1) * (std::size_t{1} << SubBits) +
           static_cast<std::size_t>(sub);
}

std::uint64_t ValueOf(std::size_t index)
{
    if (index < Exact)
        return index;
    const std::size_t perPower = std::size_t{1} << SubBits;
    const int exponent = static_cast<int>((index - Exact) / perPower) + SubBits + 1;
    const std::uint64_t sub = (index - Exact) % perPower;
    const int shift = exponent - SubBits;
    const std::uint64_t low = (perPower + sub) << shift;
    return low + ((std::uint64_t{1} << shift) >> 1);
}
} // namespace LatencyBuckets
