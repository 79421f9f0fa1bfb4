#pragma once

#include <vector>

// Whether a socket on this machine is bound to the port: a UDP socket, or
// a TCP one listening. Read from /proc/net, so a collector the probe
// started is known to be ready before the first step sends to it.
bool LocalPortBound(int port, bool tcp);
// The processes holding such a socket, from their open files; only those
// whose files this process may read.
std::vector<int> LocalPortHolders(int port, bool tcp);
