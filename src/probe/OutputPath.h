#pragma once

#include <optional>
#include <string>

// Why a file could not be written at path (its folder missing, no folder,
// or not writable), checked before a long run rather than at its end;
// none when it can be, or when path is empty.
std::optional<std::string> UnwritableReason(const std::string &path);
