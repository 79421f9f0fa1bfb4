#include "shell/VisualStyles.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(VersionClass, MapsTheFirstThreeCharacters)
{
    const std::pair<std::optional<std::string>, const char *> cases[] = {
        {"5.0", "2K"},         {"5.1", "XP"},  {"5.15.0-91-generic", "XP"}, {"5.2", "2K3"},
        {"6.0.6002", "VISTA"}, {"6.1", "NT4"}, {"6.10.3", "NT4"},           {"10.0.19045", "NT4"},
        {"5.", "NT4"},         {"", "NT4"},    {std::nullopt, "9X"}};
    for (const auto &[value, expected] : cases)
        EXPECT_EQ(VersionClassFor(value), expected) << value.value_or("(unreadable)");
}
