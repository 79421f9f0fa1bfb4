#include "engine/Priority.h"

#include "common/Numbers.h"
#include "common/Random.h"

namespace {
constexpr double DefaultPriority = 191;
}

std::int32_t MessagePriority(const PriorityInputs &inputs)
{
    if (inputs.ChkPriorityChecked()) {
        const std::string text = inputs.TxtPriorityText();
        if (text != "Random")
            return static_cast<std::int32_t>(
                RoundHalfEven(RangeOrDefault(ReadLeadingNumber(text), 0, 255, DefaultPriority)));
    }
    int facility = inputs.FacilityIndex();
    if (facility == RandomFacilityIndex)
        facility = RandomInteger(0, 24);
    int level = inputs.LevelIndex();
    if (level == RandomLevelIndex)
        level = RandomInteger(0, 8);
    return facility * 8 + level;
}

std::int16_t SelectedPriority(const PriorityInputs &inputs)
{
    return static_cast<std::int16_t>(inputs.FacilityIndex() * 8 + inputs.LevelIndex());
}
