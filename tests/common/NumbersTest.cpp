#include "common/Numbers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace {

struct ReadCase {
    const char *text;
    double expected;
};

TEST(ReadNumber, TakesTheNumberAtTheStartOfTheText)
{
    // Blanks inside a number are skipped too; an exponent without digits is
    // not part of the number.
    const ReadCase cases[] = {
        {"514", 514},  {"  514", 514}, {"\t\n514", 514}, {"5 1 4", 514}, {"514abc", 514}, {"12.5", 12.5},
        {".5", 0.5},   {"-.5", -0.5},  {"5.", 5},        {"-1", -1},     {"+7", 7},       {"- 7", -7},
        {"1e3", 1000}, {"1E+2", 100},  {"25e-1", 2.5},   {"1D2", 100},   {"2e", 2},       {"2e+", 2},
        {"&H1F", 31},  {"&hff", 255},  {"&O17", 15},     {"&H", 0},      {"&X1", 0},      {"", 0},
        {"abc", 0},    {"-", 0},       {".", 0},         {"0x10", 0},    {"inf", 0},      {"nan", 0},
        {"Random", 0}, {"1,5", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReadNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ReadNumber, ValuesBeyondADoubleBecomeInfinityOrZero)
{
    EXPECT_EQ(ReadNumber("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber("1e-999"), 0.0);
}

// The application object sets the C locale from the environment, so a German
// desktop must not turn 12.5 into 12. Builds such a locale when none is installed.
TEST(ReadNumber, IgnoresTheLocaleDecimalSeparator)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    QTemporaryDir folder;
    bool found = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    if (!found && folder.isValid()) {
        const int built =
            QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", folder.filePath("de_DE.UTF-8")});
        if (built == 0 || built == 1) {
            qputenv("LOCPATH", folder.path().toLocal8Bit());
            found = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        }
    }
    if (!found)
        GTEST_SKIP() << "no locale with a decimal comma available";
    const double value = ReadNumber("12.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    qunsetenv("LOCPATH");
    EXPECT_EQ(value, 12.5);
}

TEST(RangeOrDefault, GivesTheDefaultOutsideTheRangeNeverTheNearerBound)
{
    struct Case {
        double value, min, max, fallback, expected;
    };
    const Case cases[] = {
        {0, 0, 255, 191, 0},
        {255, 0, 255, 191, 255},
        {255.5, 0, 255, 191, 191},
        {256, 0, 255, 191, 191},
        {-1, 0, 255, 191, 191},
        {-0.1, 0, 255, 191, 191},
        {100, 10, 2000, 500, 100},
        {5, 10, 2000, 500, 500},
        {std::numeric_limits<double>::infinity(), 0, 255, 191, 191},
        {-std::numeric_limits<double>::infinity(), 0, 255, 191, 191},
        {std::nan(""), 0, 255, 191, 191},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RangeOrDefault(c.value, c.min, c.max, c.fallback), c.expected) << c.value;
}

TEST(RoundHalfEven, RoundsHalvesToTheEvenNeighbour)
{
    struct Case {
        double value;
        std::int64_t expected;
    };
    const Case cases[] = {
        {12.5, 12},
        {13.5, 14},
        {0.5, 0},
        {1.5, 2},
        {2.5, 2},
        {-0.5, 0},
        {-1.5, -2},
        {-2.5, -2},
        {12.4, 12},
        {12.6, 13},
        {-12.6, -13},
        {191, 191},
        {0, 0},
        {std::nan(""), 0},
        {1e300, static_cast<std::int64_t>(9.2e18)},
        {-1e300, -static_cast<std::int64_t>(9.2e18)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RoundHalfEven(c.value), c.expected) << c.value;
}

TEST(ShortestDecimal, WritesPlainDecimalThatReadsBack)
{
    struct Case {
        double value;
        const char *expected;
    };
    const Case cases[] = {
        {514, "514"},
        {12.5, "12.5"},
        {0, "0"},
        {-0.0, "0"},
        {-3, "-3"},
        {0.1, "0.1"},
        {1e20, "100000000000000000000"},
        {0.001, "0.001"},
        {2147483647, "2147483647"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ShortestDecimal(c.value), c.expected) << c.value;
        EXPECT_EQ(ReadNumber(ShortestDecimal(c.value)), c.value) << c.value;
    }
}

} // namespace
