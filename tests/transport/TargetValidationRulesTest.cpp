#include "transport/PortRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {
struct Rewrite {
    std::string text;
    std::string expected;
};

TEST(TargetValidationRules, DestinationPortFallsBackTo514OutsideItsRange)
{
    const Rewrite cases[] = {
        {"", "514"},      {"70000", "514"},   {"0", "514"},     {"-1", "514"},      {"1468", "1468"},
        {"1", "1"},       {"65535", "65535"}, {"65536", "514"}, {" 2000 ", "2000"}, {"12.5", "12.5"},
        {"514.0", "514"}, {"abc", "514"},     {"&H10", "16"},   {"1e3", "1000"},    {"1e999", "514"},
    };
    for (const Rewrite &c : cases)
        EXPECT_EQ(NormalisePortText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(TargetValidationRules, SourcePortFallsBackToTheRandomChoice)
{
    const std::string random(RandomSourcePort);
    const Rewrite cases[] = {
        {"0", random},
        {"abc", random},
        {"", random},
        {"70000", random},
        {"-5", random},
        {"2000", "2000"},
        {"65535", "65535"},
        {"1", "1"},
        {random, random},
        {"514.0", "514"},
        // Close to the choice is not the choice: it reads as 0.
        {"Random port > 1024", random},
    };
    for (const Rewrite &c : cases)
        EXPECT_EQ(NormaliseSourcePortText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(TargetValidationRules, PriorityFallsBackTo191AboveItsRange)
{
    const Rewrite cases[] = {
        {"300", "191"}, {"abc", "0"},  {"Random", "0"}, {"255", "255"}, {"256", "191"},
        {"0", "0"},     {"-1", "191"}, {"13", "13"},    {"", "0"},      {"2.5", "2.5"},
    };
    for (const Rewrite &c : cases)
        EXPECT_EQ(NormalisePriorityText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(TargetValidationRules, PortsClashWhenTheyReadAsTheSameNumber)
{
    struct Case {
        std::string destination;
        std::string source;
        bool clash;
    };
    const Case cases[] = {
        {"514", "514", true},
        {"514", "514.0", true},
        {"514", " 514", true},
        {"514", "515", false},
        {"514", std::string(RandomSourcePort), false},
        {"1468", "&H5BC", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PortsClash(c.destination, c.source), c.clash) << c.destination << " / " << c.source;
}

TEST(TargetValidationRules, PortNumberOfAFieldText)
{
    EXPECT_EQ(PortFromText("514"), 514);
    EXPECT_EQ(PortFromText("12.5"), 12);
    EXPECT_EQ(PortFromText("13.5"), 14);
    EXPECT_EQ(PortFromText(RandomSourcePort), 0);
    EXPECT_EQ(PortFromText("99999"), 0);
}
} // namespace
