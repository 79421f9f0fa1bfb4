#include "cli/probe/ProbeCommandLine.h"

#include "cli/common/FlagValues.h"
#include "cli/recv/RecvParser.h"
#include "cli/send/SendParser.h"
#include "common/TextHelpers.h"
#include "probe/RunContext.h"

#include <QHostAddress>

#include <array>
#include <memory>

namespace {
constexpr const char *SeeHelp = " (see quillon-probe --help)";
// A rate no sender on one machine reaches, so a typing mistake is caught.
constexpr double MostRate = 1e9;
constexpr double MostSeconds = 86400;
constexpr double MostSoakSeconds = 7 * 86400;
// The listeners inside the probe, on a port or at a socket's path.
constexpr std::array<TransportKind, 4> PortListeners = {TransportKind::Tcp, TransportKind::Udp, TransportKind::Tls,
                                                        TransportKind::Relp};
constexpr std::array<TransportKind, 2> SocketListeners = {TransportKind::UnixDgram, TransportKind::UnixStream};

// The sender's groups a probe step takes as they stand; the others (the
// pace, the stamps, the shard, the output) are the probe's to set.
bool ProbeTakesSendGroup(FlagGroupId id)
{
    for (FlagGroupId own : {FlagGroupId::Sending, FlagGroupId::Stamps, FlagGroupId::Spread,
                            FlagGroupId::SettingsAndOutput, FlagGroupId::Metrics})
        if (id == own)
            return false;
    return true;
}

struct Parser {
    ProbeParseResult result;
    ProbeOptions &o = result.options;
    // The sender's flags write to its own parser, which knows what each
    // takes and how they combine, so a flag added there is the probe's too.
    std::shared_ptr<SendParser> sendParser = std::make_shared<SendParser>();
    FlagTable sendTable = SendFlags(sendParser);
    // The first of them that failed, told once the probe's own checks pass.
    Status sendTaken;
    // The listener's TLS flags write to quillon-recv's own parser, and
    // --receive names the listener on it.
    std::shared_ptr<RecvParser> recvParser = std::make_shared<RecvParser>(ProbeReceiveNames);
    FlagTable recvTable = RecvFlags(recvParser);
    // The first of its flags that failed, told after the sender's checks
    // (and not at all when the collector writes a file).
    Status recvTaken;
    std::vector<std::string_view> receiveTlsFlags;

    static Status Fail(std::string text) { return Status::Failure(std::move(text)); }

    static Status Bad(std::string_view flag, std::string_view value, std::string_view wanted)
    {
        return Fail(std::string(flag) + ": " + Quoted(value) + " is not " + std::string(wanted));
    }

