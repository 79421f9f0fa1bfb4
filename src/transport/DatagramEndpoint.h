#pragma once

#include "transport/AddressLookup.h"
#include "transport/SocketSupport.h"

#include <QObject>
#include <QSocketNotifier>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Sends datagrams over UDP or to a Unix datagram socket, each packet one
// datagram of exactly its bytes. A UDP target is looked up and may be
// refused by the network later; a Unix socket is found by its path and
// refuses at once when nothing listens there.
// ErrorEvent is always delivered from the event loop, never from inside a call.
class DatagramEndpoint : public QObject {
    Q_OBJECT
public:
    explicit DatagramEndpoint(QObject *parent = nullptr);
    ~DatagramEndpoint() override;

    // Forgets the target resolved before, and the refusals counted.
    void SetTarget(const std::string &host, std::int32_t port);
    // Non-empty: the target is the Unix datagram socket at path instead.
    void SetSocketPath(const std::string &path);
    void SetLocalPort(std::int32_t port) { m_localPort = port; }
    std::int16_t State() const { return m_state; }

    // Drops the socket and any error still queued for it.
    void Close();
    // Packets handed over, counting from the first; several at once go
    // through one sendmmsg.
    std::size_t Send(std::span<const std::string_view> packets);
    // Datagrams sent since the target was set that the network has sent
    // back by now as undeliverable (nothing listens on the port, host
    // unreachable); for a Unix socket, those no socket was there to take.
    std::uint64_t Refused();
    // The clock that tells when a datagram drew no refusal long enough (2 s)
    // to have got through; the steady clock unless a test sets one.
    void SetRefusalClock(std::function<SteadyClock::time_point()> now) { m_refusalClock = std::move(now); }
    std::chrono::nanoseconds BlockedTime() const { return m_waits.Blocked(); }

signals:
    void ErrorEvent(int Number, const QString &Description);

private:
    void PostError(int number, const QString &text);
    void CloseSocket();
    void ForgetTarget();
    bool PrepareTarget();
    bool ConnectPath();
    std::size_t SendToPath(std::span<const std::string_view> packets);
    void NotePathRefused(std::uint64_t count, int number);
    void ReportFailure(int number);
    std::size_t ReadRefusals();
    void OnRefusal(int number);
    void OnReadable();

    std::string m_host;
    std::int32_t m_port = 0;
    std::string m_socketPath;
    // A datagram went to the Unix socket since the last refusal was reported.
    bool m_deliveredSinceRefusal = false;
    std::int32_t m_localPort = 0;
    std::int16_t m_state = 0;
    int m_fd = -1;
    int m_fdFamily = AF_UNSPEC;
    // Bumped by Close: errors queued for an older socket are dropped.
    EventGeneration m_generation;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};

    // The target resolved once per addressing.
    bool m_resolved = false;
    bool m_lookupReported = false;
    AddressLookup m_target;
    int m_lastSendError = 0;
    // Refusals the network sent back for datagrams sent, and the one last
    // reported; the first hand-over since the latest refusal was read.
    std::uint64_t m_refused = 0;
    int m_refusalReported = 0;
    std::optional<SteadyClock::time_point> m_unansweredSince;
    std::function<SteadyClock::time_point()> m_refusalClock = SteadyClock::now;
    WriteWaits m_waits;
};
