#include "transport/AddressLookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

bool AddressLookup::NeedsNameLookup() const
{
    return errorNumber == EAI_NONAME;
}

AddressLookup LookUpAddresses(const std::string &host, std::uint16_t port, int socketType, bool numericOnly)
{
    AddressLookup result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    const std::string service = std::to_string(port);
    addrinfo *found = nullptr;
    const int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (code != 0) {
        const int systemError = errno;
        if (code == EAI_SYSTEM && systemError != 0) {
            result.errorNumber = systemError;
            result.errorText = std::strerror(systemError);
        } else {
            result.errorNumber = code;
            result.errorText = ::gai_strerror(code);
        }
        return result;
    }
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress address;
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        result.addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    // A name like "localhost" often lists ::1 first, while most receivers
    // listen on IPv4 only; IPv4 first keeps such a name reaching them.
    std::stable_partition(result.addresses.begin(), result.addresses.end(),
                          [](const SocketAddress &a) { return a.Family() == AF_INET; });
    if (result.addresses.empty()) {
        result.errorNumber = EAI_FAMILY;
        result.errorText = ::gai_strerror(EAI_FAMILY);
    }
    return result;
}

SocketAddress AnyAddress(int family, std::uint16_t port)
{
    SocketAddress address;
    if (family == AF_INET6) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address.storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_any;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&address.storage);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
    }
    return address;
}

AddressLookup UnixSocketAddress(const std::string &path)
{
    AddressLookup result;
    sockaddr_un unixAddress{};
    if (path.empty() || path.size() >= sizeof unixAddress.sun_path || path.find('\0') != std::string::npos) {
        result.errorNumber = path.size() >= sizeof unixAddress.sun_path ? ENAMETOOLONG : EINVAL;
        result.errorText = std::strerror(result.errorNumber);
        return result;
    }
    unixAddress.sun_family = AF_UNIX;
    std::memcpy(unixAddress.sun_path, path.data(), path.size());
    SocketAddress address;
    std::memcpy(&address.storage, &unixAddress, sizeof unixAddress);
    address.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    result.addresses.push_back(address);
    return result;
}
