#pragma once

#include "common/Status.h"
#include "metrics/MetricsSink.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

class HttpRequestReader;
class QTcpSocket;
struct HttpRequest;

// Where --metrics-listen serves: an address literal and a port (0: a free one).
struct MetricsAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
};

// "[ADDR:]PORT": a port alone is on loopback; IPv6 in brackets ("[::]:9100").
[[nodiscard]] std::optional<MetricsAddress> ReadMetricsAddress(std::string_view text);

// Serves /metrics in Prometheus' text format from a thread of its own, so a
// slow or hostile scraper never holds up sending or receiving: the engine
// only swaps in a new snapshot under a lock, and the endpoint's thread
// formats a copy of it.
class MetricsEndpoint final : public MetricsSink {
public:
    MetricsEndpoint();
    ~MetricsEndpoint() override;
    MetricsEndpoint(const MetricsEndpoint &) = delete;
    MetricsEndpoint &operator=(const MetricsEndpoint &) = delete;

    // Listens and starts serving; the reason in the user's words when the
    // address cannot be had (in use, not this machine's).
    Status Start(const MetricsAddress &address);
    // "127.0.0.1:9100", "[::1]:9100": the port chosen too.
    std::string Where() const;
    void Publish(const MetricsSnapshot &snapshot) override;
    // The run is over: serves its last snapshot until one scrape has had it,
    // at most seconds (or a stop signal), so a scraper sees the run's end
    // before the program's.
    void Linger(double seconds);

private:
    // Each on the endpoint's thread.
    void Take(QTcpSocket &socket);
    void Read(QTcpSocket &socket, HttpRequestReader &reader);
    std::string Respond(const HttpRequest &request);
    // Answers and closes: the peer's bytes are read no further.
    void Refuse(QTcpSocket &socket, const std::string &answer);
    // The text of the latest snapshot; a scrape of the last one ends Linger.
    std::string Serve(bool scrape);

    mutable std::mutex m_mutex;
    std::condition_variable m_served;
    MetricsSnapshot m_snapshot;
    bool m_final = false;
    bool m_finalServed = false;
    std::string m_where;
    std::thread m_thread;
    // Set to end m_thread's loop, which looks at it every StopLook.
    std::atomic<bool> m_stopping{false};
};
