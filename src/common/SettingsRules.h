#pragma once

#include <string>
#include <string_view>

// Rules of the settings store shared by the window and the command line.

// The key that holds the sequence counter of one target host. Characters the
// store reads as key separators are escaped, so every target keeps a key of
// its own.
std::string HostMessageCountKey(std::string_view trimmedTarget);

// The local address up to and including its last dot, "127.0.0." when it has
// no usable dot.
std::string SubnetPrefixOf(std::string_view localIp);
