#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class TlsClientContext;
class TlsServerContext;

// One TLS session over a connected non-blocking socket, which stays the
// caller's. It never writes to the socket: everything to send (handshake,
// records, alerts) is appended to the caller's outgoing buffer, and the caller
// sends it (with MSG_NOSIGNAL) when the socket takes it. So encrypting never
// waits for the kernel, a batch becomes records in one buffer that one send
// hands over, and no write can raise SIGPIPE. It reads the socket itself
// (recv without waiting) in Handshake and Read.
//
// For a receiver: accept a connection, make the socket non-blocking, build a
// TlsConnection from a TlsServerContext, call Handshake and then Read each time
// the socket is readable, sending `outgoing` after every call.
class TlsConnection {
public:
    enum class Result {
        Done,     // handshake finished, or Read got bytes
        WantRead, // wait until the socket is readable, then call again
        Closed,   // the peer ended the session (SocketError says whether by a reset)
        Failed,   // FailureText says why; the session is over
    };

    // host: the target; the server's certificate must carry it, or the
    // context's server name when one is set.
    TlsConnection(const TlsClientContext &context, int fd, std::string &outgoing, const std::string &host);
    TlsConnection(const TlsServerContext &context, int fd, std::string &outgoing);
    ~TlsConnection();
    TlsConnection(const TlsConnection &) = delete;
    TlsConnection &operator=(const TlsConnection &) = delete;

    // Done, WantRead or Failed.
    Result Handshake();
    // Encrypts all the bytes into outgoing; false when the session failed.
    [[nodiscard]] bool Write(std::string_view plain);
    // Up to size bytes the peer sent; got is how many (with Done).
    Result Read(char *buffer, std::size_t size, std::size_t &got);
    // Queues close_notify after a finished handshake.
    void Shutdown();

    // Why the last call failed or closed, in the user's words.
    const std::string &FailureText() const;
    // The system's error number behind a Closed or Failed result, or 0.
    int SocketError() const;
    // A TLS 1.3 server that asked for a client certificate judges it after
    // the client's handshake ended: until it says anything (a ticket, data or
    // an alert) the client cannot know it was accepted.
    bool AwaitingVerdict() const;
    // "TLSv1.3", "TLS_AES_256_GCM_SHA384"; empty before the handshake ended.
    std::string Version() const;
    std::string Cipher() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
