#include "cli/send/RunSender.h"

#include "cli/common/ProgressLine.h"
#include "cli/common/StatsFile.h"
#include "cli/common/StopSignals.h"
#include "cli/common/ThreadCpuClock.h"
#include "cli/send/ConnectionSet.h"
#include "cli/send/PaceSchedule.h"
#include "cli/send/PacketStream.h"
#include "cli/send/SendSeconds.h"
#include "cli/send/SendThreads.h"
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
#include <mutex>
#include <optional>
#include <random>
#include <sstream>

#include <unistd.h>

namespace {
using SteadyClock = std::chrono::steady_clock;

// Large enough that the system calls, not the loop, set the pace; small
// enough that a stop or a progress line is never long in coming.
constexpr std::size_t BatchLimit = 512;
constexpr auto EventInterval = std::chrono::milliseconds(5);
// How often a thread of several tells the reporting thread its counters.
constexpr auto PublishInterval = std::chrono::milliseconds(10);
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

// A sending thread's latest counters, read by the thread that reports.
struct Published {
    std::mutex mutex;
    SendCounters counters;
};

SendCounters SumOf(std::vector<Published> &threads)
{
    SendCounters sum;
    for (Published &thread : threads) {
        const std::lock_guard<std::mutex> lock(thread.mutex);
        const SendCounters &c = thread.counters;
        sum.sent += c.sent;
        sum.failed += c.failed;
        sum.unknownFate += c.unknownFate;
        sum.connections += c.connections;
        sum.blockedSeconds += c.blockedSeconds;
        if (c.target)
            sum.target = sum.target.value_or(0) + *c.target;
        sum.threadCpuSeconds.insert(sum.threadCpuSeconds.end(), c.threadCpuSeconds.begin(), c.threadCpuSeconds.end());
    }
    return sum;
}

// What one sending thread is given beside its options.
struct Lane {
    // The run's number of its first connection (over UDP: its stream's).
    int first = 0;
    std::shared_ptr<const TlsClientContext> tls;
    // Where a thread of several tells its counters; null: it prints progress
    // and keeps the stats file itself.
    Published *published = nullptr;
};

class SenderRun {
public:
    SenderRun(const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal, Lane lane = {})
        : m_options(options), m_out(out), m_err(err), m_outIsTerminal(outIsTerminal), m_lane(std::move(lane)),
          UDP1(SocketEndpoint::UdpProtocol)
    {
        QObject::connect(&UDP1, &SocketEndpoint::ErrorEvent, [this](int number, const QString &description) {
            m_lastErrorNumber = number;
            m_lastError = description.toStdString();
        });
    }

    RunSummary Go()
    {
        if (Prepare())
            Work();
        Conclude();
        return m_summary;
    }

    // The threads share the files read, the run id and the TLS set-up.
    RunSummary GoThreaded()
    {
        if (Prepare()) {
            const std::vector<ThreadShare> shares = ShareAmongThreads(m_options);
            std::vector<RunSummary> summaries(shares.size());
            std::vector<Published> counts(shares.size());
            const auto work = [&](int i) {
                const auto index = static_cast<std::size_t>(i);
                SenderRun run(shares[index].options, m_out, m_err, false,
                              Lane{shares[index].first, m_lane.tls, &counts[index]});
                summaries[index] = run.WorkAlone();
            };
            m_start = SteadyClock::now();
            RunOnThreads(static_cast<int>(shares.size()), work, [&] {
                const SendCounters sum = SumOf(counts);
                const double elapsed = Elapsed();
                m_summary.sent = sum.sent;
                Progress(elapsed);
                if (elapsed >= m_nextRecord) {
                    m_nextRecord = std::max(m_nextRecord + 1, std::floor(elapsed) + 1);
                    m_seconds.Record(elapsed, EpochSeconds(), sum);
                }
            });
            m_summary.sent = 0;
            for (const RunSummary &summary : summaries)
                AddThreadSummary(m_summary, summary);
            m_summary.threads = m_options.threads;
            m_seconds.Record(Elapsed(), EpochSeconds(), SumOf(counts), false);
            m_summary.spread = m_seconds.Spread();
        }
        Conclude();
        return m_summary;
    }

