#pragma once

#include "cli/recv/RecvCommandLine.h"
#include "common/MemoryBudget.h"
#include "common/Result.h"
#include "proof/ReceiveLoop.h"

#include <cstddef>
#include <optional>
#include <string>

// The listener the receiver's flags describe, its TLS certificate and key
// read and checked before anything listens.
struct ListenerSetup {
    ListenSettings settings;
    SessionFactory factory;
    // Why fewer connections are kept open than --max-connections says (the
    // open files limit); empty when that is not so.
    std::string connectionsCapped;
};

// A failure names the flag at fault ("--cert: ...") as names call it.
Result<ListenerSetup> SetUpListener(const RecvOptions &options, const RecvFlagNames &names = {});

// The share of what ulimit -v leaves (common/MemoryBudget.h) that the
// streams checked may take, and apart the parts of messages held.
inline constexpr std::size_t MemoryShare = 4;
