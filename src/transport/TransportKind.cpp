#include "transport/TransportKind.h"

#include "common/TextHelpers.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<TransportKind, std::string_view>, 7> Names = {{
    {TransportKind::Udp, "udp"},
    {TransportKind::Tcp, "tcp"},
    {TransportKind::Tls, "tls"},
    {TransportKind::Relp, "relp"},
    {TransportKind::RelpTls, "relp-tls"},
    {TransportKind::UnixDgram, "unix-dgram"},
    {TransportKind::UnixStream, "unix-stream"},
}};

} // namespace

std::string_view TransportName(TransportKind kind)
{
    for (const auto &[named, name] : Names)
        if (named == kind)
            return name;
    return {};
}

std::optional<TransportKind> TransportNamed(std::string_view word, std::span<const TransportKind> among)
{
    const std::string lower = ToLowerAscii(word);
    for (const TransportKind kind : among)
        if (lower == TransportName(kind))
            return kind;
    return std::nullopt;
}

std::string TransportAlternatives(std::span<const TransportKind> kinds)
{
    std::string text;
    for (const TransportKind kind : kinds)
        text += (text.empty() ? "" : "|") + std::string(TransportName(kind));
    return text;
}

std::string TransportList(std::span<const TransportKind> kinds)
{
    std::string text;
    for (std::size_t i = 0; i < kinds.size(); ++i)
        text += (i == 0 ? "" : i + 1 == kinds.size() ? " or " : ", ") + std::string(TransportName(kinds[i]));
    return text;
}

std::vector<std::string> TransportChoices(std::span<const TransportKind> kinds)
{
    std::vector<std::string> choices;
    for (const TransportKind kind : kinds)
        choices.emplace_back(TransportName(kind));
    return choices;
}
