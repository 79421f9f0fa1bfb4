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
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>

#include <sys/resource.h>
#include <unistd.h>

namespace {
using SteadyClock = std::chrono::steady_clock;

// Large enough that the system calls, not the loop, set the pace; small
// enough that a stop or a progress line is never long in coming.
constexpr std::size_t BatchLimit = 512;
constexpr auto EventInterval = std::chrono::milliseconds(5);
// How often a thread of several tells the reporting thread its counters.
constexpr auto PublishInterval = std::chrono::milliseconds(10);
// Waits, a full socket's included, are cut into slices so a stop signal or
// a second's mark is seen promptly.
constexpr double WaitSliceSeconds = 0.05;
// Nothing signals the connection itself, so its state is looked at often.
constexpr double ConnectPollSeconds = 0.005;
// A session that takes nothing for this long has a receiver that stopped reading.
constexpr auto StallLimit = std::chrono::seconds(2);
// A message or multi-line text longer than this is no syslog message.
constexpr std::size_t LongestMessageFile = 64 * 1024;
// Descriptors besides the connections: standard streams, the event loop's,
// the stats file, a lookup's.
constexpr std::int64_t SpareFiles = 10;

std::chrono::milliseconds Milliseconds(double seconds)
{
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(std::max(seconds, 0.0) * 1000)));
}

// Lines of several sending threads each go out whole.
void SayLine(std::ostream &err, const std::string &line)
{
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    err << "quillon-send: " + line + "\n" << std::flush;
}

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