    Status Receive(std::string_view value)
    {
        const std::size_t colon = value.find(':');
        const std::string kind = ToLowerAscii(value.substr(0, colon));
        const std::string_view where = colon == std::string_view::npos ? std::string_view{} : value.substr(colon + 1);
        o.receive = {std::string(value), kind, {}, {}};
        const std::optional<TransportKind> atSocket = TransportNamed(kind, SocketListeners);
        if (kind == "file" || atSocket) {
            if (where.empty())
                return Fail("--receive " + kind + ": needs a path: --receive " + kind + ":PATH");
            o.receive.path = std::string(where);
            if (atSocket)
                recvParser->ListenOnSocket(*atSocket, where);
            return {};
        }
        if (const std::optional<TransportKind> onPort = TransportNamed(kind, PortListeners)) {
            // ADDR:PORT, the port after the last colon, so "::1:514" and "[::1]:514" both read.
            const std::size_t last = where.rfind(':');
            std::string_view port = where;
            if (last != std::string_view::npos) {
                port = where.substr(last + 1);
                std::string_view address = where.substr(0, last);
                if (address.size() > 2 && address.front() == '[' && address.back() == ']')
                    address = address.substr(1, address.size() - 2);
                if (QHostAddress(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size()))).isNull())
                    return Bad("--receive", value, kind + ":ADDR:PORT with an IPv4 or IPv6 address");
                o.receive.address = std::string(address);
            }
            const auto number = InRange(port, 1, 65535);
            if (!number)
                return Bad("--receive", value, kind + ":PORT or " + kind + ":ADDR:PORT with a port from 1 to 65535");
            recvParser->ListenOnPort(*onPort, static_cast<int>(*number), o.receive.address);
            return {};
        }
        return Bad("--receive", value,
                   "tcp:PORT, udp:PORT, tls:PORT, relp:PORT (each also KIND:ADDR:PORT), unix-dgram:PATH, "
                   "unix-stream:PATH or file:PATH");
    }

    Flag LentBySender(const Flag &flag)
    {
        Flag lent = flag;
        lent.take = [this, take = flag.take, transport = flag.name == "--transport"](std::string_view value) -> Status {
            if (transport)
                o.transport = ToLowerAscii(value);
            if (Status taken = take(value); !taken && sendTaken)
                sendTaken = std::move(taken);
            return {};
        };
        return lent;
    }

    Flag LentByReceiver(const Flag &flag)
    {
        Flag lent = flag;
        lent.take = [this, take = flag.take, name = flag.name](std::string_view value) -> Status {
            receiveTlsFlags.push_back(name);
            if (Status taken = take(value); !taken && recvTaken)
                recvTaken = std::move(taken);
            return {};
        };
        return lent;
    }

    // One of the sender's flags, as if given.
    Status SenderTakes(std::string_view name, std::string_view value = {})
    {
        for (const FlagGroup &group : sendTable.groups)
            for (const Flag &flag : group.flags)
                if (flag.name == name)
                    return flag.take(value);
        return Fail("quillon-send has no " + std::string(name));
    }

    Status Finish()
    {
        if (o.receive.kind.empty())
            return Fail("--receive is needed: where the collector delivers (tcp:PORT, udp:PORT, tls:PORT, "
                        "relp:PORT, unix-dgram:PATH or file:PATH)");
        if (o.maxRate && *o.maxRate < o.startRate)
            return Fail("--max-rate must be at least --start-rate (" + RateText(o.startRate) + ")");
        if (!o.watchPids.empty() && !o.watchCommand.empty())
            return Fail("--watch-pid and --watch-command cannot be combined: watch the processes or start one");
        if (o.soakRate && !o.soakSeconds)
            return Fail("--soak-rate needs --soak DURATION: how long to hold it");
        if (o.soakRate && o.requireMps)
            return Fail("--require-mps needs the search, which --soak-rate leaves out");
        if (o.receive.IsFile() && !receiveTlsFlags.empty())
            return Fail(std::string(receiveTlsFlags.front()) + " needs --receive tls:PORT");

        if (!sendTaken)
            return sendTaken;
        // A rate and stamps for the sender's own checks; each step sets its own.
        if (Status taken = SenderTakes("--rate", std::to_string(o.startRate)); !taken)
            return taken;
        if (Status taken = SenderTakes("--stamp"); !taken)
            return taken;
        const ParseResult &sent = sendParser->result;
        if (sent.action != ParseResult::Action::Run)
            return Fail(sent.error);
        if (Status checked = sendParser->Finish(); !checked)
            return checked;
        o.send = sent.options;
        o.send.quiet = true;
        result.warnings = sent.warnings;

        if (!o.receive.IsFile()) {
            if (!recvTaken)
                return recvTaken;
            if (Status checked = recvParser->Finish(); !checked)
                return checked;
            o.recv = recvParser->o;
        }
        o.send.stampKey = stampKey;
        o.recv.stampKey = stampKey;
        return {};
    }

    std::optional<StampKey> stampKey;
    static std::string RateText(double rate) { return std::to_string(static_cast<long long>(rate)); }
};

Status Rate(std::string_view flag, std::string_view value, double &field)
{
    const auto rate = PositiveNumber(value);
    if (!rate || *rate < 1 || *rate > MostRate)
        return Parser::Bad(flag, value, "a rate from 1 to 1000000000 messages per second");
    field = *rate;
    return {};
}

Status Seconds(std::string_view flag, std::string_view value, double &field)
{
    const auto seconds = PositiveNumber(value);
    if (!seconds || *seconds > MostSeconds)
        return Parser::Bad(flag, value, "a number of seconds above 0, at most 86400");
    field = *seconds;
    return {};
}

