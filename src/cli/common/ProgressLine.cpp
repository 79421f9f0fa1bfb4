#include "cli/common/ProgressLine.h"

std::string MessagesText(std::int64_t count)
{
    return std::to_string(count) + (count == 1 ? " message" : " messages");
}

std::string ProgressLine(std::int64_t count, std::int64_t lastSecond, std::string_view verb)
{
    return MessagesText(count) + " " + std::string(verb) + ", " + std::to_string(lastSecond) + " MPS";
}
