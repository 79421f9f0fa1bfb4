#include "transport/TransportKind.h"

#include "common/NameLists.h"
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
    return NameAlternatives(kinds, TransportName);
}

std::string TransportList(std::span<const TransportKind> kinds)
{
    return NameList(kinds, TransportName);
}

std::vector<std::string> TransportChoices(std::span<const TransportKind> kinds)
{
    return NameChoices(kinds, TransportName);
}
