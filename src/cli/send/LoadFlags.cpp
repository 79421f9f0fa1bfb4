#include "cli/send/LoadFlags.h"

#include "cli/common/FlagValues.h"

#include <charconv>
#include <optional>

namespace {
// Far beyond any machine, yet every count stays a finite double.
constexpr double MaxRate = 1e9;
constexpr double MaxSeconds = 1e8;

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

std::string IndexRange(std::uint64_t count)
{
    return "an index from 0 to " + std::to_string(count - 1);
}
} // namespace

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

std::variant<Shard, std::string> ReadShard(std::string_view text, const char *environmentIndex)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return Quoted(text) + " is not I/N (this sender's index from 0 and the number of shards) or auto/N";
    const std::string_view indexText = text.substr(0, slash);
    const std::string_view countText = text.substr(slash + 1);
    const auto count = WholeNumber(countText);
    if (!count || *count < 1 || static_cast<std::uint64_t>(*count) > Shard::MaxCount)
        return "N " + Quoted(countText) + " is not a number of shards from 1 to " + std::to_string(Shard::MaxCount);
    Shard shard;
    shard.count = static_cast<std::uint64_t>(*count);
    if (indexText == "auto") {
        const std::string where = std::string(Shard::IndexVariable);
        if (!environmentIndex)
            return where + " is not set (a Kubernetes Indexed Job sets it); give I/N instead of auto/N";
        const auto index = WholeNumber(environmentIndex);
        if (!index || *index < 0 || static_cast<std::uint64_t>(*index) >= shard.count)
            return where + " " + Quoted(environmentIndex) + " is not " + IndexRange(shard.count);
        shard.index = static_cast<std::uint64_t>(*index);
        return shard;
    }
    const auto index = WholeNumber(indexText);
    if (!index || *index < 0 || static_cast<std::uint64_t>(*index) >= shard.count)
        return "I " + Quoted(indexText) + " is not " + IndexRange(shard.count) + " (or auto)";
    shard.index = static_cast<std::uint64_t>(*index);
    return shard;
}
