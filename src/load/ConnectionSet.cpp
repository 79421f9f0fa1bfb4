#include "load/ConnectionSet.h"

#include "engine/Stamp.h"
#include "transport/SocketEndpoint.h"
#include "transport/TlsContext.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {
// Connects and handshakes under way at once: enough to open a thousand
// sessions quickly, few enough that a TLS server is not swamped.
constexpr int OpeningAtOnce = 64;
constexpr auto TellEvery = std::chrono::seconds(1);
constexpr auto FirstBackOff = std::chrono::milliseconds(50);
constexpr auto LongestBackOff = std::chrono::milliseconds(2000);
// Offsets of acknowledged messages are dropped once this many are held.
constexpr std::size_t TrimFrom = 4096;

bool StillOpening(std::int16_t state)
{
    return state == SocketEndpoint::StateResolving || state == SocketEndpoint::StateConnecting;
}

// "10 s", "0.4 s", "0.05 s"
std::string SecondsText(std::chrono::duration<double> time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", time.count());
    return text;
}
} // namespace

ConnectionSet::ConnectionSet(ConnectionPlan plan) : m_plan(std::move(plan))
{
    if (m_plan.proxySources)
        m_plan.proxySources->Skip(static_cast<std::size_t>(m_plan.firstIndex));
    for (int i = 0; i < m_plan.count; ++i) {
        auto c = std::make_unique<Connection>();
        c->index = m_plan.firstIndex + i;
        c->endpoint = std::make_unique<SocketEndpoint>(SocketEndpoint::TcpProtocol);
        c->endpoint->SetTls(m_plan.tls);
        if (!m_plan.runId.empty())
            c->stamper.emplace(m_plan.runId, StreamId(m_plan.shard, static_cast<std::uint64_t>(c->index) + 1),
                               m_plan.stampKey ? &*m_plan.stampKey : nullptr);
        Connection *raw = c.get();
        SocketEndpoint *endpoint = raw->endpoint.get();
        QObject::connect(endpoint, &SocketEndpoint::ErrorEvent, [this, raw](int number, const QString &text) {
            raw->lastErrorNumber = number;
            raw->lastError = text.toStdString();
            Came();
        });
        QObject::connect(endpoint, &SocketEndpoint::ConnectEvent, [this] { Came(); });
        QObject::connect(endpoint, &SocketEndpoint::CloseEvent, [this] { Came(); });
        m_connections.push_back(std::move(c));
    }
}

ConnectionSet::~ConnectionSet() = default;

void ConnectionSet::Came()
{
    m_changed = true;
    if (m_waiter)
        m_waiter->quit();
}

