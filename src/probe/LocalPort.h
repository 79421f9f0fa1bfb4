#pragma once

#include "transport/TransportKind.h"

#include <vector>

// Whether a socket on this machine is bound to the port: a UDP socket, or
// a TCP one listening for a stream transport. Read from /proc/net, so a collector the probe
// started is known to be ready before the first step sends to it.
bool LocalPortBound(int port, TransportKind transport);
// The processes holding such a socket, from their open files; only those
// whose files this process may read.
std::vector<int> LocalPortHolders(int port, TransportKind transport);
