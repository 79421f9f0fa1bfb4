#include "common/Result.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
// A move-only value, so handing it out must not copy it.
Result<std::unique_ptr<int>> Made(int value)
{
    if (value < 0)
        return Status::Failure("'" + std::to_string(value) + "' is below 0");
    return std::make_unique<int>(value);
}

TEST(Result, HoldsTheValueOrSaysWhyThereIsNone)
{
    const std::pair<int, std::string> cases[] = {{7, ""}, {0, ""}, {-1, "'-1' is below 0"}};
    for (const auto &[value, why] : cases) {
        Result<std::unique_ptr<int>> made = Made(value);
        EXPECT_EQ(static_cast<bool>(made), why.empty()) << value;
        EXPECT_EQ(static_cast<bool>(made.Outcome()), why.empty()) << value;
        EXPECT_EQ(made.Why(), why);
        if (made) {
            EXPECT_EQ(*std::unique_ptr<int>(*std::move(made)), value);
        }
    }
}
} // namespace