void ConnectionSet::Await(Clock::time_point until)
{
    until = std::min(until, m_due);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    if (m_changed || left.count() <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    m_waiter = &loop;
    QTimer::singleShot(left, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    m_waiter = nullptr;
}

void ConnectionSet::NoteDue(Clock::time_point now)
{
    m_due = Clock::time_point::max();
    for (const auto &c : m_connections) {
        if (c->phase == Connection::Phase::Opening)
            m_due = std::min(m_due, c->since + m_plan.openingLimit);
        else if (c->phase == Connection::Phase::Waiting)
            m_due = std::min(m_due, c->since);
    }
    if (m_up == 0 && m_plan.reconnect && !m_plan.idle && m_failure.empty())
        m_due = std::min(m_due, std::max(now, m_lastUp + m_plan.openingLimit));
}

void ConnectionSet::Start(Connection &c, Clock::time_point now)
{
    c.endpoint->Close();
    c.endpoint->SetRemoteHost(m_plan.host);
    c.endpoint->SetRemotePort(m_plan.port);
    c.endpoint->SetSocketPath(m_plan.socketPath);
    if (m_plan.sourcePort > 0)
        c.endpoint->SetLocalPort(m_plan.sourcePort);
    if (m_plan.proxyVersion != 0 && m_plan.proxySources)
        c.endpoint->SetProxyHeader(m_plan.proxyVersion, m_plan.proxySources->Next());
    c.lastErrorNumber = 0;
    c.lastError.clear();
    c.since = now;
    if (c.endpoint->Connect()) {
        c.phase = Connection::Phase::Opening;
        ++m_opening;
        return;
    }
    Ended(c, now);
}

std::string ConnectionSet::EndText(const Connection &c, bool connecting) const
{
    // A failed handshake's description says it all ("TLS handshake failed: ..."),
    // but for what to do about a CA this program was not given.
    if (c.lastErrorNumber == SocketEndpoint::ErrorTls) {
        const bool unknownCa = c.lastError.find("verify failed: self-signed certificate") != std::string::npos ||
                               c.lastError.find("verify failed: unable to get local issuer") != std::string::npos;
        return c.lastError + (unknownCa ? " (give the CA that signed it with --ca-file)" : "");
    }
    const std::string &target = m_plan.targetText;
    if (connecting) {
        std::string text = (m_plan.socketPath.empty() ? "TCP session" : m_plan.sessionWord + " session") +
                           " failed to connect to " + target;
        if (!c.lastError.empty())
            text += ": " + c.lastError;
        else if (c.endpoint->State() == SocketEndpoint::StateConnecting || m_plan.tls)
            text += ": no " + m_plan.sessionWord + " session within " + SecondsText(m_plan.openingLimit);
        return text;
    }
    if (c.endpoint->State() == SocketEndpoint::StatePeerClosed)
        return "the receiver at " + target + " closed the " + m_plan.sessionWord + " session";
    return m_plan.sessionWord + " session to " + target + " failed" + (c.lastError.empty() ? "" : ": " + c.lastError);
}

void ConnectionSet::Ended(Connection &c, Clock::time_point now)
{
    const bool connecting = c.phase != Connection::Phase::Up;
    if (!connecting) {
        if (--m_up == 0)
            m_lastUp = now;
        c.unknownFate += c.fate.After(c.endpoint->AcknowledgedBytes());
    }
    c.tried = true;
    c.dropped = false;
    if (!c.downSince)
        c.downSince = now;
    // The failure's description is queued behind the state change, and
    // closing would drop it.
    if (c.lastError.empty())
        QCoreApplication::processEvents();
    if (connecting && (c.lastErrorNumber == ECONNREFUSED || c.lastErrorNumber == ENOENT))
        ++m_refused;
    m_lastFailure = EndText(c, connecting);
    if (!m_plan.reconnect) {
        if (m_failure.empty() && !m_plan.idle)
            m_failure = m_lastFailure;
        c.phase = Connection::Phase::Over;
        return;
    }
    c.endpoint->Close();
    c.fate.Restart();
    const auto wait = std::min<Clock::duration>(FirstBackOff * (1LL << std::min(c.failures, 10)), LongestBackOff);
    ++c.failures;
    c.since = now + wait;
    c.phase = Connection::Phase::Waiting;
    ++m_untold;
    m_retryText = m_lastFailure + "; retrying in " + SecondsText(wait);
}

std::string ConnectionSet::TakeRetryLine()
{
    const auto now = Clock::now();
    if (m_untold == 0 || (m_lastTold && now - *m_lastTold < TellEvery))
        return {};
    std::string line = m_retryText;
    if (m_untold > 1)
        line += " (" + std::to_string(m_untold) + " failures since the last line)";
    m_untold = 0;
    m_lastTold = now;
    return line;
}

void ConnectionSet::Tend()
{
    const auto now = Clock::now();
    if (!m_changed && now < m_due)
        return;
    m_changed = false;
    for (auto &owned : m_connections) {
        Connection &c = *owned;
        switch (c.phase) {
        case Connection::Phase::Opening: {
            const std::int16_t state = c.endpoint->State();
            if (StillOpening(state) && now - c.since < m_plan.openingLimit)
                break;
            --m_opening;
            if (state != SocketEndpoint::StateConnected) {
                Ended(c, now);
                break;
            }
            c.phase = Connection::Phase::Up;
            c.tried = true;
            c.failures = 0;
            if (c.downSince)
                m_longestOutage = std::max(m_longestOutage, now - *c.downSince);
            c.downSince.reset();
            c.trimAt = TrimFrom;
            if (c.everUp && !c.dropped)
                ++c.reconnects;
            c.everUp = true;
            c.dropped = false;
            ++m_up;
            if (m_tlsVersion.empty()) {
                m_tlsVersion = c.endpoint->NegotiatedTlsVersion();
                m_tlsCipher = c.endpoint->NegotiatedCipher();
            }
            break;
        }
        case Connection::Phase::Up:
            if (c.endpoint->State() != SocketEndpoint::StateConnected)
                Ended(c, now);
            break;
        case Connection::Phase::Waiting:
            if (now >= c.since)
                c.phase = Connection::Phase::ToOpen;
            break;
        case Connection::Phase::ToOpen:
        case Connection::Phase::Over:
            break;
        }
    }
    if (m_up > 0)
        m_lastUp = now;
    else if (m_plan.reconnect && !m_plan.idle && m_failure.empty() && now - m_lastUp >= m_plan.openingLimit)
        m_failure = "no " + m_plan.sessionWord + " session to " + m_plan.targetText + " for " +
                    SecondsText(m_plan.openingLimit) +
                    (m_lastFailure.empty() ? "" : "; the last attempt: " + m_lastFailure);
    if (m_failure.empty())
        for (auto &owned : m_connections) {
            if (m_opening >= OpeningAtOnce)
                break;
            if (owned->phase == Connection::Phase::ToOpen)
                Start(*owned, now);
        }
    NoteDue(now);
}

bool ConnectionSet::Settled() const
{
    if (!m_failure.empty())
        return true;
    return std::all_of(m_connections.begin(), m_connections.end(), [](const auto &c) { return c->tried; });
}

ConnectionSet::Connection *ConnectionSet::NextUp()
{
    const std::size_t count = m_connections.size();
    for (std::size_t k = 0; k < count && m_up > 0; ++k) {
        Connection &c = *m_connections[(m_next + k) % count];
        if (c.phase == Connection::Phase::Up && c.endpoint->State() == SocketEndpoint::StateConnected) {
            m_next = (m_next + k + 1) % count;
            return &c;
        }
    }
    return nullptr;
}

std::size_t ConnectionSet::Send(Connection &c, std::string_view bytes, const std::vector<std::uint32_t> &sizes,
                                std::chrono::milliseconds waitLimit)
{
    const bool handed = c.endpoint->SendStream(bytes, waitLimit);
    const bool up = c.endpoint->State() == SocketEndpoint::StateConnected;
    // Its event comes later; the next Tend need not wait for it.
    if (!up)
        m_changed = true;
    // As in the window, packets count only while the session stays up; a
    // session that will be opened again owns what it may have sent.
    if (!(handed && up) && (up || !m_plan.reconnect))
        return 0;
    c.fate.Add(sizes);
    c.sent += static_cast<std::int64_t>(sizes.size());
    if (up && c.fate.Held() >= c.trimAt) {
        c.fate.Forget(c.endpoint->AcknowledgedBytes());
        c.trimAt = std::max(TrimFrom, 2 * c.fate.Held());
    }
    return sizes.size();
}

void ConnectionSet::Drop(Connection &c, std::chrono::milliseconds flushLimit)
{
    if (c.phase != Connection::Phase::Up || c.endpoint->State() != SocketEndpoint::StateConnected)
        return;
    // What the system took goes on after the close, as at the end of a run;
    // what it did not take within the limit is given up.
    if (c.endpoint->PendingBytes() > 0 && !c.endpoint->FlushPending(static_cast<int>(flushLimit.count())))
        c.unknownFate += c.fate.After(c.endpoint->AcknowledgedBytes());
    c.endpoint->Close(flushLimit);
    c.fate.Restart();
    ++c.drops;
    c.dropped = true;
    c.phase = Connection::Phase::ToOpen;
    if (--m_up == 0)
        m_lastUp = Clock::now();
    m_changed = true;
}

std::string ConnectionSet::FlushAll(Clock::time_point deadline)
{
    const auto timeout = std::chrono::duration<double>(std::max<Clock::duration>(deadline - Clock::now(), {}));
    for (auto &owned : m_connections) {
        SocketEndpoint &endpoint = *owned->endpoint;
        if (endpoint.State() != SocketEndpoint::StateConnected)
            continue;
        const std::size_t waiting = endpoint.PendingBytes();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // Bytes the system took but the peer never acknowledged were not
        // taken either: a receiver that stopped reading holds them there.
        if (endpoint.FlushTaken(static_cast<int>(std::max<long long>(left, 0))))
            continue;
        const bool up = endpoint.State() == SocketEndpoint::StateConnected;
        return up ? std::to_string(endpoint.UntakenBytes()) + " bytes for " + m_plan.targetText +
                        " were not taken within " + SecondsText(timeout) + " (--drain-timeout)"
                  : "the " + m_plan.sessionWord + " session to " + m_plan.targetText + " ended with " +
                        std::to_string(waiting) + " bytes still waiting";
    }
    return {};
}

std::int64_t ConnectionSet::TakeBackUnacknowledged()
{
    std::int64_t total = 0;
    for (auto &owned : m_connections) {
        Connection &c = *owned;
        if (c.phase != Connection::Phase::Up)
            continue;
        // Bytes still queued here or in the system map back to the last
        // messages written, one cut short included. A Unix socket's queue in
        // the system is its reader's, which took them: UntakenBytes leaves
        // it out, AcknowledgedBytes (with TLS an estimate) does not.
        const std::uint64_t written = c.fate.Written();
        const std::uint64_t taken = std::max<std::uint64_t>(
            c.endpoint->AcknowledgedBytes(), written - std::min<std::uint64_t>(written, c.endpoint->UntakenBytes()));
        const std::int64_t held = std::min(c.fate.After(taken), c.sent);
        c.fate.Forget(c.fate.Written());
        c.unknownFate += held;
        c.sent -= held;
        total += held;
    }
    return total;
}

void ConnectionSet::CloseAll(Clock::time_point deadline)
{
    for (auto &owned : m_connections) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        owned->endpoint->Close(std::max(left, std::chrono::milliseconds(0)));
    }
}

std::int64_t ConnectionSet::UnknownFateTotal() const
{
    std::int64_t total = 0;
    for (const auto &c : m_connections)
        total += c->unknownFate;
    return total;
}

std::int64_t ConnectionSet::ReconnectsTotal() const
{
    std::int64_t total = 0;
    for (const auto &c : m_connections)
        total += c->reconnects;
    return total;
}

std::int64_t ConnectionSet::DropsTotal() const
{
    std::int64_t total = 0;
    for (const auto &c : m_connections)
        total += c->drops;
    return total;
}

std::int64_t ConnectionSet::BrokenTotal() const
{
    std::int64_t total = 0;
    for (const auto &c : m_connections)
        if (c->everUp)
            total += 1 + c->reconnects - (c->phase == Connection::Phase::Up ? 1 : 0);
    return total;
}

std::int64_t ConnectionSet::EverUp() const
{
    return std::count_if(m_connections.begin(), m_connections.end(), [](const auto &c) { return c->everUp; });
}

std::chrono::duration<double> ConnectionSet::LongestOutage() const
{
    const auto now = Clock::now();
    Clock::duration longest = m_longestOutage;
    for (const auto &c : m_connections)
        if (c->downSince)
            longest = std::max(longest, now - *c->downSince);
    return longest;
}

std::chrono::nanoseconds ConnectionSet::BlockedTime() const
{
    std::chrono::nanoseconds total{0};
    for (const auto &c : m_connections)
        total += c->endpoint->BlockedTime();
    return total;
}

std::int64_t ConnectionSet::QueuedBytes() const
{
    std::uint64_t total = 0;
    for (const auto &c : m_connections)
        if (c->phase == Connection::Phase::Up)
            total += c->fate.Written() - std::min(c->fate.Written(), c->endpoint->AcknowledgedBytes());
    return static_cast<std::int64_t>(total);
}

std::int64_t ConnectionSet::UntakenBytes() const
{
    std::size_t total = 0;
    for (const auto &c : m_connections)
        if (c->endpoint->State() == SocketEndpoint::StateConnected)
            total += c->endpoint->UntakenBytes();
    return static_cast<std::int64_t>(total);
}
