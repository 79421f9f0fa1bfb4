#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A count with its thousands grouped, as every text line writes one: "18,031,957".
std::string Grouped(std::int64_t number);
std::string GroupedCount(std::uint64_t count);

// "1 message" or "N messages".
std::string MessagesText(std::int64_t count);

// The window's status bar texts on one line, as every program prints them
// each second: "N messages sent, M MPS" (or received).
std::string ProgressLine(std::int64_t count, std::int64_t lastSecond, std::string_view verb = "sent");
