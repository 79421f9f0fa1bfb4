#pragma once

#include <cstdint>

// The numbers an endpoint's State() answers, shared by every endpoint kind;
// the window's code compares them through SocketEndpoint's names.
namespace EndpointState {
inline constexpr std::int16_t Closed = 0;
inline constexpr std::int16_t Open = 1; // a datagram socket is open
inline constexpr std::int16_t Resolving = 4;
inline constexpr std::int16_t Connecting = 6;
inline constexpr std::int16_t Connected = 7;
inline constexpr std::int16_t PeerClosed = 8;
inline constexpr std::int16_t Error = 9;
} // namespace EndpointState

// ErrorEvent's Number for a failed TLS handshake or session; the description
// says why ("TLS handshake failed: ...").
inline constexpr int EndpointErrorTls = 5425;
