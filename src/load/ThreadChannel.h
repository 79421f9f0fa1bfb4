#pragma once

#include "load/LoadPlan.h"
#include "load/SendChannel.h"

#include <memory>

class TlsClientContext;

// The channel share's thread sends through: a channel to each destination,
// spread over when there are several. The thread's sessions (and idle ones)
// are dealt to the destinations in turn, each a block of the run's
// connection numbers; over UDP each destination of a thread is a stream of
// its own. tls: the context every TLS session shares; runStart: when the run
// started.
std::unique_ptr<SendChannel> ThreadChannel(const LoadPlan &plan, const ThreadShare &share,
                                           std::shared_ptr<const TlsClientContext> tls,
                                           SendChannel::Clock::time_point runStart, const SendChannel::Say &say);
