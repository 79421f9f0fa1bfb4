#include "load/DatagramChannel.h"

#include "load/PacketStream.h"
#include "transport/UdpEndpointOperations.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

DatagramChannel::DatagramChannel(std::string host, int port, std::string runId, std::uint64_t stream,
                                 std::string socketPath, const std::optional<StampKey> &stampKey)
    : m_host(std::move(host)), m_port(port), m_socketPath(std::move(socketPath)),
      m_endpoint(SocketEndpoint::UdpProtocol)
{
    if (!runId.empty())
        m_stamper.emplace(std::move(runId), stream, stampKey ? &*stampKey : nullptr);
    QObject::connect(&m_endpoint, &SocketEndpoint::ErrorEvent,
                     [this](int, const QString &description) { m_lastError = description.toStdString(); });
}

SendChannel::Opened DatagramChannel::Open(Clock::time_point)
{
    PrepareUdpEndpoint(m_endpoint, std::to_string(m_port), m_host);
    m_endpoint.SetSocketPath(m_socketPath);
    return Opened::Ready;
}

SendChannel::Handover DatagramChannel::Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds,
                                            Handed &handed)
{
    stream.StartBatch();
    stream.UseStamper(m_stamper ? &*m_stamper : nullptr);
    m_batch.resize(static_cast<std::size_t>(count));
    for (std::string &packet : m_batch) {
        packet.clear();
        stream.AppendNext(packet);
    }
    if (stream.SourceLineTooLong()) {
        stream.Withdraw(0);
        return Handover::BadSource;
    }
    const std::size_t went = m_endpoint.SendBatch(m_batch);
    stream.Withdraw(went);
    handed.handed = static_cast<std::int64_t>(went);
    handed.count = count;
    handed.bytes = 0;
    for (std::size_t i = 0; i < went; ++i)
        handed.bytes += static_cast<std::int64_t>(m_batch[i].size());
    return went > 0 ? Handover::Sent : Handover::Failed;
}

void DatagramChannel::Wait(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(std::max<std::int64_t>(left.count(), 1)), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    loop.exec();
}

std::string DatagramChannel::TargetText() const
{
    return m_socketPath.empty() ? m_host + ":" + std::to_string(m_port) : m_socketPath;
}

std::string DatagramChannel::NothingSentText() const
{
    return "nothing could be sent to " + TargetText() + (m_lastError.empty() ? "" : ": " + m_lastError);
}

void DatagramChannel::Count(SendCounters &counters) const
{
    counters.connections = m_endpoint.State() == SocketEndpoint::StateOpen ? 1 : 0;
    counters.refused = static_cast<std::int64_t>(m_endpoint.RefusedDatagrams());
    counters.blockedSeconds = std::chrono::duration<double>(m_endpoint.BlockedTime()).count();
}

// Only refusals that came back by now count: the run does not wait for
// those of its last datagrams.
std::string DatagramChannel::Finish(RunSummary &summary, Clock::time_point)
{
    summary.refused = static_cast<std::int64_t>(m_endpoint.RefusedDatagrams());
    if (summary.refused == 0 || !summary.error.empty())
        return {};
    // Delivers the refusal's description.
    QCoreApplication::processEvents();
    return std::to_string(summary.refused) + " of " + std::to_string(summary.sent) + " datagrams to " + TargetText() +
           (m_socketPath.empty() ? " came back refused" : " were refused") +
           (m_lastError.empty() ? "" : ": " + m_lastError);
}

void DatagramChannel::Stamps(RunSummary &summary, const PacketStream &) const
{
    if (m_stamper)
        summary.streams.push_back({m_stamper->Stream(), m_stamper->NextSeq() - 1});
}

void DatagramChannel::Close(Clock::time_point)
{
    m_endpoint.Close();
}
