#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A folder of the harness's own, made on first use under $TMPDIR (or /tmp)
// and removed when the harness exits normally.
const std::string &FuzzFolder();

// Replaces the file at name (relative to FuzzFolder()) with bytes; returns
// its path.
std::string WriteFuzzFile(std::string_view name, std::string_view bytes);

// A wrong answer is a finding as much as a crash: print what was expected
// and abort, so libFuzzer keeps the input.
void FuzzCheck(bool condition, std::string_view what);

// The input as bytes.
inline std::string_view FuzzBytes(const std::uint8_t *data, std::size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}
