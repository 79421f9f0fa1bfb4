#pragma once

#include "transport/TlsConnection.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class TlsClientContext;

// What a stream endpoint's bytes pass through on their way to and from the
// socket: nothing (plain) or a TLS session. A layer never writes to the
// socket; the endpoint sends what it makes, so back-pressure and pending
// bytes are the endpoint's alone, whatever the layer.
class ByteLayer {
public:
    using Result = TlsConnection::Result;

    virtual ~ByteLayer() = default;

    // Done, WantRead or Failed; anything to send is then in Outgoing().
    virtual Result Handshake() { return Result::Done; }
    // A TLS 1.3 server may still refuse the client's certificate.
    virtual bool AwaitingVerdict() const { return false; }
    // The wire bytes that carry plain: plain itself, or records made in
    // Outgoing(). False when the session failed (FailureText says why).
    [[nodiscard]] virtual bool Encode(std::string_view plain, std::string_view &wire) = 0;
    // Whether encoded bytes are part of the stream already (records carry
    // sequence numbers), so they must go even when none was sent at once.
    virtual bool EncodingCommits() const { return false; }
    // Plain bytes encoded at once at most, so a big write still waits for
    // the kernel between pieces.
    virtual std::size_t EncodeLimit() const { return std::string_view::npos; }
    // Up to size bytes the peer sent; Closed with SocketError() when a reset
    // or failure ended it.
    virtual Result Read(char *buffer, std::size_t size, std::size_t &got) = 0;
    // Queues the layer's goodbye into Outgoing(); false for a layer that has
    // none, whose socket just closes.
    [[nodiscard]] virtual bool Goodbye() { return false; }
    virtual bool HasGoodbye() const { return false; }

    // Bytes the layer made that the endpoint must send, in order.
    std::string &Outgoing() { return m_outgoing; }
    virtual const std::string &FailureText() const;
    virtual int SocketError() const { return m_socketError; }
    virtual std::string Version() const { return {}; }
    virtual std::string Cipher() const { return {}; }

protected:
    std::string m_outgoing;
    int m_socketError = 0;
};

// The socket's bytes as they are.
class PlainLayer final : public ByteLayer {
public:
    explicit PlainLayer(int fd) : m_fd(fd) {}
    bool Encode(std::string_view plain, std::string_view &wire) override;
    Result Read(char *buffer, std::size_t size, std::size_t &got) override;

private:
    int m_fd;
};

// A TLS client session over the socket.
class TlsLayer final : public ByteLayer {
public:
    TlsLayer(const TlsClientContext &context, int fd, const std::string &host);
    Result Handshake() override;
    bool AwaitingVerdict() const override;
    bool Encode(std::string_view plain, std::string_view &wire) override;
    bool EncodingCommits() const override { return true; }
    std::size_t EncodeLimit() const override;
    Result Read(char *buffer, std::size_t size, std::size_t &got) override;
    bool Goodbye() override;
    bool HasGoodbye() const override { return true; }
    const std::string &FailureText() const override;
    int SocketError() const override;
    std::string Version() const override;
    std::string Cipher() const override;

private:
    // Writes to m_outgoing, so it comes after it.
    TlsConnection m_session;
};
