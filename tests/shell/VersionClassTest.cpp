#include "shell/VisualStyles.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(VersionClass, MapsTheFirstThreeCharacters)
{
    struct Case {
        std::optional<std::string> value;
        const char *expected;
    };
    const Case cases[] = {
        {"5.0", "2K"},         {"5.1", "XP"},         {"5.1.2600", "XP"}, {"5.15.0-91-generic", "XP"}, {"5.2", "2K3"},
        {"6.0", "VISTA"},      {"6.0.6002", "VISTA"}, {"6.1", "NT4"},     {"6.10.3", "NT4"},           {"4.0", "NT4"},
        {"10.0.19045", "NT4"}, {"5.", "NT4"},         {"", "NT4"},        {std::nullopt, "9X"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(VersionClassFor(c.value), c.expected) << (c.value ? *c.value : std::string("(unreadable)"));
}

TEST(VersionClass, ThisPlatformGetsTheClassOfItsKernelVersion)
{
    EXPECT_EQ(GetWindowsVersionClass(), VersionClassFor(PlatformVersionValue()));
    ASSERT_TRUE(PlatformVersionValue().has_value());

    // Whatever the class, no frame can be adapted here.
    InitVisualStyles();
    EXPECT_FALSE(VisualStylesActive());
}
