#include "cli/send/LoadShape.h"

#include "cli/common/FlagValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {
// Far beyond any machine, yet every count stays a finite double.
constexpr double MaxRate = 1e9;
constexpr double MaxSeconds = 1e8;

std::string Number(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

// A rate may be 0 (a pause), never negative.
std::optional<double> RateNumber(std::string_view text)
{
    double value = 0;
    const char *end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || !(value >= 0 && value <= MaxRate))
        return std::nullopt;
    return value + 0.0; // -0 reads as 0
}

std::optional<double> Seconds(std::string_view text)
{
    const auto value = PositiveNumber(text);
    if (!value || *value > MaxSeconds)
        return std::nullopt;
    return value;
}

constexpr const char *RateWords = "a rate from 0 to 1000000000 messages per second";
constexpr const char *SecondsWords = "a number of seconds above 0 and up to 100000000";

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}
} // namespace

LoadShape LoadShape::Constant(double rate)
{
    LoadShape shape;
    shape.m_kind = Kind::Constant;
    shape.m_holdRate = rate;
    return shape;
}

LoadShape LoadShape::Ramp(double from, double to, double seconds)
{
    LoadShape shape;
    shape.m_kind = Kind::Ramp;
    shape.Append(seconds, from, to);
    shape.m_holdRate = to;
    return shape;
}

LoadShape LoadShape::Steps(const std::vector<Step> &steps, bool endsAfterLast)
{
    LoadShape shape;
    shape.m_kind = Kind::Steps;
    for (const Step &step : steps)
        shape.Append(step.seconds, step.rate, step.rate);
    shape.m_holdRate = steps.empty() ? 0 : steps.back().rate;
    shape.m_ends = endsAfterLast && !steps.empty();
    return shape;
}

void LoadShape::Append(double seconds, double fromRate, double toRate)
{
    Piece piece;
    if (!m_pieces.empty()) {
        const Piece &last = m_pieces.back();
        piece.start = last.end;
        piece.messagesBefore = last.messagesBefore + MessagesInto(last, last.end - last.start);
    }
    piece.end = piece.start + seconds;
    piece.fromRate = fromRate;
    piece.toRate = toRate;
    m_pieces.push_back(piece);
}

LoadShape LoadShape::Scaled(double share) const
{
    LoadShape shape;
    shape.m_kind = m_kind;
    for (const Piece &piece : m_pieces)
        shape.Append(piece.end - piece.start, piece.fromRate * share, piece.toRate * share);
    shape.m_holdRate = m_holdRate * share;
    shape.m_ends = m_ends;
    return shape;
}

double LoadShape::MessagesInto(const Piece &p, double into)
{
    const double length = p.end - p.start;
    // A step too short to move the clock this far from the start lasts no
    // time and sends nothing.
    if (!(length > 0))
        return 0;
    return p.fromRate * into + (p.toRate - p.fromRate) * into * into / (2 * length);
}

double LoadShape::RateAt(double seconds) const
{
    if (seconds < 0)
        return 0;
    const auto piece =
        std::upper_bound(m_pieces.begin(), m_pieces.end(), seconds, [](double t, const Piece &p) { return t < p.end; });
    if (piece != m_pieces.end())
        return piece->fromRate +
               (piece->toRate - piece->fromRate) * (seconds - piece->start) / (piece->end - piece->start);
    return m_ends ? 0 : m_holdRate;
}

double LoadShape::MessagesBy(double seconds) const
{
    if (seconds <= 0)
        return 0;
    const auto piece =
        std::upper_bound(m_pieces.begin(), m_pieces.end(), seconds, [](double t, const Piece &p) { return t < p.end; });
    if (piece != m_pieces.end())
        return piece->messagesBefore + MessagesInto(*piece, seconds - piece->start);
    if (m_pieces.empty())
        return m_holdRate * seconds;
    const Piece &last = m_pieces.back();
    const double atEnd = last.messagesBefore + MessagesInto(last, last.end - last.start);
    return m_ends ? atEnd : atEnd + m_holdRate * (seconds - last.end);
}

