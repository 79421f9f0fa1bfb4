// Writes what the build makes from the programs' flag tables:
//   quillon-flagdoc man send|recv|probe PAGE.scd   the page with @OPTIONS@ and @EXAMPLES@ filled in
//   quillon-flagdoc completion send|recv|probe     the bash completion script
#include "cli/probe/ProbeCommandLine.h"
#include "cli/recv/RecvCommandLine.h"
#include "cli/send/CommandLine.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool man = args.size() == 3 && args[0] == "man";
    const bool completion = args.size() == 2 && args[0] == "completion";
    if ((!man && !completion) || (args[1] != "send" && args[1] != "recv" && args[1] != "probe")) {
        std::cerr << "usage: quillon-flagdoc man send|recv|probe PAGE.scd | completion send|recv|probe\n";
        return 2;
    }
    const FlagTable table = args[1] == "send"   ? SendFlagTable()
                            : args[1] == "recv" ? RecvFlagTable()
                                                : ProbeFlagTable();
    if (completion) {
        std::cout << BashCompletion(table);
        return 0;
    }
    std::ifstream page(args[2]);
    if (!page) {
        std::cerr << "quillon-flagdoc: cannot read " << args[2] << "\n";
        return 1;
    }
    std::stringstream text;
    text << page.rdbuf();
    std::string out = text.str();
    const std::string marker = "@OPTIONS@\n";
    const std::size_t at = out.find(marker);
    if (at == std::string::npos) {
        std::cerr << "quillon-flagdoc: " << args[2] << " has no @OPTIONS@ line\n";
        return 1;
    }
    out.replace(at, marker.size(), ScdocOptions(table));
    const std::string examples = "@EXAMPLES@\n";
    if (const std::size_t where = out.find(examples); where != std::string::npos)
        out.replace(where, examples.size(), ScdocExamples(table));
    std::cout << out;
    return std::cout ? 0 : 1;
}
