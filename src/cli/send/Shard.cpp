#include "cli/send/Shard.h"

#include "cli/common/FlagValues.h"

namespace {
std::string IndexRange(std::uint64_t count)
{
    return "an index from 0 to " + std::to_string(count - 1);
}
} // namespace

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
