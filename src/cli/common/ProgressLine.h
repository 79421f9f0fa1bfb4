#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "1 message" or "N messages".
std::string MessagesText(std::int64_t count);

// The window's status bar texts on one line, as every program prints them
// each second: "N messages sent, M MPS" (or received).
std::string ProgressLine(std::int64_t count, std::int64_t lastSecond, std::string_view verb = "sent");
