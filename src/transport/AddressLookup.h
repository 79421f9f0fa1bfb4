#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int Family() const { return storage.ss_family; }
    const sockaddr *Get() const { return reinterpret_cast<const sockaddr *>(&storage); }
};

// What a name or address resolved to. On failure errorNumber is the resolver's
// code (errno where the resolver reports a system error) and errorText its text.
struct AddressLookup {
    std::vector<SocketAddress> addresses;
    int errorNumber = 0;
    std::string errorText;

    bool Ok() const { return errorNumber == 0 && !addresses.empty(); }
    // Only a name, not an address: it needs the resolver (and may take long).
    bool NeedsNameLookup() const;
};

// Addresses of host for the socket type (SOCK_DGRAM, SOCK_STREAM), IPv4 ones
// first. numericOnly refuses names instead of asking the resolver, so it never
// blocks. Safe on any thread.
AddressLookup LookUpAddresses(const std::string &host, std::uint16_t port, int socketType, bool numericOnly);

// The wildcard address of a family with the given port, for binding.
SocketAddress AnyAddress(int family, std::uint16_t port);

// The address of a Unix socket file; errorNumber ENAMETOOLONG for a path
// longer than sun_path holds, EINVAL for an empty one.
AddressLookup UnixSocketAddress(const std::string &path);
