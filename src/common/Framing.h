#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// How messages are told apart in a stream. None sends the bytes as built;
// OctetCount is RFC 6587's "MSG-LEN SP SYSLOG-MSG". Auto is a receiver's
// alone: each connection shows its own.
enum class Framing { None, Lf, CrLf, Nul, OctetCount, Auto };

// Names for flags, the settings store and reports, in enum order.
inline constexpr std::array<std::string_view, 6> FramingNames = {"none", "lf", "crlf", "nul", "octet-count", "auto"};

// What a sender may frame with and what a receiver may expect, each in the
// order its flag lists them.
inline constexpr std::array<Framing, 5> SentFramings = {Framing::None, Framing::Lf, Framing::CrLf, Framing::Nul,
                                                        Framing::OctetCount};
inline constexpr std::array<Framing, 5> ReceivedFramings = {Framing::Auto, Framing::OctetCount, Framing::Lf,
                                                            Framing::CrLf, Framing::Nul};

std::string_view FramingName(Framing framing);
// The framing among these that a name names, in any ASCII case.
std::optional<Framing> FramingNamed(std::string_view name, std::span<const Framing> among);
// A sender's framing by its name, in any ASCII case.
std::optional<Framing> ParseFraming(std::string_view name);
// "none|lf" for a flag's value, and "none or lf" for a message.
std::string FramingAlternatives(std::span<const Framing> framings);
std::string FramingList(std::span<const Framing> framings);
std::vector<std::string> FramingChoices(std::span<const Framing> framings);
