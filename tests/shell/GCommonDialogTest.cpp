#include "shell/GCommonDialog.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace std::string_literals;

const std::string ProgramFilter = "All files (*.*)|*.*|Text files (*.txt)|*.txt";

TEST(GCommonDialogFilter, BarsAndColonsEndEveryPartAndPairsArePickedByIndex)
{
    const std::pair<std::string, std::string> conversions[] = {
        {ProgramFilter, "All files (*.*)\0*.*\0Text files (*.txt)\0*.txt\0\0"s},
        {"Logs: syslog|*.log", "Logs\0 syslog\0*.log\0\0"s},
        {"", "\0\0"s}};
    for (const auto &[filter, converted] : conversions)
        EXPECT_EQ(ConvertFilter(filter), converted) << filter;

    const std::string converted = ConvertFilter(ProgramFilter);
    const struct {
        std::string filter;
        int index;
        std::string pair;
    } pairs[] = {{converted, 2, "Text files (*.txt)\0*.txt"s},
                 {converted, 0, ""},
                 {converted, -1, ""},
                 {"no separator", 1, ""},
                 {"Last\0*.last"s, 1, "Last\0*.last"s}};
    for (const auto &row : pairs)
        EXPECT_EQ(FilterPair(row.filter, row.index), row.pair) << row.index;
}

} // namespace
