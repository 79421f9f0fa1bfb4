#pragma once

#include "load/LoadShape.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <random>

// When the messages of a load shape are due, as deadlines fixed from the
// start: message k is due when the shape's integral reaches its position,
// k itself for even pacing, or the sum of k+1 exponential gaps of mean 1 for
// Poisson arrivals (so the gaps follow the rate of whichever shape; a
// sender far behind gets the ones it missed at their mean spacing). One
// pacer serves one sender; a shard or a thread gives it its part of the
// shape (LoadShape::Scaled) and its own gap stream.
class ShapePacer {
public:
    static constexpr std::int64_t NoLimit = std::numeric_limits<std::int64_t>::max();

    // Where Poisson gaps start: equal starts give equal gaps. stream tells
    // apart the senders of one run (shard, thread) so their gaps are independent.
    struct GapStart {
        std::uint64_t seed = 0;
        std::uint64_t stream = 0;
    };

    // No gaps: evenly spaced, the first message due at once.
    explicit ShapePacer(LoadShape shape, std::optional<GapStart> poisson = std::nullopt);

    // How many messages are due by this many seconds from the start. Calls
    // must not go back in time (Poisson arrivals are drawn as they come).
    std::int64_t DueBy(double seconds);
    // Seconds at which message index (from 0) is due; LoadShape::Never when
    // it never is. With Poisson gaps only the message after the ones DueBy
    // counted is known: an earlier index gives 0, a later one that message's
    // time, which is not after its own.
    double DueAt(std::int64_t index);
    // The messages due by then on average: the integral of the target rate.
    double TargetBy(double seconds) const { return m_shape.MessagesBy(seconds); }
    double EndSeconds() const { return m_shape.EndSeconds(); }
    const LoadShape &Shape() const { return m_shape; }
    bool Poisson() const { return m_gaps.has_value(); }

private:
    bool WithinEnd(double position) const;
    double Gap();

    LoadShape m_shape;
    // Messages must lie before this integral when the shape ends.
    double m_endPosition = LoadShape::Never;
    std::optional<std::mt19937_64> m_gaps;
    // Poisson: messages counted due so far, and where the next one lies.
    std::int64_t m_released = 0;
    double m_nextPosition = 0;
};
