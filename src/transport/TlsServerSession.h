#pragma once

#include "transport/StreamSession.h"
#include "transport/TlsConnection.h"

#include <string>

class TlsServerContext;

// A TLS session on an accepted socket: the handshake, then the decrypted
// bytes. What the session has to say (handshake, tickets, alerts) waits in a
// buffer that goes out whenever the socket takes it, so a client that does
// not read never blocks the receiver; one that lets it grow past a bound is
// dropped.
class TlsServerSession final : public StreamSession {
public:
    TlsServerSession(const TlsServerContext &context, int fd);
    // Says close_notify when the socket takes it at once.
    ~TlsServerSession() override;

    ReadStatus Read(char *buffer, std::size_t capacity, std::size_t &got) override;
    std::uint32_t WantedEvents() const override;
    bool Established() const override { return m_established; }
    std::string FailureText() const override { return m_failure; }

private:
    // False when the socket failed or the client left too much unread.
    [[nodiscard]] bool Flush();
    ReadStatus Fail(ReadStatus status, std::string text);

    int m_fd;
    std::string m_outgoing;
    TlsConnection m_tls;
    bool m_established = false;
    std::string m_failure;
};
