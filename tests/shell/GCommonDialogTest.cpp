#include "shell/GCommonDialog.h"

#include "support/AnsweringServices.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace std::string_literals;

const std::string ProgramFilter = "All files (*.*)|*.*|Text files (*.txt)|*.txt";

TEST(GCommonDialogFilter, BarsAndColonsEndEveryPart)
{
    const struct {
        std::string filter;
        std::string converted;
    } cases[] = {{ProgramFilter, "All files (*.*)\0*.*\0Text files (*.txt)\0*.txt\0\0"s},
                 {"Logs: syslog|*.log", "Logs\0 syslog\0*.log\0\0"s},
                 {"", "\0\0"s}};
    for (const auto &row : cases)
        EXPECT_EQ(ConvertFilter(row.filter), row.converted) << row.filter;
}

TEST(GCommonDialogFilter, PairIsPickedByItsIndex)
{
    const std::string converted = ConvertFilter(ProgramFilter);
    const struct {
        std::string filter;
        int index;
        std::string pair;
    } cases[] = {{converted, 1, "All files (*.*)\0*.*"s},
                 {converted, 2, "Text files (*.txt)\0*.txt"s},
                 {converted, 0, ""},
                 {converted, -1, ""},
                 {"", 1, ""},
                 {"no separator", 1, ""},
                 {"Last\0*.last"s, 1, "Last\0*.last"s}};
    for (const auto &row : cases)
        EXPECT_EQ(FilterPair(row.filter, row.index), row.pair) << row.index;
}

struct OpenCall {
    std::string filename;
    std::string fileTitle = "title";
    bool readOnly = false;
    std::string filter = ProgramFilter;
    std::int32_t filterIndex = 1;
    std::int32_t flags = 0x20;
    bool result = false;

    void Run(GCommonDialog &dialog)
    {
        result = dialog.VBGetOpenFileName(filename, fileTitle, true, false, readOnly, false, filter, filterIndex,
                                          "/start", "Pick one", "", nullptr, flags);
    }
};

TEST(GCommonDialogOpen, ChosenFileFillsTheOutputs)
{
    AnsweringFileChooser chooser;
    chooser.QueuePath(QStringLiteral("/data/logs/messages.txt"));
    GCommonDialog dialog(chooser);
    OpenCall call;
    call.filterIndex = 2;
    call.readOnly = true;
    call.Run(dialog);

    EXPECT_TRUE(call.result);
    EXPECT_EQ(dialog.APIReturn(), 1);
    EXPECT_EQ(call.filename, "/data/logs/messages.txt");
    EXPECT_EQ(call.fileTitle, "messages.txt");
    EXPECT_EQ(call.filterIndex, 2);
    EXPECT_EQ(call.filter, "Text files (*.txt)\0*.txt"s);
    EXPECT_TRUE(call.readOnly);
    // The hook bit passed in never comes back.
    EXPECT_EQ(call.flags, 0x1000 | 0x1);

    ASSERT_EQ(chooser.requests.size(), 1u);
    const FileChooserRequest &request = chooser.requests.front();
    EXPECT_EQ(request.title, "Pick one");
    EXPECT_EQ(request.initialDirectory, "/start");
    EXPECT_EQ(request.nameFilters, QStringList({"All files (*)", "Text files (*.txt)"}));
    EXPECT_EQ(request.selectedFilter, 1);
    EXPECT_TRUE(request.fileMustExist);
}

TEST(GCommonDialogOpen, NothingChosenEmptiesTheOutputs)
{
    AnsweringFileChooser chooser;
    chooser.QueueCancel();
    GCommonDialog dialog(chooser);
    OpenCall cancelled;
    cancelled.filename = "/was/here.txt";
    cancelled.Run(dialog);

    // A name longer than the dialog takes is refused before it opens.
    OpenCall tooLong;
    tooLong.filename = std::string(OpenFileBufferSize + 1, 'x');
    tooLong.Run(dialog);
    EXPECT_EQ(chooser.requests.size(), 1u);

    for (const OpenCall &call : {cancelled, tooLong}) {
        EXPECT_FALSE(call.result);
        EXPECT_TRUE(call.filename.empty());
        EXPECT_TRUE(call.fileTitle.empty());
        EXPECT_TRUE(call.filter.empty());
        EXPECT_EQ(call.filterIndex, -1);
        EXPECT_EQ(call.flags, 0);
    }
    EXPECT_EQ(dialog.APIReturn(), 0);
}
} // namespace
