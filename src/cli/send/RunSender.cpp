#include "cli/send/RunSender.h"

#include "cli/common/ProgressLine.h"
#include "cli/common/StatsFile.h"
#include "cli/common/StopSignals.h"
#include "cli/common/ThreadCpuClock.h"
#include "cli/send/PaceSchedule.h"
#include "cli/send/PacketStream.h"
#include "cli/send/SendSeconds.h"
#include "common/SettingsRules.h"
#include "engine/MessageComposer.h"
#include "engine/Stamp.h"
#include "transport/SocketEndpoint.h"
#include "transport/TlsContext.h"
#include "transport/TlsSettingsStore.h"
#include "transport/UdpEndpointOperations.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>

#include <unistd.h>

namespace {
using SteadyClock = std::chrono::steady_clock;

// Large enough that the system calls, not the loop, set the pace; small
// enough that a stop or a progress line is never long in coming.
constexpr std::size_t BatchLimit = 512;
constexpr int ConnectWaitMs = 10000;
constexpr auto EventInterval = std::chrono::milliseconds(5);
constexpr int FinalFlushMs = 10000;
// Waits are cut into slices so a stop signal is seen promptly.
constexpr double WaitSliceSeconds = 0.05;
// Nothing signals the connection itself, so its state is looked at often.
constexpr double ConnectPollSeconds = 0.005;

void WaitEvents(double seconds)
{
    const double slice = std::clamp(seconds, 0.001, WaitSliceSeconds);
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(std::ceil(slice * 1000)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double EpochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::optional<std::string> ReadBytes(const std::string &path)
{
    if (path == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        return all.str();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Random per run, but not from the program's random sequence, whose draws
// make the messages: stamping must not change them.
std::string FreshRunId()
{
    std::uint64_t number = 0;
    try {
        std::random_device device;
        number = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (const std::exception &) {
        number = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
                 (static_cast<std::uint64_t>(::getpid()) << 40);
    }
    return RunIdFromNumber(number);
}

class SenderRun {
public:
    SenderRun(const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal)
        : m_options(options), m_out(out), m_err(err), m_outIsTerminal(outIsTerminal), UDP1(SocketEndpoint::UdpProtocol),
          TCP1(SocketEndpoint::TcpProtocol)
    {
        const auto remember = [this](int number, const QString &description) {
            m_lastErrorNumber = number;
            m_lastError = description.toStdString();
        };
        QObject::connect(&UDP1, &SocketEndpoint::ErrorEvent, remember);
        QObject::connect(&TCP1, &SocketEndpoint::ErrorEvent, remember);
    }

    RunSummary Go()
    {
        if (m_options.stamp && m_options.runId.empty())
            m_options.runId = FreshRunId();
        if (LoadFiles() && OpenStatsFile() && Connect()) {
            Loop();
            Finish();
        }
        UDP1.Close();
        TCP1.Close();
        if (m_statsFile.Failed() && m_summary.error.empty())
            m_summary.error = m_statsFile.Error();
        if (m_summary.exitStatus == 0 && (!m_summary.error.empty() || m_summary.failed > 0))
            m_summary.exitStatus = 1;
        Report();
        return m_summary;
    }

private:
    double Elapsed() const { return std::chrono::duration<double>(SteadyClock::now() - m_start).count(); }

    void UsageError(const std::string &text)
    {
        m_summary.error = text;
        m_summary.stoppedBy = "error";
        m_summary.exitStatus = 2;
    }

    void Failure(const std::string &text, const char *stoppedBy)
    {
        m_summary.error = text;
        m_summary.stoppedBy = stoppedBy;
        m_summary.exitStatus = 1;
    }

    bool LoadFiles()
    {
        if (!m_options.multiLineFile.empty()) {
            const auto text = ReadBytes(m_options.multiLineFile);
            if (!text) {
                UsageError("--multiline-file: cannot read '" + m_options.multiLineFile + "'");
                return false;
            }
            m_options.multiLineText = *text;
        }
        // The reader would send its error text as the message; a run that
        // can only send that is a mistake to report before anything goes out.
        if (ReadsSourceFile() && !std::ifstream(m_options.sourceFile, std::ios::binary)) {
            UsageError("--source-file: cannot open '" + m_options.sourceFile + "'");
            return false;
        }
        return true;
    }

    bool ReadsSourceFile() const
    {
        const std::string &message = m_options.message;
        return message == MessageEntries::TabDelimitedFile || message == MessageEntries::HexFile ||
               message == MessageEntries::CaptureFile;
    }

    bool OpenStatsFile()
    {
        if (m_options.statsFile.empty() || m_statsFile.Open(m_options.statsFile))
            return true;
        UsageError(m_statsFile.Error());
        return false;
    }

    std::string TargetText() const { return m_options.target + ":" + std::to_string(m_options.port); }
    std::string SessionWord() const { return UsesTls(m_options) ? "TLS" : "TCP"; }

    // Where a TLS file came from, as a message names it.
    std::string TlsFileSource(TlsSetupError::File file) const
    {
        using File = TlsSetupError::File;
        const TlsSettings &tls = m_options.tls;
        // A key in the certificate's file is the certificate's flag's business.
        if (file == File::Key && tls.keyFile.empty())
            file = File::Certificate;
        const bool saved = std::find(m_options.savedTlsFiles.begin(), m_options.savedTlsFiles.end(), file) !=
                           m_options.savedTlsFiles.end();
        switch (file) {
        case File::CaFile:
            return saved ? std::string("--from-settings: the saved ") + TlsKeys::CaFile : "--ca-file";
        case File::Certificate:
            return saved ? std::string("--from-settings: the saved ") + TlsKeys::CertFile : "--cert";
        case File::Key:
            return saved ? std::string("--from-settings: the saved ") + TlsKeys::KeyFile : "--key";
        case File::None:
            break;
        }
        return "--transport tls";
    }

    // Every file is checked before anything touches the network.
    bool PrepareTls()
    {
        TlsSetupError error;
        auto context = TlsClientContext::Create(m_options.tls, error);
        if (!context) {
            UsageError(TlsFileSource(error.file) + ": " + error.message);
            return false;
        }
        if (!m_options.tls.verify)
            m_err << "quillon-send: TLS without verification: the server's certificate and name are not checked"
                  << std::endl;
        TCP1.SetTls(std::move(context));
        return true;
    }

    bool Connect()
    {
        if (!m_options.tcp) {
            PrepareUdpEndpoint(UDP1, std::to_string(m_options.port), m_options.target);
            return true;
        }
        if (UsesTls(m_options) && !PrepareTls())
            return false;
        TCP1.SetRemoteHost(m_options.target);
        TCP1.SetRemotePort(m_options.port);
        if (m_options.sourcePort > 0)
            TCP1.SetLocalPort(m_options.sourcePort);
        if (TCP1.Connect()) {
            const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ConnectWaitMs);
            while (StillConnecting() && SteadyClock::now() < deadline && !StopRequested())
                WaitEvents(ConnectPollSeconds);
            // The failure's description is queued behind the state change.
            QCoreApplication::processEvents();
        }
        if (TCP1.State() == SocketEndpoint::StateConnected) {
            m_summary.tlsVersion = TCP1.NegotiatedTlsVersion();
            m_summary.tlsCipher = TCP1.NegotiatedCipher();
            return true;
        }
        if (StopRequested()) {
            m_summary.stoppedBy = "signal";
            return false;
        }
        // A failed handshake's description says it all ("TLS handshake failed: ...").
        if (m_lastErrorNumber == SocketEndpoint::ErrorTls) {
            Failure(m_lastError, "connection");
            return false;
        }
        std::string text = "TCP Session failed to connect to " + TargetText();
        if (!m_lastError.empty())
            text += ": " + m_lastError;
        else if (UsesTls(m_options))
            text += ": no TLS session within " + std::to_string(ConnectWaitMs / 1000) + " s";
        Failure(text, "connection");
        return false;
    }

    bool StillConnecting() const
    {
        const auto state = TCP1.State();
        return state == SocketEndpoint::StateResolving || state == SocketEndpoint::StateConnecting;
    }

    bool SessionLost()
    {
        if (!m_options.tcp || TCP1.State() == SocketEndpoint::StateConnected)
            return false;
        if (TCP1.State() == SocketEndpoint::StatePeerClosed)
            Failure("the receiver at " + TargetText() + " closed the " + SessionWord() + " session", "connection");
        else if (m_lastErrorNumber == SocketEndpoint::ErrorTls)
            Failure(m_lastError, "connection"); // "TLS session failed: ..."
        else
            Failure(SessionWord() + " session to " + TargetText() + " failed" +
                        (m_lastError.empty() ? "" : ": " + m_lastError),
                    "connection");
        return true;
    }

    std::string NothingSentText() const
    {
        // A live session that takes nothing is a receiver that stopped reading.
        if (m_options.tcp)
            return "the receiver at " + TargetText() + " stopped taking data";
        return "nothing could be sent to " + TargetText() + (m_lastError.empty() ? "" : ": " + m_lastError);
    }

    void Progress(double elapsed)
    {
        if (elapsed < m_nextProgress)
            return;
        if (!m_options.quiet && !m_options.json)
            m_out << ProgressLine(m_summary.sent, m_summary.sent - m_progressSent) << std::endl;
        m_progressSent = m_summary.sent;
        m_nextProgress = std::max(m_nextProgress + 1, std::floor(elapsed) + 1);
    }

    // Each second's counters, read before the second's first batch goes.
    void RecordSecond(double elapsed)
    {
        if (elapsed < m_nextRecord)
            return;
        m_nextRecord = std::max(m_nextRecord + 1, std::floor(elapsed) + 1);
        m_seconds.Record(elapsed, EpochSeconds(), Counters(elapsed));
    }

    SendCounters Counters(double elapsed) const
    {
        SendCounters counters;
        counters.sent = m_summary.sent;
        counters.failed = m_summary.failed;
        const bool open =
            m_options.tcp ? TCP1.State() == SocketEndpoint::StateConnected : UDP1.State() == SocketEndpoint::StateOpen;
        counters.connections = open ? 1 : 0;
        counters.blockedSeconds = std::chrono::duration<double>(UDP1.BlockedTime() + TCP1.BlockedTime()).count();
        counters.target = m_schedule->TargetBy(elapsed);
        counters.threadCpuSeconds = {m_cpu.Seconds()};
        return counters;
    }

    // Hands one batch over; false when not a single packet could go.
    bool SendBatch(PacketStream &stream, std::int64_t count)
    {
        std::size_t handed = 0;
        std::int64_t bytes = 0;
        stream.StartBatch();
        if (m_options.tcp) {
            // The stream is the packets back to back, so the batch is built
            // as those bytes and goes in one write.
            m_stream.clear();
            for (std::int64_t i = 0; i < count; ++i)
                stream.AppendNext(m_stream);
            // As in the window, packets count only while the session stays up.
            if (TCP1.SendStream(m_stream) && TCP1.State() == SocketEndpoint::StateConnected) {
                handed = static_cast<std::size_t>(count);
                bytes = static_cast<std::int64_t>(m_stream.size());
            }
        } else {
            // Refilled in place: the strings keep their capacity.
            m_batch.resize(static_cast<std::size_t>(count));
            for (std::string &packet : m_batch) {
                packet.clear();
                stream.AppendNext(packet);
            }
            handed = UDP1.SendBatch(m_batch);
            for (std::size_t i = 0; i < handed; ++i)
                bytes += static_cast<std::int64_t>(m_batch[i].size());
        }
        stream.Withdraw(handed);
        m_summary.bytes += bytes;
        m_summary.sent += static_cast<std::int64_t>(handed);
        m_summary.failed += count - static_cast<std::int64_t>(handed);
        // Lets the endpoints' error and close events arrive; every few
        // milliseconds is soon enough, and a poll per batch costs a system call.
        const auto now = SteadyClock::now();
        if (static_cast<std::int64_t>(handed) < count || now - m_lastEvents >= EventInterval) {
            QCoreApplication::processEvents();
            m_lastEvents = now;
        }
        return handed > 0;
    }

    void Loop()
    {
        PacketStream stream(m_options, UDP1.LocalHostName(), SubnetPrefixOf(UDP1.LocalIP()));
        if (m_options.stamp)
            stream.StampWith(m_options.runId, m_options.shard.Stream(1));
        SendAll(stream);
        if (const MessageStamper *stamper = stream.Stamper()) {
            m_summary.runId = stamper->Run();
            m_summary.streams.push_back({stamper->Stream(), stamper->NextSeq() - 1});
        }
    }

    void SendAll(PacketStream &stream)
    {
        PaceSchedule &schedule = m_schedule.emplace(m_options);
        m_batch.reserve(BatchLimit);
        m_start = SteadyClock::now();
        for (;;) {
            if (StopRequested()) {
                m_summary.stoppedBy = "signal";
                return;
            }
            const std::int64_t attempted = m_summary.sent + m_summary.failed;
            if (schedule.Finished(attempted)) {
                m_summary.stoppedBy = m_options.pace == Pace::Once ? "once" : "count";
                return;
            }
            const double elapsed = Elapsed();
            RecordSecond(elapsed);
            if (m_options.duration > 0 && elapsed >= m_options.duration) {
                m_summary.stoppedBy = "duration";
                return;
            }
            if (elapsed >= schedule.EndSeconds()) {
                m_summary.stoppedBy = "steps";
                return;
            }
            if (SessionLost())
                return;
            Progress(elapsed);
            const std::int64_t due = schedule.DueBy(elapsed);
            if (attempted < due) {
                if (!SendBatch(stream, std::min<std::int64_t>(due - attempted, BatchLimit))) {
                    if (!SessionLost())
                        Failure(NothingSentText(), "error");
                    return;
                }
                continue;
            }
            double wake = std::min(schedule.DueAt(attempted), m_nextProgress);
            if (m_options.duration > 0)
                wake = std::min(wake, m_options.duration);
            wake = std::min(wake, schedule.EndSeconds());
            WaitEvents(wake - elapsed);
        }
    }

    // What the session accepted is delivered before the time is taken. After
    // a failure the run is over: closing gives what is left a last moment.
    void Finish()
    {
        if (!m_options.tcp)
            CountRefusals();
        if (m_options.tcp && m_summary.error.empty() && TCP1.State() == SocketEndpoint::StateConnected) {
            const std::size_t waiting = TCP1.PendingBytes();
            if (!TCP1.FlushPending(FinalFlushMs)) {
                const bool up = TCP1.State() == SocketEndpoint::StateConnected;
                Failure(up ? std::to_string(TCP1.PendingBytes()) + " bytes for " + TargetText() +
                                 " were not taken within 10 s"
                           : "the " + SessionWord() + " session to " + TargetText() + " ended with " +
                                 std::to_string(waiting) + " bytes still waiting",
                        "error");
            }
        }
        m_summary.elapsedSeconds = Elapsed();
        m_seconds.Record(m_summary.elapsedSeconds, EpochSeconds(), Counters(m_summary.elapsedSeconds), false);
        m_summary.spread = m_seconds.Spread();
    }

    // Only refusals that came back by now count: the run does not wait for
    // those of its last datagrams.
    void CountRefusals()
    {
        m_summary.refused = static_cast<std::int64_t>(UDP1.RefusedDatagrams());
        if (m_summary.refused == 0 || !m_summary.error.empty())
            return;
        // Delivers the refusal's description.
        QCoreApplication::processEvents();
        m_summary.error = std::to_string(m_summary.refused) + " of " + std::to_string(m_summary.sent) +
                          " datagrams to " + TargetText() + " came back refused" +
                          (m_lastError.empty() ? "" : ": " + m_lastError);
    }

    void Report()
    {
        // The terminal echoed the Ctrl-C where the next line would begin.
        if (m_outIsTerminal && m_summary.stoppedBy == "signal")
            m_out << '\n';
        if (!m_summary.error.empty())
            m_err << "quillon-send: " << m_summary.error << std::endl;
        if (m_options.json)
            m_out << SummaryJson(m_summary, m_options) << std::endl;
        else if (!m_options.quiet && m_summary.exitStatus != 2)
            m_out << SummaryLine(m_summary) << std::endl;
    }

    Options m_options;
    std::ostream &m_out;
    std::ostream &m_err;
    bool m_outIsTerminal;
    SocketEndpoint UDP1;
    SocketEndpoint TCP1;
    std::string m_lastError;
    int m_lastErrorNumber = 0;
    RunSummary m_summary;
    SteadyClock::time_point m_start = SteadyClock::now();
    SteadyClock::time_point m_lastEvents = SteadyClock::now();
    double m_nextProgress = 1;
    double m_nextRecord = 1;
    std::optional<PaceSchedule> m_schedule;
    StatsFile m_statsFile;
    SendSeconds m_seconds{&m_statsFile};
    ThreadCpuClock m_cpu;
    std::int64_t m_progressSent = 0;
    std::vector<std::string> m_batch;
    std::string m_stream;
};
} // namespace

RunSummary RunSender(const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal)
{
    SenderRun run(options, out, err, outIsTerminal);
    return run.Go();
}
