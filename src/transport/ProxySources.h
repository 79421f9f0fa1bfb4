#pragma once

#include "common/Result.h"
#include "transport/ProxyHeader.h"

#include <string>
#include <string_view>
#include <vector>

// The clients a sender claims in its PROXY headers, one per session, so one
// machine looks like many sources to a collector's per-source rules:
//   192.0.2.7,192.0.2.8:40000,[2001:db8::7]:5000   these in turn
//   10.0.0.0/8   2001:db8::/48                       a random host of the range
//   random   random6                                 a random unicast IPv4 (IPv6 in 2000::/3) address
// A source without a port gets a random one from 1024 to 65535. Random
// choices come from the program's random sequence.
class ProxySources {
public:
    // A text of another form fails, saying what it should be.
    static Result<ProxySources> Parse(std::string_view text);

    ProxyAddress Next();
    // A list starts count sources further on, so the sets of sessions made
    // from one text claim different sources; ranges and random draw anyway.
    void Skip(std::size_t count);

private:
    enum class Kind { List, Range, Random };
    Kind m_kind = Kind::List;
    std::vector<ProxyAddress> m_list;
    std::size_t m_next = 0;
    // Range: the network and its prefix length; Random: v6 or not.
    ProxyAddress m_network;
    int m_prefix = 0;
};
