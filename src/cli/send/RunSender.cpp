#include "cli/send/RunSender.h"

#include "common/InputFile.h"
#include "common/MemoryBudget.h"
#include "common/SettingsRules.h"
#include "common/StopFlag.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"
#include "engine/Stamp.h"
#include "load/ReplayLines.h"
#include "metrics/SendMetricsFeed.h"
#include "report/SendReport.h"
#include "report/SendSinks.h"
#include "sources/SourceFile.h"
#include "transport/TlsContext.h"
#include "transport/TlsSettingsStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

namespace {
// A message or multi-line text longer than this is no syslog message.
constexpr std::size_t LongestMessageFile = 64 * 1024;
// A file of lines is held whole for the run.
constexpr std::size_t LargestLinesFile = std::size_t{256} << 20;
// Far beyond any syslog message, and what a receiver takes as one.
constexpr std::size_t LongestLine = std::size_t{1} << 20;
// Descriptors besides the connections: standard streams, the event loop's,
// the stats file, a lookup's.
constexpr std::int64_t SpareFiles = 10;

// Up to limit + 1 bytes, so a longer (or endless) file shows as longer;
// none when it could not be read or a stop came first.
std::optional<std::string> ReadBytes(const std::string &path, std::size_t limit)
{
    InputFile file;
    if (!file.Open(path))
        return std::nullopt;
    std::string bytes(limit + 1, '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        const std::optional<std::size_t> got = file.Read(bytes.data() + have, bytes.size() - have);
        if (!got)
            return std::nullopt;
        if (*got == 0)
            break;
        have += *got;
    }
    bytes.resize(have);
    return bytes;
}

enum class LinesRead { Whole, TooLarge, LineTooLong, Refused, Failed };

// Hands each line (without its LF) to take, reading at most limit bytes and
// no line longer than longest; take may refuse a line to end the read. A
// last line without LF counts too.
template <typename Take> LinesRead ForEachLine(InputFile &in, std::size_t limit, std::size_t longest, Take take)
{
    std::string carry;
    std::array<char, 65536> chunk{};
    std::size_t total = 0;
    for (;;) {
        const std::optional<std::size_t> got = in.Read(chunk.data(), chunk.size());
        if (!got)
            return LinesRead::Failed;
        if (*got == 0)
            break;
        total += *got;
        if (total > limit)
            return LinesRead::TooLarge;
        std::string_view rest(chunk.data(), *got);
        for (std::size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
            if (carry.size() + end > longest)
                return LinesRead::LineTooLong;
            bool taken = true;
            if (carry.empty()) {
                taken = take(rest.substr(0, end));
            } else {
                carry.append(rest.substr(0, end));
                taken = take(std::string_view(carry));
                carry.clear();
            }
            if (!taken)
                return LinesRead::Refused;
            rest.remove_prefix(end + 1);
        }
        if (carry.size() + rest.size() > longest)
            return LinesRead::LineTooLong;
        carry.append(rest);
    }
    if (!carry.empty() && !take(std::string_view(carry)))
        return LinesRead::Refused;
    return LinesRead::Whole;
}

// The heap a line held in a std::string takes beside the string itself
// (none for the short ones it keeps inside).
std::size_t HeapOf(std::size_t length)
{
    return length < sizeof(std::string) ? 0 : length + 1;
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

// Checks and reads what the run needs before anything goes out.
class SendPreparer {
public:
    SendPreparer(const Options &options, const SendChannel::Say &say) : m_say(say) { m_prepared.options = options; }

    // stats: where the run's --stats-file goes, opened in its turn.
    PreparedSend Prepare(StatsFileSink *stats)
    {
        if (m_options.stamp && m_options.runId.empty())
            m_options.runId = FreshRunId();
        static_cast<void>(LoadFiles() && FitTemplates() && (!stats || OpenStatsFile(*stats)) && FitFiles() &&
                          (!UsesTls(m_options) || PrepareTls()));
        return std::move(m_prepared);
    }

private:
    bool LoadFiles()
    {
        if (!m_options.multiLineFile.empty()) {
            const auto text = ReadBytes(m_options.multiLineFile, LongestMessageFile);
            const std::string named = "--multiline-file: '" + m_options.multiLineFile + "'";
            if (!text) {
                UsageError(StopRequested() ? named + ": stopped while reading"
                                           : "--multiline-file: cannot read '" + m_options.multiLineFile + "'");
                return false;
            }
            if (text->size() > LongestMessageFile) {
                UsageError(named + " holds more than 64 KiB, more than one message can be");
                return false;
            }
            m_options.multiLineText = *text;
        }
        if (!m_options.linesFile.empty() && !LoadLines())
            return false;
        if (!m_options.replayFile.empty() && !CheckReplayFile())
            return false;
        // The reader would send its error text as the message; a run that
        // can only send that is a mistake to report before anything goes out.
        if (ReadsSourceFile() && !SourceFileUsable())
            return false;
        if (m_options.message == MessageEntries::CaptureFile && !CaptureUsable())
            return false;
        if (m_options.message == MessageEntries::TabDelimitedFile)
            WarnOfShortLines();
        WarnOfSplitMessages();
        return true;
    }

    bool LoadLines()
    {
        const std::string &path = m_options.linesFile;
        const std::string named = "--lines-file: " + (path == "-" ? std::string("standard input") : path);
        InputFile file;
        if (const Status opened = file.Open(path); !opened) {
            UsageError("--lines-file: " + opened.Why());
            return false;
        }
        auto lines = std::make_shared<std::vector<std::string>>();
        // Each line's string twice over, as the vector doubles, and its bytes.
        const std::size_t budget = InputBudget();
        std::size_t held = 0;
        const LinesRead read =
            ForEachLine(file, LargestLinesFile, LongestLine, [&lines, &held, budget](std::string_view line) {
                if (!line.empty() && line.back() == '\r')
                    line.remove_suffix(1);
                // Empty lines carry no message, as logger -f skips them.
                if (line.empty())
                    return true;
                held += 2 * sizeof(std::string) + HeapOf(line.size());
                if (held > budget)
                    return false;
                lines->emplace_back(line);
                return true;
            });
        switch (read) {
        case LinesRead::Whole:
            break;
        case LinesRead::Failed:
            UsageError(file.Stopped() ? named + ": stopped while reading" : "--lines-file: " + file.Outcome().Why());
            return false;
        case LinesRead::TooLarge:
            UsageError("--lines-file: '" + path + "' holds more than " + std::to_string(LargestLinesFile >> 20) +
                       " MiB, more than is read for a run");
            return false;
        case LinesRead::LineTooLong:
            UsageError(named + ": a line longer than " + std::to_string(LongestLine >> 20) + " MiB");
            return false;
        case LinesRead::Refused:
            UsageError(named + ": its lines need more than " + BudgetText(budget));
            return false;
        }
        if (lines->empty()) {
            UsageError("--lines-file: '" + path + "' holds no lines to send");
            return false;
        }
        // Without an end of its own the run sends the file once.
        if (m_options.count == 0 && m_options.duration == 0)
            m_options.count = static_cast<std::int64_t>(lines->size());
        m_options.lines = std::move(lines);
        return true;
    }

    // Read through once before anything goes out, so a file that cannot be
    // replayed is a usage error, not a run cut short.
    bool CheckReplayFile()
    {
        const std::string &path = m_options.replayFile;
        std::error_code unknown;
        if (!std::filesystem::is_regular_file(path, unknown) && std::filesystem::exists(path, unknown)) {
            UsageError("--replay: '" + path +
                       "' is not a regular file (a replay reads it twice: its times ahead of "
                       "its lines)");
            return false;
        }
        ReplayFile file(ReplayLines::ReferenceYear());
        if (const Status opened = file.Open(path); !opened) {
            UsageError("--replay: " + opened.Why());
            return false;
        }
        ReplayLine line;
        std::int64_t lines = 0, timed = 0;
        ReplayFile::Read read;
        while ((read = file.Next(line)) == ReplayFile::Read::Line) {
            lines += line.text.empty() ? 0 : 1;
            timed += line.time == ReplayTime::None ? 0 : 1;
            // A file of many gigabytes takes a while to read through.
            if ((lines & 0xffff) == 0 && StopRequested()) {
                UsageError("--replay: '" + path + "': stopped while reading");
                return false;
            }
        }
        if (read == ReplayFile::Read::Failed) {
            UsageError("--replay: " + file.Outcome().Why());
            return false;
        }
        if (lines == 0) {
            UsageError("--replay: '" + path + "' holds no lines to send");
            return false;
        }
        if (timed == 0 && m_options.replaySpeed > 0)
            m_say("--replay: no line of '" + path +
                  "' starts with an RFC 3339 or RFC 3164 time: they all go out at once");
        return true;
    }

    // The window's tab-delimited format sends the fourth field: a plain log
    // file goes out as empty messages, sent as the window would, but said.
    void WarnOfShortLines() const
    {
        InputFile file;
        if (!file.Open(m_options.sourceFile))
            return;
        std::int64_t lines = 0, shortLines = 0;
        static_cast<void>(ForEachLine(file, SourceFile::LargestUnsizedCapture, SourceFile::LongestLine,
                                      [&lines, &shortLines](std::string_view line) {
                                          ++lines;
                                          if (!line.empty() && !StartsWithNoCase(line, "HEX=") &&
                                              std::count(line.begin(), line.end(), '\t') < 3)
                                              ++shortLines;
                                          return true;
                                      }));
        if (shortLines > 0)
            m_say(SourceFileName() + ": " + Grouped(shortLines) + " of " + Grouped(lines) + " lines in '" +
                  m_options.sourceFile +
                  "' have fewer than four tab-delimited fields and go out as empty messages (the "
                  "fourth field is the message); --lines-file FILE sends each line as it stands");
    }

    // A capture is held whole by each thread, and once more by the check.
    bool SourceFileUsable()
    {
        const std::string &path = m_options.sourceFile;
        InputFile file;
        if (!file.Open(path)) {
            std::error_code unknown;
            const bool folder = std::filesystem::is_directory(path, unknown);
            UsageError(SourceFileName() + ": cannot open '" + path + "'" + (folder ? ": it is a folder" : ""));
            return false;
        }
        if (m_options.message != MessageEntries::CaptureFile || file.Size() > SourceFile::LargestCapture)
            return true;
        const std::size_t need = file.Size() * static_cast<std::size_t>(m_options.threads + 1);
        const std::size_t budget = InputBudget();
        if (need <= budget)
            return true;
        UsageError(SourceFileName() + ": '" + path + "' needs " + MemoryText(need) + " held by " +
                   std::to_string(m_options.threads) + (m_options.threads == 1 ? " thread" : " threads") +
                   ", more than " + BudgetText(budget));
        return false;
    }

    // Read once here, so a capture that cannot be replayed is refused
    // before anything goes out.
    bool CaptureUsable()
    {
        SendState state;
        state.SourceFileName = m_options.sourceFile;
        SourceFile capture(state);
        static_cast<void>(capture.ReadCapturePacket());
        const std::string named = SourceFileName() + ": '" + m_options.sourceFile + "'";
        switch (capture.LastCaptureFault()) {
        case SourceFile::CaptureFault::None:
            return true;
        case SourceFile::CaptureFault::Unreadable:
            UsageError(SourceFileName() + ": cannot read '" + m_options.sourceFile + "'");
            break;
        case SourceFile::CaptureFault::TooLarge:
            if (const std::size_t limit = capture.LastCaptureLimit();
                limit != SourceFile::LargestCapture && limit != SourceFile::LargestUnsizedCapture)
                UsageError(named + " holds more than " + MemoryText(limit) + ", as much as a capture may take of " +
                           BudgetText(InputBudget()));
            else
                UsageError(named + " holds more than " + std::to_string(limit >> 20) +
                           " MiB, more than a capture is read whole");
            break;
        case SourceFile::CaptureFault::NoPackets:
            UsageError(named + " holds no syslog datagrams (UDP to port 514) to replay");
            break;
        }
        return false;
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
                             : framing == Framing::None && IsStream(m_options.transport) && m_options.crlf
                                 ? "each message ends in CR LF (the default for RFC 3164 over TCP)"
                                 : nullptr;
        const std::string &text =
            m_options.message == MessageEntries::MultiLine ? m_options.multiLineText : m_options.message;
        if (ending && text.find('\n') != std::string::npos)
            m_say(std::string("the message has line breaks and ") + ending +
                  ": receivers will split it into several; --framing octet-count keeps it whole");
    }

    // The flag's parser checked one copy of the templates against the
    // budget; each thread renders from two of its own.
    bool FitTemplates()
    {
        if (!m_options.templates)
            return true;
        const std::size_t copies = 2 * static_cast<std::size_t>(m_options.threads) + 1;
        const std::size_t need = m_options.templates->Footprint() * copies;
        const std::size_t budget = InputBudget();
        if (need <= budget)
            return true;
        UsageError(m_options.templateFlag + ": the templates need " + MemoryText(need) + " with --threads " +
                   std::to_string(m_options.threads) + ", more than " + BudgetText(budget));
        return false;
    }

    // Every connection is a descriptor: the limit is raised as far as the
    // system lets, and a run that still cannot open them all is refused
    // before the first one.
    bool FitFiles()
    {
        if (!IsStream(m_options.transport))
            return true;
        const std::int64_t needed =
            ConnectionCount(m_options) + m_options.idleConnections + SpareFiles + m_options.threads - 1;
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
        const std::string idle =
            m_options.idleConnections > 0 ? " and --idle-connections " + std::to_string(m_options.idleConnections) : "";
        UsageError("--connections " + std::to_string(ConnectionCount(m_options)) + idle +
                   (idle.empty() ? " needs about " : " need about ") + Grouped(needed) +
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

    bool OpenStatsFile(StatsFileSink &stats)
    {
        if (m_options.statsFile.empty())
            return true;
        if (const Status opened = stats.Open(m_options.statsFile); !opened) {
            UsageError(opened.Why());
            return false;
        }
        return true;
    }

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
            m_say("TLS without verification: the server's certificate and name are not checked");
        m_prepared.tls = std::move(context);
        return true;
    }

    void UsageError(const std::string &text)
    {
        RunSummary &failure = m_prepared.failure;
        failure.error = text;
        failure.stoppedBy = "error";
        failure.exitStatus = 2;
    }

    const SendChannel::Say &m_say;
    PreparedSend m_prepared;
    Options &m_options = m_prepared.options;
};

// quillon-send's lines about the run, on standard error.
class SaidLines final : public SendSink {
public:
    explicit SaidLines(std::ostream &err) : m_err(err) {}
    void Say(const std::string &line) override { SayLine(m_err, line); }

private:
    std::ostream &m_err;
};

MetricLabels Labels(const Options &options)
{
    const Shard &shard = options.shard;
    return {options.runId, std::to_string(shard.index) + "/" + std::to_string(shard.count),
            std::string(TransportName(TransportOf(options)))};
}

void Report(const RunSummary &summary, const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal)
{
    // The terminal echoed the Ctrl-C where the next line would begin.
    if (outIsTerminal && summary.stoppedBy == "signal")
        out << '\n';
    if (!summary.error.empty())
        err << "quillon-send: " << summary.error << std::endl;
    if (options.json) {
        out << SummaryJson(summary, options) << std::endl;
    } else if (!options.quiet && summary.exitStatus != 2) {
        out << SummaryLine(summary) << '\n';
        for (const std::string &line : TargetLines(summary))
            out << line << '\n';
        for (const std::string &line : ConnectionLines(summary))
            out << line << '\n';
        out.flush();
    }
}

} // namespace

void SayLine(std::ostream &err, const std::string &line)
{
    err << "quillon-send: " + line + "\n" << std::flush;
}

PreparedSend PrepareSend(const Options &options, const SendChannel::Say &say)
{
    return SendPreparer(options, say).Prepare(nullptr);
}

RunSummary RunSender(const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal,
                     MetricsSink *metrics)
{
    SaidLines said(err);
    const SendChannel::Say say = [&said](const std::string &line) { said.Say(line); };
    StatsFileSink stats;
    const PreparedSend prepared = SendPreparer(options, say).Prepare(&stats);
    std::optional<SendMetricsFeed> feed;
    if (metrics)
        feed.emplace(*metrics, Labels(prepared.options));
    RunSummary summary = prepared.failure;
    if (prepared.Ready()) {
        SendProgressSink progress(err, prepared.options.duration);
        std::vector<SendSink *> sinks{&said};
        if (!prepared.options.statsFile.empty())
            sinks.push_back(&stats);
        if (prepared.options.progress)
            sinks.push_back(&progress);
        if (feed)
            sinks.push_back(&*feed);
        summary = RunLoad(prepared.options, prepared.tls, sinks);
    }
    if (feed)
        feed->End(summary);
    Report(summary, prepared.options, out, err, outIsTerminal);
    return summary;
}
