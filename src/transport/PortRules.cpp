#include "transport/PortRules.h"

#include "common/Numbers.h"

std::string NormalisePriorityText(std::string_view text)
{
    return ShortestDecimal(RangeOrDefault(ReadNumber(text), 0, 255, 191));
}

std::string NormalisePortText(std::string_view text)
{
    return ShortestDecimal(RangeOrDefault(ReadNumber(text), 1, 65535, 514));
}

std::string NormaliseSourcePortText(std::string_view text)
{
    if (text == RandomSourcePort)
        return std::string(RandomSourcePort);
    // The default is a text here, so the range check cannot hand it back as a number.
    const double value = ReadNumber(text);
    if (RangeOrDefault(value, 1, 65535, 0) == 0)
        return std::string(RandomSourcePort);
    return ShortestDecimal(value);
}

bool PortsClash(std::string_view destinationPort, std::string_view sourcePort)
{
    return ReadNumber(destinationPort) == ReadNumber(sourcePort);
}

int PortFromText(std::string_view text)
{
    return static_cast<int>(RoundHalfEven(RangeOrDefault(ReadNumber(text), 0, 65535, 0)));
}
