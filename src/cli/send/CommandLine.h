#pragma once

#include "cli/common/FlagTable.h"
#include "cli/common/MetricsFlags.h"
#include "load/SendOptions.h"

#include <string>
#include <vector>

struct ParseResult {
    // ListPacks: --pack list.
    enum class Action { Run, Help, Version, ListPacks, UsageError };
    Action action = Action::Run;
    Options options;
    bool fromSettings = false;
    // One line naming the bad flag or value.
    std::string error;
    // Lines about flags that have no effect on this run; it still runs.
    std::vector<std::string> warnings;
    MetricsOptions metrics;
};

// Reads the flags on top of base (the defaults, or the window's saved
// settings when --from-settings is among the arguments). args excludes the
// program name. --shard auto/N reads Shard::IndexVariable.
[[nodiscard]] ParseResult ParseCommandLine(const std::vector<std::string> &args, const Options &base = Options{});

std::string UsageText();
// --pack list: each pack's name, what it holds and one message of it.
std::string PackListText();
// The flags, for the help, the man page and the shell completion.
FlagTable SendFlagTable();
