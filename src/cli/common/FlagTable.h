#pragma once

#include "common/Status.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One flag of a program: how it is written, what it takes, what it does.
// The parser, --help, the man page and the shell completion are all read
// from the table, so a flag cannot be known to one of them and not another.
struct Flag {
    std::string_view name;  // "--port"
    std::string_view value; // the value's placeholder in the help; empty: a switch
    // Help lines as --help prints them, joined by '\n'; empty for a flag
    // listed with its neighbours on one line (--help, --version).
    std::string_view help;
    std::function<Status(std::string_view value)> take;
    // A closed set of values the completion offers.
    std::vector<std::string> choices = {};
    std::string_view alias = {}; // "-h"
    // What the man page says of a flag without help lines.
    std::string_view pageHelp = {};
};

// What a group of flags is about, whatever its title says: a program that
// lends another's flags picks the groups by this.
enum class FlagGroupId {
    // quillon-send's
    Target,
    ProxyProtocol,
    Relp,
    Priority,
    Message,
    MessageFormat,
    Templates,
    Tls,
    Sending,
    Replay,
    Stamps,
    Spread,
    Load,
    SettingsAndOutput,
    // quillon-recv's (Tls and the rest above are shared where they mean the same)
    Listening,
    Ending,
    CheckFile,
    Merge,
    Output,
    // quillon-probe's
    Receiving,
    Watching,
    Search,
    Soak,
    // every program's
    Metrics,
};

struct FlagGroup {
    FlagGroupId id;
    std::string_view title;
    std::vector<Flag> flags;
    // Lines after the flags, printed as they stand.
    std::string_view note = {};
    // Where the help lines start.
    std::size_t column = 25;
};

// A common job, as --help and the man page end with it.
struct FlagExample {
    std::string_view what;    // "A stamped run, checked by quillon-recv"
    std::string_view command; // one line, as typed
};

struct FlagTable {
    std::string_view program; // "quillon-send"
    // The lines between "Usage:" and the first group.
    std::string_view summary;
    std::vector<FlagGroup> groups;
    // After the groups: what --help says about the whole program.
    std::string_view epilogue;
    // The common jobs first.
    std::vector<FlagExample> examples = {};
    // Added to the message about an unknown flag or a stray argument.
    std::string_view seeHelp = {};
    // What a usage error says of a flag not in the table when there is more
    // to say than that it is unknown (another program's flag); empty: that.
    std::function<std::string(std::string_view name)> unknown = {};
    // What the handlers write to, kept while the table is.
    std::shared_ptr<void> state = {};
};

// The --help (-h) and --version rows, alike in every program: given runs
// when the flag is on the line.
Flag HelpFlag(std::function<void()> given);
Flag VersionFlag(std::function<void()> given);
// The handler of a flag that takes no value and turns field on.
std::function<Status(std::string_view)> SetsTrue(bool &field);

// Hands each flag of args to its handler: "--flag value" or "--flag=value".
// Stops at the first that fails, with the line saying why.
Status ParseFlags(const FlagTable &table, const std::vector<std::string> &args);

// The flags named in a table, in order.
std::vector<std::string_view> FlagNames(const FlagTable &table);

std::string HelpText(const FlagTable &table);
// The OPTIONS section of the man page, in scdoc's syntax.
std::string ScdocOptions(const FlagTable &table);
// The EXAMPLES section's body, in scdoc's syntax.
std::string ScdocExamples(const FlagTable &table);
// A bash completion script for the program.
std::string BashCompletion(const FlagTable &table);
