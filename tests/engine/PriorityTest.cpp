#include "engine/Priority.h"

#include <gtest/gtest.h>

#include <set>

namespace {
TEST(MessagePriority, ReadsTheTypedValueOrTheLists)
{
    // Facility 2, level 3 give 19 whenever the lists decide; null leaves the box unchecked.
    const std::pair<const char *, std::int32_t> cases[] = {
        {"0", 0},       {"255", 255}, {"300", 191}, {"-1", 191},    {"12.5", 12},  {"13.5", 14},   {"254.6", 255},
        {"255.4", 191}, {"", 0},      {" 42x", 42}, {"1e999", 191}, {"random", 0}, {"Random", 19}, {nullptr, 19},
    };
    FixedPriorityInputs inputs;
    inputs.facilityIndex = 2;
    inputs.levelIndex = 3;
    for (const auto &[text, expected] : cases) {
        inputs.usePriorityText = text != nullptr;
        inputs.priorityText = text ? text : "200";
        EXPECT_EQ(MessagePriority(inputs), expected) << (text ? text : "unchecked");
    }
    EXPECT_EQ(SelectedPriority(inputs), 19);
}

TEST(MessagePriority, DrawsTheRandomFacilityOrLevelAndKeepsTheOther)
{
    std::set<std::int32_t> byFacility, byLevel, drawnFacility, drawnLevel;
    for (int f = 0; f < 24; ++f)
        byFacility.insert(f * 8 + 3);
    for (int l = 0; l < 8; ++l)
        byLevel.insert(2 * 8 + l);
    FixedPriorityInputs inputs;
    for (int i = 0; i < 5000; ++i) {
        inputs.facilityIndex = RandomFacilityIndex, inputs.levelIndex = 3;
        drawnFacility.insert(MessagePriority(inputs));
        inputs.facilityIndex = 2, inputs.levelIndex = RandomLevelIndex;
        drawnLevel.insert(MessagePriority(inputs));
    }
    EXPECT_EQ(drawnFacility, byFacility);
    EXPECT_EQ(drawnLevel, byLevel);
}
} // namespace