// Up to limit + 1 bytes, so a longer (or endless) file shows as longer.
std::optional<std::string> ReadBytes(const std::string &path, std::size_t limit)
{
    std::ifstream file;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file)
            return std::nullopt;
    }
    std::istream &in = path == "-" ? std::cin : file;
    std::string bytes(limit + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
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
    // When the run started: --duration counts from here, connecting included.
    SteadyClock::time_point runStart = SteadyClock::now();
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
                              Lane{m_lane.runStart, shares[index].first, m_lane.tls, &counts[index]});
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
        return LoadFiles() && OpenStatsFile() && FitFiles() && (!UsesTls(m_options) || PrepareTls());
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
            m_set->CloseAll(m_drainEnd.value_or(SteadyClock::now() + Milliseconds(m_options.drainTimeout)));
    }

    void Conclude()
    {
        if (m_statsFile.Failed() && m_summary.error.empty())
            m_summary.error = m_statsFile.Error();
        // A session that came up and took nothing is no run either.
        if (m_summary.exitStatus == 0 && m_summary.error.empty() && m_options.tcp && m_summary.sent == 0)
            m_summary.error = "nothing was sent to " + TargetText();
        if (m_summary.exitStatus == 0 && (!m_summary.error.empty() || m_summary.failed > 0))
            m_summary.exitStatus = 1;
        Report();
    }

    // Since sending started: the clock of the pace and the records.
    double Elapsed() const { return std::chrono::duration<double>(SteadyClock::now() - m_start).count(); }
    // Seconds left of --duration, which counts from the run's start;
    // infinite without one.
    double DurationLeft() const
    {
        if (m_options.duration <= 0)
            return LoadShape::Never;
        return m_options.duration - std::chrono::duration<double>(SteadyClock::now() - m_lane.runStart).count();
    }

    void UsageError(const std::string &text)
    {
        m_summary.error = text;
        m_summary.stoppedBy = "error";
        m_summary.exitStatus = 2;
    }

    // stoppedBy empty: what ended the run stays as it was.
    void Failure(const std::string &text, const char *stoppedBy)
    {
        m_summary.error = text;
        if (*stoppedBy != '\0' || m_summary.stoppedBy.empty())
            m_summary.stoppedBy = *stoppedBy != '\0' ? stoppedBy : "error";
        m_summary.exitStatus = 1;
    }

    bool LoadFiles()
    {
        if (!m_options.multiLineFile.empty()) {
            const auto text = ReadBytes(m_options.multiLineFile, LongestMessageFile);
            const std::string named = "--multiline-file: '" + m_options.multiLineFile + "'";
            if (!text) {
                UsageError("--multiline-file: cannot read '" + m_options.multiLineFile + "'");
                return false;
            }
            if (text->size() > LongestMessageFile) {
                UsageError(named + " holds more than 64 KiB, more than one message can be");
                return false;
            }
            m_options.multiLineText = *text;
        }
        // The reader would send its error text as the message; a run that
        // can only send that is a mistake to report before anything goes out.
        if (ReadsSourceFile() && !std::ifstream(m_options.sourceFile, std::ios::binary)) {
            UsageError(SourceFileName() + ": cannot open '" + m_options.sourceFile + "'");
            return false;
        }
        WarnOfSplitMessages();
        return true;
    }

    std::string SourceFileName() const
    {
        return m_options.savedSourceFile ? "--from-settings: the saved FileToReadFrom" : "--source-file";
    }

    // A framing that ends each message at a line end cuts a multi-line one
    // into several at the receiver.
    void WarnOfSplitMessages() const
    {
        const Framing framing = StreamFramingOf(m_options);
        const char *ending = framing == Framing::Lf     ? "--framing lf ends each message in LF"
                             : framing == Framing::CrLf ? "--framing crlf ends each message in CR LF"
                             : framing == Framing::None && m_options.tcp && m_options.crlf
                                 ? "each message ends in CR LF (the default for RFC 3164 over TCP)"
                                 : nullptr;
        const std::string &text =
            m_options.message == MessageEntries::MultiLine ? m_options.multiLineText : m_options.message;
        if (ending && text.find('\n') != std::string::npos)
            SayLine(m_err, std::string("the message has line breaks and ") + ending +
                               ": receivers will split it into several; --framing octet-count keeps it whole");
    }

    // Every connection is a descriptor: the limit is raised as far as the
    // system lets, and a run that still cannot open them all is refused
    // before the first one.
    bool FitFiles()
    {
        if (!m_options.tcp)
            return true;
        const std::int64_t needed = ConnectionCount(m_options) + SpareFiles + m_options.threads - 1;
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) != 0)
            return true;
        if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < static_cast<rlim_t>(needed)) {
            rlimit raised = files;
            raised.rlim_cur = std::min<rlim_t>(files.rlim_max, static_cast<rlim_t>(needed));
            if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
                files = raised;
        }
        if (files.rlim_cur == RLIM_INFINITY || files.rlim_cur >= static_cast<rlim_t>(needed))
            return true;
        UsageError("--connections " + std::to_string(ConnectionCount(m_options)) + " needs about " + Grouped(needed) +
                   " file descriptors; this process may open " + Grouped(static_cast<std::int64_t>(files.rlim_cur)) +
                   " (ulimit -n)");
        return false;
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
            // Without --key the key was looked for in the certificate's file.
            const bool keyInCertificate = error.file == TlsSetupError::File::Key && m_options.tls.keyFile.empty();
            UsageError(TlsFileSource(error.file) + ": " + error.message + (keyInCertificate ? "; add --key FILE" : ""));
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
        plan.openingLimit = Milliseconds(m_options.connectTimeout);
        plan.count = ConnectionCount(m_options);
        plan.firstIndex = m_lane.first;
        plan.shard = m_options.shard.index;
        if (m_options.stamp)
            plan.runId = m_options.runId;
        plan.targetText = TargetText();
        plan.sessionWord = SessionWord();
        ConnectionSet &set = m_set.emplace(std::move(plan));
        for (set.Tend(); !set.Settled() && !StopRequested() && DurationLeft() > 0; set.Tend()) {
            TellRetries();
            WaitEvents(std::min(ConnectPollSeconds, DurationLeft()));
        }
        TellRetries();
        m_summary.tlsVersion = set.TlsVersion();
        m_summary.tlsCipher = set.TlsCipher();
        if (!set.Failure().empty()) {
            Failure(set.Failure(), "connection");
            return false;
        }
        const bool allUp = set.Up() == ConnectionCount(m_options);
        if (StopRequested() && !allUp) {
            m_summary.stoppedBy = "signal";
            return false;
        }
        if (DurationLeft() <= 0 && !allUp) {
            m_summary.stoppedBy = "duration";
            return false;
        }
        return true;
    }

    void TellRetries()
    {
        if (m_set)
            if (const std::string line = m_set->TakeRetryLine(); !line.empty())
                SayLine(m_err, line);
    }

    // Looks after the sessions; true when one failed and the run is over.
    bool SessionLost()
    {
        if (!m_set)
            return false;
        m_set->Tend();
        TellRetries();
        if (m_set->Failure().empty())
            return false;
        Failure(m_set->Failure(), "connection");
        return true;
    }

    std::string NothingSentText() const
    {
        if (m_options.tcp)
            return SessionWord() + " session to " + TargetText() + " failed";
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

    enum class Handover { Sent, Blocked, Failed };

    // Hands one batch over: Failed when not a single packet could go,
    // Blocked when a session's socket stayed full for the moment it was given.
    Handover SendBatch(PacketStream &stream, std::int64_t count)
    {
        std::size_t handed = 0;
        std::int64_t bytes = 0;
        if (m_set) {
            const std::optional<std::size_t> taken = SendToSession(stream, count);
            if (!taken)
                return m_summary.error.empty() ? Handover::Blocked : Handover::Failed;
            handed = *taken;
            // A batch that waited for room is the one that went.
            count = static_cast<std::int64_t>(m_sizes.size());
            if (handed > 0)
                bytes = static_cast<std::int64_t>(m_stream.size());
        } else {
            stream.StartBatch();
            // Refilled in place: the strings keep their capacity.
            m_batch.resize(static_cast<std::size_t>(count));
            for (std::string &packet : m_batch) {
                packet.clear();
                stream.AppendNext(packet);
            }
            if (SourceFileFailed(stream))
                return Handover::Failed;
            handed = UDP1.SendBatch(m_batch);
            for (std::size_t i = 0; i < handed; ++i)
                bytes += static_cast<std::int64_t>(m_batch[i].size());
        }
        stream.Withdraw(handed);
        // Late: due before the moment that lies LateSeconds back.
        m_summary.late +=
            std::min(static_cast<std::int64_t>(handed), std::max<std::int64_t>(0, m_overdue - Attempted()));
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
        return handed > 0 ? Handover::Sent : Handover::Failed;
    }

    // The batch goes to the next session in turn as one write. A full
    // socket is waited for in slices: the same bytes, built for that session's
    // stamps, go again when asked again. Nothing when they are still waiting
    // (or the run failed), else how many went.
    std::optional<std::size_t> SendToSession(PacketStream &stream, std::int64_t count)
    {
        // A session that ended while its batch waited never had it.
        if (m_waiting && m_waiting->phase != ConnectionSet::Connection::Phase::Up) {
            stream.Withdraw(0);
            m_waiting = nullptr;
            m_blockedSince.reset();
        }
        if (!m_waiting) {
            // None up after all: the next look at the sessions says so.
            ConnectionSet::Connection *connection = m_set->NextUp();
            if (!connection)
                return std::nullopt;
            stream.StartBatch();
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
            if (SourceFileFailed(stream))
                return std::nullopt;
            m_waiting = connection;
        }
        ConnectionSet::Connection &connection = *m_waiting;
        const std::size_t handed = m_set->Send(connection, m_stream, m_sizes, Milliseconds(WaitSlice()));
        if (handed == 0 && connection.endpoint->State() == SocketEndpoint::StateConnected) {
            const auto now = SteadyClock::now();
            if (!m_blockedSince)
                m_blockedSince = now;
            if (now - *m_blockedSince < StallLimit)
                return std::nullopt;
            // A live session that takes nothing is a receiver that stopped reading.
            stream.Withdraw(0);
            m_waiting = nullptr;
            Failure("the receiver at " + TargetText() + " stopped taking data", "error");
            return std::nullopt;
        }
        m_waiting = nullptr;
        m_blockedSince.reset();
        return handed;
    }

    // A line of the message-source file too long to be one ends the run
    // before the reader's error text goes out as a message.
    bool SourceFileFailed(PacketStream &stream)
    {
        if (!stream.SourceLineTooLong())
            return false;
        stream.Withdraw(0);
        UsageError(SourceFileName() + ": '" + m_options.sourceFile +
                   "' has a line longer than 64 KiB, more than one message can be");
        return true;
    }

    // How long a wait may last: until the next second's record at most.
    double WaitSlice() const
    {
        return std::clamp(std::min(m_nextRecord - Elapsed(), DurationLeft()), 0.001, WaitSliceSeconds);
    }

    std::int64_t Attempted() const { return m_summary.sent + m_summary.failed + m_summary.skipped; }

    void Loop()
    {
        PacketStream stream(m_options, UDP1.LocalHostName(), SubnetPrefixOf(UDP1.LocalIP()));
        if (m_options.stamp && !m_set)
            stream.StampWith(m_options.runId, m_options.shard.Stream(static_cast<std::uint64_t>(m_lane.first) + 1));
        SendAll(stream);
        // A batch still waiting for room never went.
        if (m_waiting) {
            stream.Withdraw(0);
            m_waiting = nullptr;
        }
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
        m_summary.connectionsUp = m_set->EverUp();
        m_summary.unknownFate = m_set->UnknownFateTotal();
        m_summary.reconnects = m_set->ReconnectsTotal();
        m_summary.longestOutage = m_set->LongestOutage().count();
        if (m_summary.connectionsUp == 0 && m_summary.error.empty()) {
            const std::string &why = m_set->LastFailure();
            Failure("no " + SessionWord() + " session to " + TargetText() + " came up in " +
                        FixedSeconds(std::chrono::duration<double>(SteadyClock::now() - m_lane.runStart).count()) +
                        (why.empty() ? "" : "; the last attempt: " + why),
                    "");
        }
    }

    static std::string FixedSeconds(double seconds)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        return text;
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
            if (schedule.Finished(Attempted())) {
                m_summary.stoppedBy = m_options.pace == Pace::Once ? "once" : "count";
                return;
            }
            const double elapsed = Elapsed();
            RecordSecond(elapsed);
            if (DurationLeft() <= 0) {
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
            const std::int64_t due = schedule.DueBy(elapsed);
            m_overdue = schedule.DueBefore(elapsed - LateSeconds);
            // What is long overdue is skipped, not sent in a burst; the
            // batch waiting for room was due when it was built.
            if (m_options.noCatchUp && !m_waiting && Attempted() < m_overdue)
                m_summary.skipped += m_overdue - Attempted();
            if (m_set && m_set->Up() == 0) {
                // Every session is waiting to be opened again.
                WaitEvents(std::min(ConnectPollSeconds, WaitSlice()));
                m_tendDue = true;
                continue;
            }
            const std::int64_t attempted = Attempted();
            if (attempted < due) {
                std::int64_t batch = std::min<std::int64_t>(due - attempted, BatchLimit);
                // Spread over the sessions when few are due.
                if (m_set)
                    batch = std::min(batch, std::max<std::int64_t>(1, (due - attempted) / m_set->Up()));
                const Handover handover = SendBatch(stream, batch);
                if (handover == Handover::Failed) {
                    if (m_summary.error.empty() && !SessionLost())
                        Failure(NothingSentText(), "error");
                    return;
                }
                if (handover == Handover::Blocked) {
                    // The events of the sessions, and the clock's marks, between slices.
                    QCoreApplication::processEvents();
                    m_tendDue = true;
                }
                continue;
            }
            double wake = std::min(schedule.DueAt(attempted), m_nextProgress);
            wake = std::min({wake, Elapsed() + DurationLeft(), schedule.EndSeconds()});
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
        m_drainEnd = SteadyClock::now() + Milliseconds(m_options.drainTimeout);
        if (m_set && m_summary.error.empty())
            if (const std::string problem = m_set->FlushAll(*m_drainEnd); !problem.empty())
                Failure(problem, "");
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
    // The session whose batch waits for room in its socket, and since when.
    ConnectionSet::Connection *m_waiting = nullptr;
    std::optional<SteadyClock::time_point> m_blockedSince;
    // Messages due LateSeconds ago: those sent after are late.
    std::int64_t m_overdue = 0;
    std::optional<SteadyClock::time_point> m_drainEnd;
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
