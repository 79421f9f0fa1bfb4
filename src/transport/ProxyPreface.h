#pragma once

#include "transport/ProxyHeader.h"

#include <cstddef>
#include <string>

// The PROXY header an accepted connection must open with, taken from its
// socket with exactly its own bytes, so what follows stays there for the
// session (a TLS handshake too). Bytes are peeked, and taken once they are
// known to be the header's, so a peer that sends part of one does not wake
// the reader again for the same bytes; at most MostBytes are ever held.
class ProxyPreface {
public:
    enum class State { Reading, Done, Failed };
    // A version 2 header's addresses and the TLVs load balancers add fit
    // well; a longer one is refused rather than held.
    static constexpr std::size_t MostBytes = 4096;

    // Takes what the socket has of the header; scratch needs MostBytes.
    State Read(int fd, char *scratch);
    const ProxyHeader &Header() const { return m_header; }
    // Why it failed, in the user's words.
    const std::string &FailureText() const { return m_failure; }

private:
    State Fail(std::string text);

    std::string m_held;
    ProxyHeader m_header;
    std::string m_failure;
};
