#include "report/ProgressLine.h"

#include "common/TextHelpers.h"

std::string ProgressLine(std::int64_t count, std::int64_t lastSecond, std::string_view verb)
{
    return MessagesText(count) + " " + std::string(verb) + ", " + std::to_string(lastSecond) + " MPS";
}
