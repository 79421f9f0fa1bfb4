#include "cli/common/ProgressLine.h"

std::string GroupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string Grouped(std::int64_t number)
{
    const std::uint64_t size =
        number < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    return (number < 0 ? "-" : "") + GroupedCount(size);
}

std::string MessagesText(std::int64_t count)
{
    return Grouped(count) + (count == 1 ? " message" : " messages");
}
