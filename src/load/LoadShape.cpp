#include "load/LoadShape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
std::string Number(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
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
