#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

struct LatencyFigures {
    std::uint64_t samples = 0;
    std::uint64_t p50 = 0;
    std::uint64_t p99 = 0;
    std::uint64_t max = 0;
};

// Latencies in microseconds in fixed log-linear buckets: exact below 32,
// then 16 buckets per power of two (within 6.25 %), up to about 25 days;
// longer ones land in the last bucket. Adding never allocates.
namespace LatencyBuckets {
inline constexpr int SubBits = 4;
inline constexpr int MaxExponent = 40;
inline constexpr std::size_t Exact = std::size_t{2} << SubBits;
inline constexpr std::size_t Count = Exact + (MaxExponent - SubBits) * (std::size_t{1} << SubBits);
std::size_t IndexOf(std::uint64_t us);
// The value a bucket stands for: its middle.
std::uint64_t ValueOf(std::size_t index);
} // namespace LatencyBuckets

// Count is 32 bits for the many per-stream histograms (saturating) and 64
// bits for the sums over streams.
template <typename Count> class LatencyHistogram {
public:
    void Add(std::uint64_t us)
    {
        Count &bucket = m_buckets[LatencyBuckets::IndexOf(us)];
        if (bucket != static_cast<Count>(~Count{0}))
            ++bucket;
        ++m_samples;
        if (us > m_max)
            m_max = us;
    }

    template <typename Other> void Merge(const LatencyHistogram<Other> &other)
    {
        for (std::size_t i = 0; i < LatencyBuckets::Count; ++i)
            m_buckets[i] += other.Bucket(i);
        m_samples += other.Samples();
        if (other.Max() > m_max)
            m_max = other.Max();
    }

    // Takes out what an earlier copy of this one held, leaving what came
    // since; the largest value stays the largest of all.
    void Remove(const LatencyHistogram &earlier)
    {
        for (std::size_t i = 0; i < LatencyBuckets::Count; ++i)
            m_buckets[i] -= std::min(m_buckets[i], earlier.m_buckets[i]);
        m_samples -= std::min(m_samples, earlier.m_samples);
    }

    Count Bucket(std::size_t index) const { return m_buckets[index]; }
    std::uint64_t Samples() const { return m_samples; }
    std::uint64_t Max() const { return m_max; }

    // Nearest rank; never above the largest value seen.
    std::uint64_t Percentile(double fraction) const
    {
        std::uint64_t total = 0;
        for (Count bucket : m_buckets)
            total += bucket;
        if (total == 0)
            return 0;
        auto rank = static_cast<std::uint64_t>(fraction * static_cast<double>(total) + 0.999999);
        rank = rank < 1 ? 1 : (rank > total ? total : rank);
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < LatencyBuckets::Count; ++i) {
            seen += m_buckets[i];
            if (seen >= rank) {
                const std::uint64_t value = LatencyBuckets::ValueOf(i);
                return value < m_max ? value : m_max;
            }
        }
        return m_max;
    }

    LatencyFigures Figures() const { return {m_samples, Percentile(0.5), Percentile(0.99), m_max}; }

private:
    std::array<Count, LatencyBuckets::Count> m_buckets{};
    std::uint64_t m_samples = 0;
    std::uint64_t m_max = 0;
};
