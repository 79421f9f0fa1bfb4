#include "engine/Priority.h"

#include <gtest/gtest.h>

#include <set>

namespace {
TEST(MessagePriority, ReadsTheTypedValueOrTheLists)
{
    struct Case {
        bool check;
        std::string text;
        std::int32_t expected;
    };
    // Facility 2, level 3 give 19 whenever the lists decide.
    const Case cases[] = {
        {true, "13", 13},     {true, "0", 0},     {true, "255", 255},   {true, "300", 191},   {true, "-1", 191},
        {true, "12.5", 12},   {true, "13.5", 14}, {true, "254.6", 255}, {true, "255.4", 191}, {true, "-0.4", 191},
        {true, "", 0},        {true, "abc", 0},   {true, " 42x", 42},   {true, "1e999", 191}, {true, "random", 0},
        {true, "Random", 19}, {false, "200", 19},
    };
    for (const auto &c : cases) {
        FixedPriorityInputs inputs;
        inputs.usePriorityText = c.check;
        inputs.priorityText = c.text;
        inputs.facilityIndex = 2;
        inputs.levelIndex = 3;
        EXPECT_EQ(MessagePriority(inputs), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(SelectedPriority(inputs), 19);
    }
}

TEST(MessagePriority, DrawsRandomFacilitiesAndLevelsInRange)
{
    const std::pair<int, int> cases[] = {
        {RandomFacilityIndex, 3}, {2, RandomLevelIndex}, {RandomFacilityIndex, RandomLevelIndex}};
    for (const auto &[facility, level] : cases) {
        std::set<std::int32_t> expected, seen;
        for (int f = 0; f < 24; ++f)
            for (int l = 0; l < 8; ++l)
                if ((facility == RandomFacilityIndex || f == facility) && (level == RandomLevelIndex || l == level))
                    expected.insert(f * 8 + l);
        FixedPriorityInputs inputs;
        inputs.facilityIndex = facility;
        inputs.levelIndex = level;
        for (int i = 0; i < 20000; ++i)
            seen.insert(MessagePriority(inputs));
        EXPECT_EQ(seen, expected) << facility << "/" << level;
    }
}
} // namespace
