#include "shell/GCommonDialog.h"

#include "support/AnsweringServices.h"

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

struct OpenCall {
    std::string filename;
    std::int32_t filterIndex = 1;
    bool readOnly = false;
    std::string fileTitle = "title", filter = ProgramFilter;
    std::int32_t flags = 0x20;
    bool result = false;

    void Run(GCommonDialog &dialog)
    {
        result = dialog.VBGetOpenFileName(filename, fileTitle, true, false, readOnly, false, filter, filterIndex,
                                          "/start", "Pick one", "", nullptr, flags);
    }
};

TEST(GCommonDialogOpen, ChosenFileFillsTheOutputsAndNoneEmptiesThem)
{
    AnsweringFileChooser chooser;
    chooser.QueuePath(QStringLiteral("/data/logs/messages.txt"));
    chooser.QueueCancel();
    GCommonDialog dialog(chooser);
    OpenCall chosen{"", 2, true};
    chosen.Run(dialog);
    EXPECT_TRUE(chosen.result);
    EXPECT_EQ(chosen.filename, "/data/logs/messages.txt");
    EXPECT_EQ(chosen.fileTitle, "messages.txt");
    EXPECT_EQ(chosen.filterIndex, 2);
    EXPECT_EQ(chosen.filter, "Text files (*.txt)\0*.txt"s);
    EXPECT_TRUE(chosen.readOnly);
    // The hook bit passed in never comes back.
    EXPECT_EQ(chosen.flags, 0x1000 | 0x1);
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(chooser.requests[0].nameFilters, QStringList({"All files (*)", "Text files (*.txt)"}));
    EXPECT_EQ(chooser.requests[0].selectedFilter, 1);
    EXPECT_TRUE(chooser.requests[0].fileMustExist);

    // Cancelled, or refused before the chooser opens for a name longer than the dialog takes.
    for (OpenCall call : {OpenCall{"/was/here.txt"}, OpenCall{std::string(OpenFileBufferSize + 1, 'x')}}) {
        call.Run(dialog);
        EXPECT_FALSE(call.result);
        EXPECT_TRUE(call.filename.empty() && call.fileTitle.empty() && call.filter.empty());
        EXPECT_EQ(call.filterIndex, -1);
        EXPECT_EQ(call.flags, 0);
        EXPECT_EQ(dialog.APIReturn(), 0);
    }
    EXPECT_EQ(chooser.requests.size(), 2u);
}
} // namespace
