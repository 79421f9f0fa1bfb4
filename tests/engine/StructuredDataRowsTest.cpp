#include "engine/StructuredDataRows.h"

#include <gtest/gtest.h>

namespace {
std::string Joined(const std::vector<std::string> &elements)
{
    std::string text;
    for (const std::string &element : elements)
        text += element;
    return text;
}

// Rows group by SD-ID and escape their values; the first bad row is named.
TEST(StructuredDataRows, RowsMakeElementsAndTheFirstBadRowIsNamed)
{
    const std::tuple<std::vector<SdRow>, std::string, std::string> cases[] = {
        {{{"a@32473", "x", R"(q" b\ r])"}, {"", "", ""}, {"b", "", ""}, {"a@32473", "y", ""}},
         R"([a@32473 x="q\" b\\ r\]" y=""][b])",
         ""},
        {{{"c", "v", "é"}, {"c", "v", "2"}}, R"([c v="é" v="2"])", ""},
        {{}, "", ""},
        {{{"a", "x", "1"}, {"", "y", "2"}}, "", "row 2: SD-ID is empty"},
        {{{"a", "", "1"}}, "", "row 1: PARAM-NAME is empty"},
        {{{"a b", "x", "1"}}, "", "row 1: SD-ID 'a b' contains a space"},
        {{{"a", "x=y", "1"}}, "", "row 1: PARAM-NAME 'x=y' contains '='"},
        {{{"a@b", "x", "1"}}, "", "row 1: SD-ID 'a@b' needs an enterprise number after '@' (such as 32473)"},
        {{{"a", "x", "\xFF"}}, "", "row 1: PARAM-VALUE of 'x' is not UTF-8"},
    };
    for (const auto &[rows, wire, why] : cases) {
        std::vector<std::string> elements{"[old]"};
        EXPECT_EQ(SdElementsFromRows(rows, elements), why) << wire;
        EXPECT_EQ(Joined(elements), why.empty() ? wire : "[old]") << why;
        if (why.empty()) {
            std::vector<std::string> again;
            EXPECT_EQ(SdElementsFromRows(SdRowsFromElements(elements), again), "");
            EXPECT_EQ(again, elements);
        }
    }
}
} // namespace
