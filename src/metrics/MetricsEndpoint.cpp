#include "metrics/MetricsEndpoint.h"

#include "common/StopFlag.h"
#include "metrics/PrometheusText.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <future>

namespace {
constexpr int WriteWaitMs = 1000;
constexpr std::chrono::milliseconds StopLook{100};
} // namespace

std::optional<MetricsAddress> ReadMetricsAddress(std::string_view text)
{
    MetricsAddress address;
    std::string_view port = text;
    if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        port = text.substr(colon + 1);
        const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
        if (bracketed)
            host = host.substr(1, host.size() - 2);
        QHostAddress parsed;
        // An IPv6 address needs its brackets, so its own colons are not the port's.
        if (!parsed.setAddress(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()))) ||
            (parsed.protocol() == QAbstractSocket::IPv6Protocol) != bracketed)
            return std::nullopt;
        address.host = parsed.toString().toStdString();
    }
    unsigned value = 0;
    const auto [end, fault] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || fault != std::errc{} || end != port.data() + port.size() || value > 65535)
        return std::nullopt;
    address.port = static_cast<std::uint16_t>(value);
    return address;
}

MetricsEndpoint::MetricsEndpoint() = default;

MetricsEndpoint::~MetricsEndpoint()
{
    if (m_thread.joinable()) {
        // Not a posted call: its event would be made on this thread and
        // freed on that one, a hand-over inside Qt no race detector sees.
        m_loopThread->quit();
        m_thread.join();
    }
}

Status MetricsEndpoint::Start(const MetricsAddress &address)
{
    // Where it listens, or why it cannot.
    std::promise<std::pair<bool, std::string>> bound;
    auto outcome = bound.get_future();
    m_thread = std::thread([this, address, &bound] {
        // First: it gives this thread the event dispatcher the sockets need.
        QEventLoop loop;
        QHttpServer server;
        server.route("/metrics",
                     [this] { return QHttpServerResponse(PrometheusContentType, QByteArray::fromStdString(Serve())); });
        auto *listener = new QTcpServer(&server);
        const QHostAddress host(QString::fromStdString(address.host));
        if (!listener->listen(host, address.port)) {
            bound.set_value({false, listener->errorString().toStdString()});
            return;
        }
        server.bind(listener);
        const std::string where =
            host.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.host + "]" : address.host;
        m_loopThread = QThread::currentThread();
        bound.set_value({true, where + ":" + std::to_string(listener->serverPort())});
        loop.exec();
        // The last answer may still sit in a socket's buffer: sent before the
        // server goes, so a scraper that asked gets it whole.
        for (QTcpSocket *socket : listener->findChildren<QTcpSocket *>())
            while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(WriteWaitMs)) {
            }
    });
    auto [listening, text] = outcome.get();
    if (!listening) {
        m_thread.join();
        return Status::Failure("cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " + text);
    }
    m_where = std::move(text);
    return {};
}

std::string MetricsEndpoint::Where() const
{
    return m_where;
}

void MetricsEndpoint::Publish(const MetricsSnapshot &snapshot)
{
    const std::lock_guard lock(m_mutex);
    m_snapshot = snapshot;
}

void MetricsEndpoint::Linger(double seconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::unique_lock lock(m_mutex);
    m_final = true;
    // A signal cannot wake the wait: it is looked at as often as the engines do.
    for (Clock::time_point now = Clock::now(); !m_finalServed && !StopRequested() && now < end; now = Clock::now())
        m_served.wait_for(lock, std::min<Clock::duration>(StopLook, end - now));
}

std::string MetricsEndpoint::Serve()
{
    MetricsSnapshot snapshot;
    bool final = false;
    {
        const std::lock_guard lock(m_mutex);
        snapshot = m_snapshot;
        final = m_final;
    }
    std::string text = PrometheusText(snapshot);
    if (final) {
        const std::lock_guard lock(m_mutex);
        m_finalServed = true;
        m_served.notify_all();
    }
    return text;
}
