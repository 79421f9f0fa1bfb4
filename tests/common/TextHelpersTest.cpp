#include "common/TextHelpers.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

TEST(TrimAtNul, KeepsTheTextBeforeTheFirstNul)
{
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"C:\\path\0\0\0"s, "C:\\path"}, {"abc"s, "abc"}, {""s, ""}, {"\0abc"s, ""}, {"a\0b\0c"s, "a"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TrimAtNul(c.text), c.expected);
}

TEST(TrimSpaces, RemovesOnlyOuterSpaces)
{
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"  10.0.0.1  ", "10.0.0.1"}, {"   ", ""}, {"", ""}, {"\t10.0.0.1 ", "\t10.0.0.1"}, {"a b", "a b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TrimSpaces(c.text), c.expected);
}

TEST(CaseHelpers, ChangeOnlyAsciiLetters)
{
    EXPECT_EQ(ToLowerAscii("HEX=3C \xC4\xE9"), "hex=3c \xC4\xE9");
    EXPECT_EQ(ToUpperAscii("hex=3c \xE4\xE9"), "HEX=3C \xE4\xE9");
    EXPECT_TRUE(StartsWithNoCase("hEx=41", "HEX="));
    EXPECT_FALSE(StartsWithNoCase("HEX", "HEX="));
    EXPECT_FALSE(StartsWithNoCase(" HEX=41", "HEX="));
}

} // namespace
