#pragma once

#include "engine/MessageStamper.h"
#include "load/SendChannel.h"
#include "transport/SocketEndpoint.h"

#include <optional>
#include <string>
#include <vector>

// Datagrams over one UDP or Unix datagram socket, a batch in one system
// call; its messages are one stamp stream.
class DatagramChannel : public SendChannel {
public:
    // stream: the stamps' stream number; runId empty: no stamps; stampKey:
    // keyed stamps. socketPath non-empty: to that Unix datagram socket
    // instead of host and port.
    DatagramChannel(std::string host, int port, std::string runId, std::uint64_t stream, std::string socketPath = {},
                    const std::optional<StampKey> &stampKey = std::nullopt);

    Opened Open(Clock::time_point deadline) override;
    void Begin(PacketStream &) override {}
    bool Ready() const override { return true; }
    std::int64_t BatchOf(std::int64_t due) const override { return due; }
    Handover Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                  Handed &handed) override;
    bool Holding() const override { return false; }
    void Abandon(PacketStream &) override {}
    std::string Tend() override { return {}; }
    void Wait(Clock::time_point until) override;
    std::string Failure() const override { return {}; }
    std::string NothingSentText() const override;
    void Count(SendCounters &counters) const override;
    std::string Finish(RunSummary &summary, Clock::time_point deadline) override;
    void Stamps(RunSummary &summary, const PacketStream &stream) const override;
    std::string Collect(RunSummary &) const override { return {}; }
    void Close(Clock::time_point deadline) override;

    const SocketEndpoint &Endpoint() const { return m_endpoint; }

private:
    std::string TargetText() const;

    std::string m_host;
    int m_port;
    std::string m_socketPath;
    // Its own, so several channels can take turns with one packet stream.
    std::optional<MessageStamper> m_stamper;
    // Counting refusals reads them off the socket's error queue, each second too.
    mutable SocketEndpoint m_endpoint;
    std::string m_lastError;
    // Refilled in place: the strings keep their capacity.
    std::vector<std::string> m_batch;
};
