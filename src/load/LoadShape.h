#pragma once

#include <limits>
#include <string>
#include <vector>

// The target rate of a run over time: constant (--rate), a linear ramp
// (--ramp) or steps (--steps). The rate is piecewise linear; after its last
// piece it holds the last rate, or ends there (steps without --count or
// --duration). Pacing works on the integral: the messages due by a time.
class LoadShape {
public:
    static constexpr double Never = std::numeric_limits<double>::infinity();

    struct Step {
        double rate = 0;
        double seconds = 0;
    };

    // No load: nothing is ever due.
    LoadShape() = default;
    static LoadShape Constant(double rate);
    // From `from` to `to` messages per second over `seconds`, then `to`.
    static LoadShape Ramp(double from, double to, double seconds);
    // Each step's rate for its seconds; then the last rate, or nothing when
    // endsAfterLast.
    static LoadShape Steps(const std::vector<Step> &steps, bool endsAfterLast);

    // The same shape at share times the rate (a shard's or a thread's part).
    LoadShape Scaled(double share) const;

    // Messages per second at this many seconds from the start.
    double RateAt(double seconds) const;
    // The rate's integral from 0 to seconds: how many messages are due by then.
    double MessagesBy(double seconds) const;
    // The earliest time by which `messages` are due (MessagesBy(t) >= messages);
    // Never when that time never comes.
    double TimeOf(double messages) const;
    // When the shape ends; Never while it holds its last rate.
    double EndSeconds() const { return m_ends ? m_pieces.back().end : Never; }
    // Some message is ever due.
    bool SendsAnything() const;

    // "rate 1000", "ramp 10:1000:60", "steps 100x5,0x2,1000x5".
    std::string Text() const;

private:
    // A straight line of the rate from start to end.
    struct Piece {
        double start = 0;
        double end = 0;
        double fromRate = 0;
        double toRate = 0;
        double messagesBefore = 0; // the integral up to start
    };
    void Append(double seconds, double fromRate, double toRate);
    // The messages of piece p from its start to `into` seconds into it.
    static double MessagesInto(const Piece &p, double into);

    enum class Kind { None, Constant, Ramp, Steps };
    Kind m_kind = Kind::None;
    std::vector<Piece> m_pieces;
    double m_holdRate = 0;
    bool m_ends = false;
};
