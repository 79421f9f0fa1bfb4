#include "common/TextHelpers.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(TrimAtNul, KeepsTheTextBeforeTheFirstNul)
{
    const std::pair<std::string, std::string> cases[] = {{"abc", "abc"}, {"\0abc"s, ""}, {"a\0b\0c"s, "a"}};
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(TrimAtNul(text), expected);
}