double LoadShape::TimeOf(double messages) const
{
    if (messages <= 0)
        return 0;
    for (const Piece &p : m_pieces) {
        const double length = p.end - p.start;
        const double inPiece = MessagesInto(p, length);
        const double wanted = messages - p.messagesBefore;
        if (wanted > inPiece || !(length > 0))
            continue;
        // Solves fromRate*x + slope/2*x^2 = wanted, in the form that stays
        // exact when the slope is 0 or tiny.
        const double half = (p.toRate - p.fromRate) / (2 * length);
        const double root = std::sqrt(std::max(0.0, p.fromRate * p.fromRate + 4 * half * wanted));
        const double x = p.fromRate + root > 0 ? 2 * wanted / (p.fromRate + root) : length;
        return p.start + std::min(x, length);
    }
    if (m_ends || m_holdRate <= 0)
        return Never;
    const double end = m_pieces.empty() ? 0 : m_pieces.back().end;
    return end + (messages - MessagesBy(end)) / m_holdRate;
}

bool LoadShape::SendsAnything() const
{
    if (!m_ends && m_holdRate > 0)
        return true;
    return std::any_of(m_pieces.begin(), m_pieces.end(), [](const Piece &p) { return p.fromRate > 0 || p.toRate > 0; });
}

std::string LoadShape::Text() const
{
    switch (m_kind) {
    case Kind::None:
        return "none";
    case Kind::Constant:
        return "rate " + Number(m_holdRate);
    case Kind::Ramp: {
        const Piece &p = m_pieces.front();
        return "ramp " + Number(p.fromRate) + ":" + Number(p.toRate) + ":" + Number(p.end - p.start);
    }
    case Kind::Steps:
        break;
    }
    std::string text = "steps ";
    for (const Piece &p : m_pieces)
        text += (&p == &m_pieces.front() ? "" : ",") + Number(p.fromRate) + "x" + Number(p.end - p.start);
    return text;
}

std::variant<LoadShape, std::string> ReadRamp(std::string_view text)
{
    const std::vector<std::string_view> parts = Split(text, ':');
    if (parts.size() != 3)
        return Quoted(text) + " is not FROM:TO:SECONDS, as in 100:10000:60";
    const auto from = RateNumber(parts[0]);
    if (!from)
        return "FROM " + Quoted(parts[0]) + " is not " + RateWords;
    const auto to = RateNumber(parts[1]);
    if (!to)
        return "TO " + Quoted(parts[1]) + " is not " + RateWords;
    const auto seconds = Seconds(parts[2]);
    if (!seconds)
        return "SECONDS " + Quoted(parts[2]) + " is not " + SecondsWords;
    if (*from == 0 && *to == 0)
        return Quoted(text) + " sends nothing: FROM or TO must be above 0";
    return LoadShape::Ramp(*from, *to, *seconds);
}

std::variant<std::vector<LoadShape::Step>, std::string> ReadSteps(std::string_view text)
{
    std::vector<LoadShape::Step> steps;
    bool sends = false;
    for (const std::string_view part : Split(text, ',')) {
        const std::string which = "step " + std::to_string(steps.size() + 1) + " ";
        const std::vector<std::string_view> halves = Split(part, 'x');
        if (halves.size() != 2)
            return which + Quoted(part) + " is not RATExSECONDS, as in 1000x30";
        const auto rate = RateNumber(halves[0]);
        if (!rate)
            return which + Quoted(part) + ": " + Quoted(halves[0]) + " is not " + RateWords;
        const auto seconds = Seconds(halves[1]);
        if (!seconds)
            return which + Quoted(part) + ": " + Quoted(halves[1]) + " is not " + SecondsWords;
        steps.push_back({*rate, *seconds});
        sends = sends || *rate > 0;
    }
    if (!sends)
        return "every step has the rate 0, so nothing would be sent";
    return steps;
}
