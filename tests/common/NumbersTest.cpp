#include "common/Numbers.h"
#include "common/Random.h"
#include "common/TextHelpers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>

using namespace std::string_literals;

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();

TEST(ReadNumber, TakesTheNumberAtTheStartOfTheText)
{
    // Blanks inside a number are skipped; an exponent without digits is not part of it.
    const std::pair<const char *, double> cases[] = {
        {"", 0},   {"+7", 7},  {"&X1", 0}, {".5", 0.5},  {"&H1F", 31},  {"1E+2", 100},  {"25e-1", 2.5},
        {"-", 0},  {"&H", 0},  {"inf", 0}, {"- 7", -7},  {"&O17", 15},  {"&hff", 255},  {"1e999", Inf},
        {".", 0},  {"2e+", 2}, {"nan", 0}, {"0x10", 0},  {"-.5", -0.5}, {"1e-999", 0},  {"-1e999", -Inf},
        {"5.", 5}, {"&O8", 0}, {"1,5", 1}, {"1D2", 100}, {"1e3", 1000}, {"12.5", 12.5}, {"\t\n5 1 4x", 514},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ReadNumber(text), expected) << '"' << text << '"';
}

TEST(ReadLeadingNumber, TakesOnlyTheNumberThatStartsTheText)
{
    // Blanks count only before the number; no &H, &O or D exponent.
    const std::pair<const char *, double> cases[] = {
        {"1 500", 1},  {" \t42x", 42}, {"&H2", 0},     {"&O17", 0}, {"- 7", 0}, {"1D2", 1},     {"+7", 7},
        {"-.5", -0.5}, {"2e+", 2},     {"25e-1", 2.5}, {"5.", 5},   {"\n5", 0}, {"1e999", Inf}, {"", 0},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ReadLeadingNumber(text), expected) << '"' << text << '"';
}

// The application object sets the C locale from the environment: a German
// desktop must not read 12.5 as 12. Builds such a locale when none is installed.
TEST(ReadNumber, IgnoresTheLocaleDecimalSeparator)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    QTemporaryDir folder;
    bool found = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    if (!found && QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", folder.filePath("de_DE.UTF-8")}) <= 1 &&
        qputenv("LOCPATH", folder.path().toLocal8Bit()))
        found = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    if (!found)
        GTEST_SKIP() << "no locale with a decimal comma available";
    const double value = ReadNumber("12.5") + ReadLeadingNumber("0.25");
    std::setlocale(LC_NUMERIC, saved.c_str());
    qunsetenv("LOCPATH");
    EXPECT_EQ(value, 12.75);
}

TEST(RangeOrDefault, GivesTheDefaultOutsideTheRangeNeverTheNearerBound)
{
    const std::pair<double, double> cases[] = {
        {0, 0}, {255, 255}, {12.5, 12.5}, {255.5, 191}, {-0.1, 191}, {-Inf, 191}, {std::nan(""), 191},
    };
    for (const auto &[value, expected] : cases)
        EXPECT_EQ(RangeOrDefault(value, 0, 255, 191), expected) << value;
}

TEST(RoundHalfEven, RoundsHalvesToTheEvenNeighbourAndClampsTheHuge)
{
    const std::pair<double, std::int64_t> cases[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {-1.5, -2}, {-2.5, -2}, {12.4, 12}, {-12.6, -13}, {std::nan(""), 0},
    };
    for (const auto &[value, expected] : cases)
        EXPECT_EQ(RoundHalfEven(value), expected) << value;
    EXPECT_EQ(RoundHalfEven(1e300), 9200000000000000000);
    EXPECT_EQ(RoundHalfEven(-1e300), -9200000000000000000);
}

TEST(ShortestDecimal, WritesPlainDecimal)
{
    const std::pair<double, const char *> cases[] = {
        {12.5, "12.5"}, {-0.0, "0"}, {-3, "-3"}, {0.1, "0.1"}, {1e20, "100000000000000000000"},
    };
    for (const auto &[value, expected] : cases)
        EXPECT_EQ(ShortestDecimal(value), expected);
}

TEST(TrimAtNul, KeepsTheTextBeforeTheFirstNul)
{
    const std::pair<std::string, std::string> cases[] = {{"abc", "abc"}, {"\0abc"s, ""}, {"a\0b\0c"s, "a"}};
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(TrimAtNul(text), expected);
}

TEST(WriteDecimal, WritesWhatToCharsWritesAtEveryLength)
{
    // Each power of ten and its neighbours, where the count of digits changes.
    std::vector<std::uint64_t> values = {0, std::numeric_limits<std::uint64_t>::max()};
    std::uint64_t power = 1;
    for (int i = 0; i < 20; ++i, power *= 10)
        values.insert(values.end(), {power - 1, power, power + 1, power * 3 + 7});
    for (const std::uint64_t value : values) {
        char got[32];
        char want[32];
        const std::string_view written(got, static_cast<std::size_t>(WriteDecimal(got, value) - got));
        EXPECT_EQ(written,
                  std::string_view(want, static_cast<std::size_t>(std::to_chars(want, want + 32, value).ptr - want)));
    }
}

TEST(NextRandomBlock, DrawsWhatSuccessiveDrawsWould)
{
    // Blocks of every length around the eight drawn at once, one after another.
    for (std::size_t count = 0; count <= 19; ++count) {
        SetRandomStart(count * 977);
        std::vector<std::uint64_t> block(count + 1, 7);
        NextRandomBlock(block.data(), count);
        const std::uint64_t after = NextRandomBits();
        SetRandomStart(count * 977);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(block[i], NextRandomBits()) << count << ' ' << i;
        EXPECT_EQ(block[count], 7u) << "written past the block of " << count;
        EXPECT_EQ(after, NextRandomBits()) << count;
    }
}
} // namespace