// "90", "90s", "30m", "12h": seconds unless a unit says otherwise.
Status Duration(std::string_view flag, std::string_view value, std::optional<double> &field)
{
    double unit = 1;
    std::string_view number = value;
    if (!value.empty()) {
        const std::string units = "smh";
        if (const std::size_t at = units.find(value.back()); at != std::string::npos) {
            unit = at == 0 ? 1 : (at == 1 ? 60 : 3600);
            number.remove_suffix(1);
        }
    }
    const auto amount = PositiveNumber(number);
    if (!amount || *amount * unit > MostSoakSeconds)
        return Parser::Bad(flag, value,
                           "a duration above 0 and at most 7 days: seconds, or with s, m or h (90s, 30m, 12h)");
    field = *amount * unit;
    return {};
}

FlagTable Table(const std::shared_ptr<Parser> &p)
{
    ProbeOptions &o = p->o;
    FlagTable table;
    table.state = p;
    table.program = "quillon-probe";
    table.summary = "Finds the highest rate a syslog collector sustains: steps of stamped messages\n"
                    "at fixed rates to the collector, which delivers them to the probe, each judged\n"
                    "by what was lost and how late it came, while the collector's CPU and memory\n"
                    "are watched.\n";
    table.seeHelp = SeeHelp;
    // A sender flag the probe sets itself is named as such.
    table.unknown = [p](std::string_view name) {
        for (std::string_view sendFlag : FlagNames(p->sendTable))
            if (sendFlag == name)
                return std::string(name) + ": the probe sets the sender's pace, stamps and output for each step";
        return std::string();
    };
    for (const FlagGroup &group : p->sendTable.groups) {
        if (!ProbeTakesSendGroup(group.id))
            continue;
        FlagGroup lent{group.id, group.title, {}, group.note, group.column};
        for (const Flag &flag : group.flags)
            lent.flags.push_back(p->LentBySender(flag));
        table.groups.push_back(std::move(lent));
    }

    FlagGroup receiving{FlagGroupId::Receiving,
                        "Receiving (where the collector delivers)",
                        {{"--receive",
                          "KIND:WHERE",
                          "tcp:PORT, udp:PORT or tls:PORT: a receiver inside\n"
                          "the probe, with quillon-recv's checks (any framing);\n"
                          "KIND:ADDR:PORT binds that address only;\n"
                          "relp:PORT, unix-dgram:PATH, unix-stream:PATH: where\n"
                          "quillon-recv listens so; file:PATH: a regular file\n"
                          "the collector writes, read as it grows and checked\n"
                          "as quillon-recv --check-file does, followed as\n"
                          "tail -F does through a rename or a truncation",
                          [p](std::string_view value) { return p->Receive(value); },
                          {"tcp:", "udp:", "tls:", "relp:", "unix-dgram:", "unix-stream:", "file:"}},
                         {"--stamp-key", "FILE",
                          "key each step's stamps with the secret in FILE and\n"
                          "count those received without its MAC as forged (as\n"
                          "quillon-send and quillon-recv --stamp-key do)",
                          [p](std::string_view value) -> Status {
                              Result<StampKey> key = ReadStampKey(std::string(value));
                              if (!key)
                                  return Parser::Fail("--stamp-key: " + key.Why());
                              p->stampKey = std::move(*key);
                              return {};
                          }}}};
    for (const FlagGroup &group : p->recvTable.groups) {
        if (group.id != FlagGroupId::Tls)
            continue;
        for (const Flag &flag : group.flags)
            receiving.flags.push_back(p->LentByReceiver(flag));
    }
    table.groups.push_back(std::move(receiving));

    table.groups.push_back({FlagGroupId::Watching,
                            "Watching the collector",
                            {
                                {"--watch-pid", "PID",
                                 "record this process's CPU share and resident memory\n"
                                 "each second from /proc; repeat for more",
                                 [&o](std::string_view value) -> Status {
                                     const auto pid = WholeNumber(value);
                                     if (!pid || *pid <= 0 || *pid > 0x3fffffff)
                                         return Parser::Bad("--watch-pid", value, "a process id");
                                     o.watchPids.push_back(static_cast<int>(*pid));
                                     return {};
                                 }},
                                {"--watch-command", "'CMD'",
                                 "start the collector (sh -c 'exec CMD'), wait for it\n"
                                 "to bind --port when the target is this machine (up\n"
                                 "to --connect-timeout), watch it, and stop it and\n"
                                 "all it started at the end (SIGTERM, SIGKILL after\n"
                                 "5 s); it dies with the probe. A command that forks\n"
                                 "a daemon and ends: the process on --port is watched.\n"
                                 "It runs in a cgroup of its own where one can be made",
                                 [&o](std::string_view value) -> Status {
                                     if (TrimSpaces(value).empty())
                                         return Parser::Fail(
                                             "--watch-command needs the command that starts the collector");
                                     o.watchCommand = std::string(value);
                                     return {};
                                 }},
                                {"--cleanup", "FILE",
                                 "end what a probe killed outright left of its\n"
                                 "--watch-command (FILE: the record it named) and\n"
                                 "exit; each run does this for the records of runs\n"
                                 "that are over",
                                 [p](std::string_view value) -> Status {
                                     if (value.empty())
                                         return Parser::Fail("--cleanup needs the record's file name");
                                     p->o.cleanup = std::string(value);
                                     p->result.action = ProbeParseResult::Action::Cleanup;
                                     return {};
                                 }},
                            }});
    table.groups.push_back(
        {FlagGroupId::Search,
         "The search",
         {
             {"--start-rate", "R", "the first step's rate (default 1000 messages a second)",
              [&o](std::string_view value) { return Rate("--start-rate", value, o.startRate); }},
             {"--max-rate", "R", "the highest rate tried (default: no limit)",
              [&o](std::string_view value) {
                  double rate = 0;
                  Status taken = Rate("--max-rate", value, rate);
                  if (taken)
                      o.maxRate = rate;
                  return taken;
              }},
             {"--step-seconds", "S", "how long each step sends (default 10)",
              [&o](std::string_view value) { return Seconds("--step-seconds", value, o.stepSeconds); }},
             {"--drain-seconds", "S",
              "after a step, delivery has stopped once S seconds\n"
              "pass without a new message (default 5)",
              [&o](std::string_view value) { return Seconds("--drain-seconds", value, o.drainSeconds); }},
             {"--max-loss", "SHARE",
              "a step holds with lost / sent up to SHARE, 0..1\n"
              "(default 0: nothing lost)",
              [&o](std::string_view value) -> Status {
                  const auto share = WholeNumber(value) == 0 ? std::optional<double>(0) : PositiveNumber(value);
                  if (!share || *share > 1)
                      return Parser::Bad("--max-loss", value, "a share of the messages sent from 0 to 1");
                  o.maxLoss = *share;
                  return {};
              }},
             {"--max-duplicates", "SHARE",
              "and with messages delivered twice up to SHARE of\n"
              "those delivered, 0..1 (default 0.001)",
              [&o](std::string_view value) -> Status {
                  const auto share = WholeNumber(value) == 0 ? std::optional<double>(0) : PositiveNumber(value);
                  if (!share || *share > 1)
                      return Parser::Bad("--max-duplicates", value, "a share of the messages delivered from 0 to 1");
                  o.maxDuplicates = *share;
                  return {};
              }},
             {"--max-p99-ms", "MS", "and with a p99 latency up to MS milliseconds",
              [&o](std::string_view value) -> Status {
                  const auto ms = PositiveNumber(value);
                  if (!ms)
                      return Parser::Bad("--max-p99-ms", value, "a positive number of milliseconds");
                  o.maxP99Ms = *ms;
                  return {};
              }},
             {"--precision", "SHARE",
              "bisect until the rate that failed is within SHARE\n"
              "above the one that held (default 0.05)",
              [&o](std::string_view value) -> Status {
                  const auto share = PositiveNumber(value);
                  if (!share || *share < 0.001 || *share > 1)
                      return Parser::Bad("--precision", value, "a share from 0.001 to 1");
                  o.precision = *share;
                  return {};
              }},
             {"--confirm", "N",
              "run the rate found and the lowest that failed above\n"
              "it N more times each (default 1; 0: not at all)",
              [&o](std::string_view value) -> Status {
                  const auto times = WholeNumber(value);
                  if (!times || *times < 0 || *times > 10)
                      return Parser::Bad("--confirm", value, "a number of times from 0 to 10");
                  o.confirm = static_cast<int>(*times);
                  return {};
              }},
         },
         "  The rate doubles from --start-rate while steps hold, then bisects between\n"
         "  the last that held and the first that failed. It stops early when the\n"
         "  sender cannot reach a step's rate (the collector was not the limit), at\n"
         "  --max-rate, when the target refuses everything, and when the p99 is the\n"
         "  same at half the rate or less (a latency floor no rate gets under). Then\n"
         "  it runs the boundary again (--confirm); a run that disagrees takes the\n"
         "  search up from there."});
    table.groups.push_back({FlagGroupId::Soak,
                            "Soak (does it hold for hours?)",
                            {
                                {"--soak", "DURATION",
                                 "after the search, hold 90% of the rate found for\n"
                                 "DURATION (90s, 30m, 12h) and judge the collector:\n"
                                 "holds, leaks (memory) or degrades (p99, loss)",
                                 [&o](std::string_view value) { return Duration("--soak", value, o.soakSeconds); }},
                                {"--soak-rate", "R", "soak at R messages a second, without a search",
                                 [&o](std::string_view value) {
                                     double rate = 0;
                                     Status taken = Rate("--soak-rate", value, rate);
                                     if (taken)
                                         o.soakRate = rate;
                                     return taken;
                                 }},
                                {"--max-rss-growth", "MB",
                                 "the soak leaks when the watched collector's resident\n"
                                 "memory grows faster than MB per hour (default 50)",
                                 [&o](std::string_view value) -> Status {
                                     const auto megabytes = PositiveNumber(value);
                                     if (!megabytes)
                                         return Parser::Bad("--max-rss-growth", value,
                                                            "a positive number of megabytes per hour");
                                     o.maxRssGrowthMbPerHour = *megabytes;
                                     return {};
                                 }},
                            },
                            "  The soak sends in runs of at most a minute, each judged at the end: the\n"
                            "  collector's memory slope (least squares over the watched processes'\n"
                            "  samples after the first tenth, which fills queues and caches), its CPU\n"
                            "  and the p99 of each minute; it degrades when the p99 of its last tenth\n"
                            "  is more than twice the first tenth's (and 5 ms more), or it loses more\n"
                            "  than --max-loss."});
    table.groups.push_back({FlagGroupId::Output,
                            "Output",
                            {
                                {"--report", "FILE",
                                 "write the result as one self-contained HTML page\n"
                                 "(opens offline): the verdict and how sure it is,\n"
                                 "where it ran, charts by offered rate, the steps\n"
                                 "and why each failed, the soak, CPU and memory",
                                 [&o](std::string_view value) -> Status {
                                     if (value.empty())
                                         return Parser::Fail("--report needs a file name");
                                     o.report = std::string(value);
                                     return {};
                                 }},
                                {"--json", "", "the result as one JSON document on standard output",
                                 [&o](std::string_view) {
                                     o.json = true;
                                     return Status{};
                                 }},
                                {"--progress", "",
                                 "a line each second of each step on standard error:\n"
                                 "the step, its rate, sent and the rate reached (the\n"
                                 "default when standard error is a terminal)",
                                 [&o](std::string_view) {
                                     o.progress = true;
                                     return Status{};
                                 }},
                                {"--stats-file", "FILE",
                                 "one JSON object per line for each step as it is\n"
                                 "judged, as in --json with the time, and each soak\n"
                                 "run; the last has the answer (and the soak)",
                                 [&o](std::string_view value) -> Status {
                                     if (value.empty())
                                         return Parser::Fail("--stats-file needs a file name");
                                     o.statsFile = std::string(value);
                                     return {};
                                 }},
                                {"--require-mps", "R", "exit 1 unless the sustained rate is at least R",
                                 [&o](std::string_view value) -> Status {
                                     const auto rate = PositiveNumber(value);
                                     if (!rate)
                                         return Parser::Bad("--require-mps", value,
                                                            "a positive number of messages per second");
                                     o.requireMps = *rate;
                                     return {};
                                 }},
                                {"--help",
                                 "",
                                 "",
                                 [p](std::string_view) {
                                     p->result.action = ProbeParseResult::Action::Help;
                                     return Status{};
                                 },
                                 {},
                                 "-h",
                                 "print the help and exit"},
                                {"--version",
                                 "",
                                 "",
                                 [p](std::string_view) {
                                     p->result.action = ProbeParseResult::Action::Version;
                                     return Status{};
                                 },
                                 {},
                                 {},
                                 "print the version and exit"},
                            }});
    table.groups.push_back(MetricsFlagGroup(o.metrics));
    table.epilogue = R"(Each step is a stamped run of its own (its own run id) at a fixed rate for
--step-seconds; the probe then waits until --drain-seconds pass without a
new message and judges the step: lost is what was sent and never arrived
(gaps and the tail, by the stamps; refused datagrams or connections are
counted apart), latency the time from the stamp to the probe's receipt. A
step whose sender fell short of the rate at the probe's own limit ends the
search (limited by the sender). Over a stream, a collector that held the
sender back (it waited for room, bytes were left untaken, or the latency
grew through the step) fails it by back-pressure. With --watch-pid the
probe waits, as with --watch-command, for the target port to be bound.

Each step records how busy the machine was, how much processor time was
stolen, and how long the probe's threads waited for one; a step disturbed
so is noisy. An answer resting on a noisy or unconfirmed step says
"confidence: low" and why.

Progress goes to standard error, one line per step (and with --progress
one each second); the summary (or with --json the JSON document) to
standard output.

Exit status: 0 the search ended (and --require-mps was met, and the soak
held), 1 --require-mps was not met, the sender reached no rate, the target
refused everything, the soak leaked or degraded, or the probe could not
finish, 2 usage error.
)";
    table.examples = {
        {"The rate a collector on UDP port 5514 sustains, delivered to the probe on TCP port 5515",
         "quillon-probe --target 127.0.0.1 --port 5514 --receive tcp:5515 --report probe.html"},
        {"The same, with the collector's CPU and memory",
         "quillon-probe --target 127.0.0.1 --port 5514 --receive tcp:5515 --watch-pid \"$(pidof rsyslogd)\" --report "
         "probe.html"},
        {"Start the collector from the probe, then hold 90% of the rate found for an hour",
         "quillon-probe --target 127.0.0.1 --port 5514 --receive tcp:5515 --watch-command 'rsyslogd -n -f lab.conf -i "
         "/tmp/r.pid' --soak 1h --report probe.html"},
        {"Gate a change in CI on 20,000 messages a second, 0.1% lost at most and a p99 under 50 ms",
         "quillon-probe --target 127.0.0.1 --port 5514 --receive tcp:5515 --max-loss 0.001 --max-p99-ms 50 "
         "--require-mps 20000"},
    };
    return table;
}
} // namespace

ProbeParseResult ParseProbeCommandLine(const std::vector<std::string> &args)
{
    const auto parser = std::make_shared<Parser>();
    ProbeParseResult &result = parser->result;
    const FlagTable table = Table(parser);
    Status parsed = ParseFlags(table, args);
    if (parsed && result.action == ProbeParseResult::Action::Run)
        parsed = parser->Finish();
    std::vector<std::string> words{"quillon-probe"};
    words.insert(words.end(), args.begin(), args.end());
    result.options.commandLine = ShellLine(words);
    if (!parsed) {
        result.action = ProbeParseResult::Action::UsageError;
        result.error = parsed.Why();
    }
    return std::move(result);
}

FlagTable ProbeFlagTable()
{
    return Table(std::make_shared<Parser>());
}

std::string ProbeUsageText()
{
    return HelpText(ProbeFlagTable());
}