    RunSummary WorkAlone()
    {
        Work();
        return m_summary;
    }

private:
    bool Prepare()
    {
        if (m_options.stamp && m_options.runId.empty())
            m_options.runId = FreshRunId();
        return LoadFiles() && OpenStatsFile() && (!UsesTls(m_options) || PrepareTls());
    }

    void Work()
    {
        if (Connect()) {
            Loop();
            Finish();
        }
        Collect();
        UDP1.Close();
        if (m_set)
            m_set->CloseAll();
    }

    void Conclude()
    {
        if (m_statsFile.Failed() && m_summary.error.empty())
            m_summary.error = m_statsFile.Error();
        if (m_summary.exitStatus == 0 && (!m_summary.error.empty() || m_summary.failed > 0))
            m_summary.exitStatus = 1;
        Report();
    }

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
        m_lane.tls = std::move(context);
        return true;
    }

    // Every session is tried once (each attempt ends within its own limit)
    // before sending starts; with reconnect the failed ones try again later.
    bool Connect()
    {
        if (!m_options.tcp) {
            PrepareUdpEndpoint(UDP1, std::to_string(m_options.port), m_options.target);
            return true;
        }
        ConnectionPlan plan;
        plan.host = m_options.target;
        plan.port = m_options.port;
        plan.sourcePort = m_options.sourcePort;
        plan.tls = m_lane.tls;
        plan.reconnect = m_options.reconnect;
        plan.count = ConnectionCount(m_options);
        plan.firstIndex = m_lane.first;
        plan.shard = m_options.shard.index;
        if (m_options.stamp)
            plan.runId = m_options.runId;
        plan.targetText = TargetText();
        plan.sessionWord = SessionWord();
        ConnectionSet &set = m_set.emplace(std::move(plan));
        for (set.Tend(); !set.Settled() && !StopRequested(); set.Tend())
            WaitEvents(ConnectPollSeconds);
        m_summary.tlsVersion = set.TlsVersion();
        m_summary.tlsCipher = set.TlsCipher();
        if (!set.Failure().empty()) {
            Failure(set.Failure(), "connection");
            return false;
        }
        if (StopRequested() && set.Up() < ConnectionCount(m_options)) {
            m_summary.stoppedBy = "signal";
            return false;
        }
        return true;
    }

    // Looks after the sessions; true when one failed and the run is over.
    bool SessionLost()
    {
        if (!m_set)
            return false;
        m_set->Tend();
        if (m_set->Failure().empty())
            return false;
        Failure(m_set->Failure(), "connection");
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
        if (m_lane.published) {
            Publish(elapsed);
            return;
        }
        if (elapsed < m_nextProgress)
            return;
        if (!m_options.quiet && !m_options.json)
            m_out << ProgressLine(m_summary.sent, m_summary.sent - m_progressSent) << std::endl;
        m_progressSent = m_summary.sent;
        m_nextProgress = std::max(m_nextProgress + 1, std::floor(elapsed) + 1);
    }

    void Publish(double elapsed)
    {
        const auto now = SteadyClock::now();
        if (now - m_lastPublished < PublishInterval)
            return;
        m_lastPublished = now;
        SendCounters counters = Counters(elapsed);
        const std::lock_guard<std::mutex> lock(m_lane.published->mutex);
        m_lane.published->counters = std::move(counters);
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
        auto blocked = UDP1.BlockedTime();
        if (m_set) {
            counters.connections = m_set->Up();
            counters.unknownFate = m_set->UnknownFateTotal();
            blocked += m_set->BlockedTime();
        } else {
            counters.connections = UDP1.State() == SocketEndpoint::StateOpen ? 1 : 0;
        }
        counters.blockedSeconds = std::chrono::duration<double>(blocked).count();
        if (m_schedule)
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
        if (m_set) {
            ConnectionSet::Connection *connection = m_set->NextUp();
            if (!connection)
                return false;
            stream.UseStamper(connection->stamper ? &*connection->stamper : nullptr);
            // The stream is the packets back to back, so the batch is built
            // as those bytes and goes in one write.
            m_stream.clear();
            m_sizes.clear();
            for (std::int64_t i = 0; i < count; ++i) {
                const std::size_t before = m_stream.size();
                stream.AppendNext(m_stream);
                m_sizes.push_back(static_cast<std::uint32_t>(m_stream.size() - before));
            }
            handed = m_set->Send(*connection, m_stream, m_sizes);
            if (handed > 0)
                bytes = static_cast<std::int64_t>(m_stream.size());
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
            m_tendDue = true;
        }
        return handed > 0;
    }

