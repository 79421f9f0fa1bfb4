#pragma once

#include "load/LoadShape.h"
#include "load/Shard.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The shape of --ramp FROM:TO:SECONDS, or the steps of --steps
// R1xS1,R2xS2,..., or the words saying what is wrong with the text.
[[nodiscard]] std::variant<LoadShape, std::string> ReadRamp(std::string_view text);
[[nodiscard]] std::variant<std::vector<LoadShape::Step>, std::string> ReadSteps(std::string_view text);

// The shard of "I/N", or of "auto/N" with I from environmentIndex (null when
// the variable is not set); otherwise the words saying what is wrong.
[[nodiscard]] std::variant<Shard, std::string> ReadShard(std::string_view text, const char *environmentIndex);
