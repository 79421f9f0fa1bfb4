#include "metrics/MetricsEndpoint.h"

#include "common/StopFlag.h"
#include "metrics/HttpRequestReader.h"
#include "metrics/PrometheusText.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <future>
#include <memory>

namespace {
constexpr int WriteWaitMs = 1000;
constexpr std::chrono::milliseconds StopLook{100};
// Also what Qt may hold of a connection's unread bytes.
constexpr std::size_t ReadChunk = 16 * 1024;
// Answers a peer may leave unread before its connection is dropped.
constexpr qint64 UnreadAnswers = 1 << 20;
// After a refusal the peer may still be sending: what it sent is read and
// dropped for a little while, so its close does not reset the connection
// before it has read the answer.
constexpr std::size_t DrainBytes = 256 * 1024;
constexpr int DrainMs = 1000;

std::string Answer(std::string_view status, std::string_view type, std::string_view body, bool withBody, bool keepAlive,
                   std::string_view extra = {})
{
    std::string text = "HTTP/1.1 ";
    text.append(status).append("\r\nContent-Type: ").append(type);
    text.append("\r\nContent-Length: ").append(std::to_string(body.size())).append("\r\n").append(extra);
    if (!keepAlive)
        text.append("Connection: close\r\n");
    text.append("\r\n");
    if (withBody)
        text.append(body);
    return text;
}

std::string Refusal(HttpRequestReader::Outcome fault)
{
    switch (fault) {
    case HttpRequestReader::Outcome::LineTooLong:
    case HttpRequestReader::Outcome::HeadersTooLarge:
        return Answer("431 Request Header Fields Too Large", "text/plain", "request head too large\n", true, false);
    case HttpRequestReader::Outcome::BodyTooLarge:
        return Answer("413 Content Too Large", "text/plain", "request body too large\n", true, false);
    default:
        return Answer("400 Bad Request", "text/plain", "bad request\n", true, false);
    }
}
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
        // The loop looks for this itself: waking it from here would write to
        // its wake-up descriptor while it may be closing it, a hand-over
        // inside the event dispatcher no race detector sees.
        m_stopping.store(true);
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
        QTcpServer listener;
        const QHostAddress host(QString::fromStdString(address.host));
        if (!listener.listen(host, address.port)) {
            bound.set_value({false, listener.errorString().toStdString()});
            return;
        }
        QObject::connect(&listener, &QTcpServer::newConnection, &listener, [this, &listener] {
            while (QTcpSocket *socket = listener.nextPendingConnection())
                Take(*socket);
        });
        const std::string where =
            host.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.host + "]" : address.host;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [this, &loop] {
            if (m_stopping.load())
                loop.quit();
        });
        look.start(StopLook);
        bound.set_value({true, where + ":" + std::to_string(listener.serverPort())});
        loop.exec();
        // The last answer may still sit in a socket's buffer: sent before the
        // server goes, so a scraper that asked gets it whole.
        // One deadline for them all: a scraper that reads slowly cannot hold
        // the program's end.
        QDeadlineTimer deadline(WriteWaitMs);
        for (QTcpSocket *socket : listener.findChildren<QTcpSocket *>())
            while (socket->bytesToWrite() > 0 && !deadline.hasExpired() &&
                   socket->waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
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

void MetricsEndpoint::Take(QTcpSocket &socket)
{
    socket.setReadBufferSize(static_cast<qint64>(ReadChunk));
    auto reader = std::make_shared<HttpRequestReader>();
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this, &socket, reader] { Read(socket, *reader); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &socket, &QObject::deleteLater);
}

void MetricsEndpoint::Read(QTcpSocket &socket, HttpRequestReader &reader)
{
    std::array<char, ReadChunk> chunk;
    for (qint64 got; socket.state() == QAbstractSocket::ConnectedState &&
                     (got = socket.read(chunk.data(), static_cast<qint64>(chunk.size()))) > 0;) {
        std::string_view bytes(chunk.data(), static_cast<std::size_t>(got));
        while (!bytes.empty()) {
            std::size_t used = 0;
            const HttpRequestReader::Outcome outcome = reader.Read(bytes, used);
            bytes.remove_prefix(used);
            if (outcome == HttpRequestReader::Outcome::NeedMore)
                break;
            if (outcome != HttpRequestReader::Outcome::Request) {
                Refuse(socket, Refusal(outcome));
                return;
            }
            const HttpRequest &request = reader.Request();
            socket.write(QByteArray::fromStdString(Respond(request)));
            // Requests sent one after another without reading the answers
            // would pile them up here: the peer must read as it asks.
            if (socket.bytesToWrite() > UnreadAnswers) {
                socket.abort();
                return;
            }
            if (!request.keepAlive) {
                socket.disconnectFromHost();
                return;
            }
        }
    }
}

std::string MetricsEndpoint::Respond(const HttpRequest &request)
{
    const bool head = request.method == "HEAD";
    if (!head && request.method != "GET")
        return Answer("405 Method Not Allowed", "text/plain", "only GET and HEAD\n", true, request.keepAlive,
                      "Allow: GET, HEAD\r\n");
    const std::string_view target = request.target;
    if (target.substr(0, target.find('?')) != "/metrics")
        return Answer("404 Not Found", "text/plain", "only /metrics\n", !head, request.keepAlive);
    // A HEAD hands over no values, so it is no scrape of the last ones.
    return Answer("200 OK", PrometheusContentType, Serve(!head), !head, request.keepAlive);
}

void MetricsEndpoint::Refuse(QTcpSocket &socket, const std::string &answer)
{
    socket.write(QByteArray::fromStdString(answer));
    socket.flush();
    if (socket.bytesToWrite() > 0) {
        socket.disconnectFromHost();
        return;
    }
    ::shutdown(static_cast<int>(socket.socketDescriptor()), SHUT_WR);
    QObject::disconnect(&socket, &QTcpSocket::readyRead, nullptr, nullptr);
    auto drained = std::make_shared<std::size_t>(0);
    const auto drop = [&socket, drained] {
        std::array<char, ReadChunk> chunk;
        for (qint64 got; (got = socket.read(chunk.data(), static_cast<qint64>(chunk.size()))) > 0;)
            *drained += static_cast<std::size_t>(got);
        if (*drained > DrainBytes) {
            socket.abort();
            socket.deleteLater();
        }
    };
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, drop);
    QTimer::singleShot(DrainMs, &socket, [&socket] {
        socket.abort();
        socket.deleteLater();
    });
    drop();
}

std::string MetricsEndpoint::Serve(bool scrape)
{
    MetricsSnapshot snapshot;
    bool final = false;
    {
        const std::lock_guard lock(m_mutex);
        snapshot = m_snapshot;
        final = m_final;
    }
    std::string text = PrometheusText(snapshot);
    if (final && scrape) {
        const std::lock_guard lock(m_mutex);
        m_finalServed = true;
        m_served.notify_all();
    }
    return text;
}