    void Loop()
    {
        PacketStream stream(m_options, UDP1.LocalHostName(), SubnetPrefixOf(UDP1.LocalIP()));
        if (m_options.stamp && !m_set)
            stream.StampWith(m_options.runId, m_options.shard.Stream(static_cast<std::uint64_t>(m_lane.first) + 1));
        SendAll(stream);
        if (!m_options.stamp)
            return;
        m_summary.runId = m_options.runId;
        if (!m_set) {
            const MessageStamper *stamper = stream.Stamper();
            m_summary.streams.push_back({stamper->Stream(), stamper->NextSeq() - 1});
            return;
        }
        for (const auto &connection : m_set->All())
            m_summary.streams.push_back({connection->stamper->Stream(), connection->stamper->NextSeq() - 1});
    }

    // Each connection's figures, after a failure too.
    void Collect()
    {
        if (!m_set)
            return;
        for (const auto &c : m_set->All())
            m_summary.connections.push_back({c->index, c->sent, c->unknownFate, c->reconnects});
        m_summary.unknownFate = m_set->UnknownFateTotal();
        m_summary.reconnects = m_set->ReconnectsTotal();
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
            if (m_tendDue) {
                m_tendDue = false;
                if (SessionLost())
                    return;
            }
            Progress(elapsed);
            if (m_set && m_set->Up() == 0) {
                // Every session is waiting to be opened again.
                WaitEvents(ConnectPollSeconds);
                m_tendDue = true;
                continue;
            }
            const std::int64_t due = schedule.DueBy(elapsed);
            if (attempted < due) {
                std::int64_t batch = std::min<std::int64_t>(due - attempted, BatchLimit);
                // Spread over the sessions when few are due.
                if (m_set)
                    batch = std::min(batch, std::max<std::int64_t>(1, (due - attempted) / m_set->Up()));
                if (!SendBatch(stream, batch)) {
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
            m_tendDue = true;
        }
    }

    // What the session accepted is delivered before the time is taken. After
    // a failure the run is over: closing gives what is left a last moment.
    void Finish()
    {
        if (!m_options.tcp)
            CountRefusals();
        if (m_set && m_summary.error.empty())
            if (const std::string problem = m_set->FlushAll(FinalFlushMs); !problem.empty())
                Failure(problem, "error");
        m_summary.elapsedSeconds = Elapsed();
        if (m_lane.published) {
            m_lastPublished = {};
            Publish(m_summary.elapsedSeconds);
            return;
        }
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
        if (m_options.json) {
            m_out << SummaryJson(m_summary, m_options) << std::endl;
        } else if (!m_options.quiet && m_summary.exitStatus != 2) {
            m_out << SummaryLine(m_summary) << '\n';
            for (const std::string &line : ConnectionLines(m_summary))
                m_out << line << '\n';
            m_out.flush();
        }
    }

    Options m_options;
    std::ostream &m_out;
    std::ostream &m_err;
    bool m_outIsTerminal;
    Lane m_lane;
    SocketEndpoint UDP1;
    std::optional<ConnectionSet> m_set;
    bool m_tendDue = true;
    std::vector<std::uint32_t> m_sizes;
    std::string m_lastError;
    int m_lastErrorNumber = 0;
    RunSummary m_summary;
    SteadyClock::time_point m_start = SteadyClock::now();
    SteadyClock::time_point m_lastEvents = SteadyClock::now();
    SteadyClock::time_point m_lastPublished{};
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
    return options.threads > 1 ? run.GoThreaded() : run.Go();
}
