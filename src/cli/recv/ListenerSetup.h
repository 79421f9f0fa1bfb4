#pragma once

#include "cli/recv/RecvCommandLine.h"
#include "common/Result.h"
#include "proof/ReceiveLoop.h"

// The listener the receiver's flags describe, its TLS certificate and key
// read and checked before anything listens.
struct ListenerSetup {
    ListenSettings settings;
    SessionFactory factory;
};

// A failure names the flag at fault ("--cert: ...") as names call it.
Result<ListenerSetup> SetUpListener(const RecvOptions &options, const RecvFlagNames &names = {});
