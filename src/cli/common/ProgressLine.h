#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A count with its thousands grouped, as every text line writes one: "18,031,957".
std::string Grouped(std::int64_t number);
std::string GroupedCount(std::uint64_t count);

// "1 message" or "N messages".
std::string MessagesText(std::int64_t count);
