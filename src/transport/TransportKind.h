#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// How messages travel. The words --transport and --listen take, their help
// and completion, the reports and the listening line all read one table.
enum class TransportKind { Udp, Tcp, Tls, Relp, RelpTls, UnixDgram, UnixStream };

std::string_view TransportName(TransportKind kind);
// The kind among these that a word names, in any case.
std::optional<TransportKind> TransportNamed(std::string_view word, std::span<const TransportKind> among);
// "udp|tcp|tls" for a flag's value, and "udp, tcp or tls" for a message.
std::string TransportAlternatives(std::span<const TransportKind> kinds);
std::string TransportList(std::span<const TransportKind> kinds);
std::vector<std::string> TransportChoices(std::span<const TransportKind> kinds);

constexpr bool IsStream(TransportKind kind)
{
    return kind != TransportKind::Udp && kind != TransportKind::UnixDgram;
}

constexpr bool IsTls(TransportKind kind)
{
    return kind == TransportKind::Tls || kind == TransportKind::RelpTls;
}

constexpr bool IsRelp(TransportKind kind)
{
    return kind == TransportKind::Relp || kind == TransportKind::RelpTls;
}

constexpr bool IsUnixSocket(TransportKind kind)
{
    return kind == TransportKind::UnixDgram || kind == TransportKind::UnixStream;
}
