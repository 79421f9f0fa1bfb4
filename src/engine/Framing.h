#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How messages are told apart in a TCP stream. None sends the bytes as
// built; OctetCount is RFC 6587's "MSG-LEN SP SYSLOG-MSG".
enum class Framing { None, Lf, CrLf, Nul, OctetCount };

// Names for flags and the settings store, in enum order.
inline constexpr std::array<std::string_view, 5> FramingNames = {"none", "lf", "crlf", "nul", "octet-count"};

std::string_view FramingName(Framing framing);
// Any ASCII case; nothing for an unknown name.
std::optional<Framing> ParseFraming(std::string_view name);

// Appends one framed packet to a batch; out keeps its capacity.
void AppendFramed(std::string &out, Framing framing, std::string_view packet);

// Frames the packet built in place at out[start..]: octet counting moves it
// along by the length of its count, without a copy elsewhere.
void FrameInPlace(std::string &out, std::size_t start, Framing framing);
