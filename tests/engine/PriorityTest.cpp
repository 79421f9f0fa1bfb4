#include "engine/Priority.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(MessagePriority, ReadsTheTypedValueWhenUseThisValueIsChecked)
{
    struct Case {
        std::string text;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"13", 13},    {"0", 0},       {"255", 255},  {"300", 191},   {"-1", 191},    {"256", 191},
        {"12.5", 12},  {"13.5", 14},   {"12.4", 12},  {"254.6", 255}, {"255.4", 191}, {"255.5", 191},
        {"-0.4", 191}, {"", 0},        {"abc", 0},    {" 42", 42},    {"42abc", 42},  {"1e2", 100},
        {"&HFF", 255}, {"1e999", 191}, {"random", 0}, {"Random ", 0},
    };
    for (const auto &c : cases) {
        FixedPriorityInputs inputs;
        inputs.usePriorityText = true;
        inputs.priorityText = c.text;
        inputs.facilityIndex = 3;
        inputs.levelIndex = 4;
        EXPECT_EQ(MessagePriority(inputs), c.expected) << '"' << c.text << '"';
    }
}

TEST(MessagePriority, UsesFacilityAndLevelOtherwise)
{
    struct Case {
        bool check;
        std::string text;
        int facility, level;
        std::int32_t expected;
    };
    const Case cases[] = {
        {false, "13", 1, 5, 13},
        {false, "99", 0, 0, 0},
        {false, "", 23, 7, 191},
        {true, "Random", 2, 3, 19}, // the exact text "Random" means the lists decide
    };
    for (const auto &c : cases) {
        FixedPriorityInputs inputs;
        inputs.usePriorityText = c.check;
        inputs.priorityText = c.text;
        inputs.facilityIndex = c.facility;
        inputs.levelIndex = c.level;
        EXPECT_EQ(MessagePriority(inputs), c.expected);
        EXPECT_EQ(SelectedPriority(inputs), c.expected);
    }
}

TEST(MessagePriority, DrawsRandomFacilitiesAndLevelsInRange)
{
    struct Case {
        int facility, level;
        std::set<std::int32_t> expected;
    };
    std::set<std::int32_t> anyFacilityLevel3, anyLevelFacility2, any;
    for (int f = 0; f < 24; ++f)
        anyFacilityLevel3.insert(f * 8 + 3);
    for (int l = 0; l < 8; ++l)
        anyLevelFacility2.insert(16 + l);
    for (int p = 0; p < 192; ++p)
        any.insert(p);
    const Case cases[] = {
        {RandomFacilityIndex, 3, anyFacilityLevel3},
        {2, RandomLevelIndex, anyLevelFacility2},
        {RandomFacilityIndex, RandomLevelIndex, any},
    };
    for (const auto &c : cases) {
        FixedPriorityInputs inputs;
        inputs.facilityIndex = c.facility;
        inputs.levelIndex = c.level;
        std::set<std::int32_t> seen;
        for (int i = 0; i < 20000; ++i)
            seen.insert(MessagePriority(inputs));
        EXPECT_EQ(seen, c.expected) << c.facility << "/" << c.level;
    }
}

} // namespace
