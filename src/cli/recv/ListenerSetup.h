#pragma once

#include "cli/recv/RecvCommandLine.h"
#include "proof/ReceiveLoop.h"

#include <optional>
#include <string>

// The listener the receiver's flags describe, its TLS certificate and key
// read and checked before anything listens.
struct ListenerSetup {
    ListenSettings settings;
    SessionFactory factory;
};

// None with error naming the flag at fault ("--cert: ...") as names call it.
[[nodiscard]] std::optional<ListenerSetup> SetUpListener(const RecvOptions &options, std::string &error,
                                                         const RecvFlagNames &names = {});
