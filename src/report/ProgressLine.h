#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The window's status bar texts on one line, as every program prints them
// each second: "N messages sent, M MPS" (or received).
std::string ProgressLine(std::int64_t count, std::int64_t lastSecond, std::string_view verb = "sent");
