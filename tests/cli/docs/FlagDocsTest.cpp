#include "cli/common/CliProcess.h"
#include "cli/probe/ProbeCommandLine.h"
#include "cli/recv/RecvCommandLine.h"
#include "cli/send/CommandLine.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace {
struct Program {
    std::string name;
    FlagTable table;
    std::string help;
};

// What the installed completion offers after each line, one block per line.
std::vector<std::string> Offered(const std::string &program, const std::vector<std::string> &lines)
{
    std::string script = "source '" + std::string(QUILLON_DOCS_DIR) + "/" + program + "' || exit 3\n" +
                         "offer() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=();\n"
                         "  $(complete -p " +
                         program + " | awk '{print $3}'); printf '%s\\n' \"${COMPREPLY[@]}\"; echo; }\n";
    for (const std::string &line : lines)
        script += "offer " + program + " " + line + "\n";
    QProcess bash;
    bash.start("bash", {"--norc", "-c", QString::fromStdString(script)});
    EXPECT_TRUE(bash.waitForFinished(20000));
    EXPECT_EQ(bash.exitCode(), 0) << bash.readAllStandardError().toStdString();
    std::vector<std::string> blocks;
    std::string block;
    std::istringstream out(bash.readAllStandardOutput().toStdString());
    for (std::string word; std::getline(out, word);) {
        if (!word.empty()) {
            block += word + " ";
            continue;
        }
        blocks.push_back(block);
        block.clear();
    }
    return blocks;
}

TEST(FlagDocs, EveryFlagIsInTheHelpTheManPageAndTheCompletion)
{
    const Program programs[] = {{"quillon-send", SendFlagTable(), UsageText()},
                                {"quillon-recv", RecvFlagTable(), RecvUsageText()},
                                {"quillon-probe", ProbeFlagTable(), ProbeUsageText()}};
    for (const Program &program : programs) {
        const std::string man = FileText(QString::fromStdString(QUILLON_DOCS_DIR "/" + program.name + ".1"));
        ASSERT_FALSE(man.empty()) << program.name;
        std::vector<std::string> lines = {"''"};
        std::vector<std::string> expected = {""};
        for (std::string_view name : FlagNames(program.table)) {
            const std::string flag(name);
            EXPECT_TRUE(std::regex_search(program.help, std::regex("(  |, )" + flag + "[ ,\n]"))) << flag;
            EXPECT_NE(man.find("\\fB" + flag + "\\fR"), std::string::npos) << program.name << " " << flag;
            expected.front() += flag + " ";
        }
        // A closed set's values, after "--flag" and after "--flag=".
        for (const FlagGroup &group : program.table.groups)
            for (const Flag &flag : group.flags) {
                // Paths: files, and after a kind that takes one.
                const bool path = flag.value.find("FILE") != std::string_view::npos ||
                                  flag.value.find("PATH") != std::string_view::npos;
                const bool kinds = !flag.choices.empty() && flag.choices.front().ends_with(':');
                if (path || kinds) {
                    lines.push_back(std::string(flag.name) + (kinds ? " unix-dgram : /dev/nul" : " /dev/nul"));
                    expected.push_back("/dev/null ");
                }
                if (flag.choices.empty())
                    continue;
                std::string values;
                for (const std::string &choice : flag.choices)
                    values += choice + " ";
                lines.push_back(std::string(flag.name) + " ''");
                lines.push_back(std::string(flag.name) + " =");
                expected.insert(expected.end(), 2, values);
            }
        EXPECT_EQ(Offered(program.name, lines), expected) << program.name;
    }
}

// The examples cannot name a flag the program no longer has, and the man page
// shows the same ones as --help.
TEST(FlagDocs, ExamplesUseTheProgramsFlagsAndAreOnTheManPage)
{
    const Program programs[] = {{"quillon-send", SendFlagTable(), UsageText()},
                                {"quillon-recv", RecvFlagTable(), RecvUsageText()},
                                {"quillon-probe", ProbeFlagTable(), ProbeUsageText()}};
    for (const Program &program : programs) {
        // The page as it reads, roff's escapes of dots and dashes undone.
        const std::string man = std::regex_replace(
            std::regex_replace(FileText(QString::fromStdString(QUILLON_DOCS_DIR "/" + program.name + ".1")),
                               std::regex(R"(\\&)"), ""),
            std::regex(R"(\\-)"), "-");
        const std::vector<std::string_view> names = FlagNames(program.table);
        const std::regex flagWord("(^| )(--[a-z0-9-]+)");
        EXPECT_GE(program.table.examples.size(), 4U) << program.name;
        EXPECT_NE(program.help.find("\nExamples:\n"), std::string::npos) << program.name;
        for (const FlagExample &example : program.table.examples) {
            const std::string command(example.command);
            EXPECT_TRUE(command.starts_with(program.name + " ")) << command;
            EXPECT_NE(program.help.find("    " + command + "\n"), std::string::npos) << command;
            EXPECT_NE(man.find(command), std::string::npos) << command;
            for (std::sregex_iterator word(command.begin(), command.end(), flagWord), end; word != end; ++word)
                EXPECT_NE(std::find(names.begin(), names.end(), (*word)[2].str()), names.end()) << command;
        }
    }
}
} // namespace
