#pragma once

#include <string>

class SocketEndpoint;

// Re-addresses the UDP endpoint before sending: closes it, makes it UDP and
// sets the port read from portText and the target. A saved port text that is
// 0, fractional or out of range is taken as the nearest port, never an error.
void PrepareUdpEndpoint(SocketEndpoint &UDP1, const std::string &portText, const std::string &targetAddress);

void CloseUdpEndpoint(SocketEndpoint &UDP1);
