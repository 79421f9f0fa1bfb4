#include "cli/recv/RecvParser.h"

#include "cli/common/FlagValues.h"
#include "engine/Stamp.h"
#include "transport/TransportKind.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace {
constexpr std::int64_t MaxFrameLimit = 64 << 20;
constexpr std::int64_t MaxBufferedLimit = std::int64_t{1} << 40;
constexpr double MaxHandshakeSeconds = 3600;
constexpr int RelpPort = 2514;
constexpr std::array<TransportKind, 6> Listens = {TransportKind::Udp,       TransportKind::Tcp,
                                                  TransportKind::Tls,       TransportKind::Relp,
                                                  TransportKind::UnixDgram, TransportKind::UnixStream};
// The flag's value in the help, which keeps the view the table holds.
const std::string ListenValue = TransportAlternatives(Listens);

// A count of messages: whole and not negative.
std::optional<std::uint64_t> Count(std::string_view text)
{
    const auto value = WholeNumber(text);
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(*value);
}

// The rows' short name for it.
using Parser = RecvParser;
} // namespace

Status RecvParser::Bad(std::string_view flag, std::string_view value, std::string_view wanted)
{
    return Fail(std::string(flag) + ": " + Quoted(value) + " is not " + std::string(wanted));
}

void RecvParser::Listening(std::string_view flag)
{
    if (listenFlag.empty())
        listenFlag = flag;
}

void RecvParser::TlsFlag(std::string_view flag)
{
    if (tlsFlag.empty())
        tlsFlag = flag;
    Listening(flag);
}

void RecvParser::NetworkFlag(std::string_view flag)
{
    if (std::find(networkFlags.begin(), networkFlags.end(), flag) == networkFlags.end())
        networkFlags.emplace_back(flag);
    Listening(flag);
}

void RecvParser::Listen(TransportKind kind)
{
    const RecvOptions defaults;
    o.transport = kind;
    o.port = defaults.port;
    o.bind = defaults.bind;
    o.socketPath.clear();
    portGiven = false;
    networkFlags.clear();
    Listening("--listen");
}

void RecvParser::ListenOnPort(TransportKind kind, int port, std::string_view bind)
{
    Listen(kind);
    o.port = port;
    portGiven = true;
    NetworkFlag("--port");
    if (!bind.empty()) {
        o.bind = std::string(bind);
        NetworkFlag("--bind");
    }
}

void RecvParser::ListenOnSocket(TransportKind kind, std::string_view path)
{
    Listen(kind);
    o.socketPath = std::string(path);
}

Status RecvParser::CheckUnixSocket()
{
    if (!IsUnixSocket(o.transport)) {
        if (!o.socketPath.empty())
            return Fail("--socket names a Unix socket: add --listen unix-dgram or --listen unix-stream");
        return {};
    }
    if (!networkFlags.empty()) {
        std::string named;
        for (const std::string &flag : networkFlags)
            named += (named.empty() ? "" : " and ") + flag;
        return Fail(named + (networkFlags.size() > 1 ? " do" : " does") + " not apply to --listen " +
                    std::string(TransportName(o.transport)) + ": the socket is named by --socket PATH");
    }
    if (o.socketPath.empty())
        return Fail("--listen " + std::string(TransportName(o.transport)) + " needs --socket PATH");
    return {};
}

Status RecvParser::Finish()
{
    if (Status unixSocket = CheckUnixSocket(); !unixSocket)
        return unixSocket;
    if (IsRelp(o.transport) && !portGiven)
        o.port = RelpPort;
    if (o.listenProxy && o.transport != TransportKind::Tcp && o.transport != TransportKind::Tls)
        return Fail("--listen-proxy reads the PROXY header of TCP and TLS connections: add --listen tcp or "
                    "--listen tls");
    if (handshakeTimeoutGiven && !IsTls(o.transport) && !o.listenProxy)
        return Fail(names.Tls("--handshake-timeout") + " needs " + ListenTls() + " or --listen-proxy");
    if (!tlsFlag.empty() && !IsTls(o.transport))
        return Fail(tlsFlag + " needs " + ListenTls());
    if (IsTls(o.transport) && o.certFile.empty())
        return Fail(ListenTls() + " needs " + names.Tls("--cert") + " FILE, the receiver's certificate (PEM)");
    if (o.requireClientCert && o.caFile.empty())
        return Fail(names.Tls("--require-client-cert") + " needs " + names.Tls("--ca-file") +
                    " FILE to check client certificates against");
    if (o.raw && o.output.empty())
        return Fail("--raw needs --output FILE");
    if (!o.checkFile.empty() && !listenFlag.empty())
        return Fail("--check-file reads a file: " + listenFlag + " cannot be combined with it");
    if (!o.runId.empty() && o.checkFile.empty())
        return Fail("--run-id picks one run among the stamps of a file: it needs --check-file FILE");
    if (!o.checkFile.empty() && (o.duration > 0 || o.idle > 0))
        return Fail("--check-file reads the file to its end: --duration and --idle cannot be combined with it");
    if (!o.mergeFiles.empty()) {
        for (const auto &[given, flag] :
             {std::pair{!listenFlag.empty(), listenFlag},
              {!o.checkFile.empty(), std::string("--check-file")},
              {!o.output.empty(), std::string("--output")},
              {!o.statsFile.empty(), std::string("--stats-file")},
              {o.expect > 0 || o.duration > 0 || o.idle > 0, std::string("--expect, --duration and --idle")}})
            if (given)
                return Fail("--merge reads the logs of a run: " + flag + " cannot be combined with it");
    }
    if (!o.statsFile.empty() && !o.checkFile.empty())
        return Fail("--stats-file records each second of listening: --check-file cannot be combined with it");
    if (o.checkFile == "-" && o.output == "-")
        return Fail("--output - and --check-file - cannot both use the terminal");
    if (o.json && o.output == "-")
        return Fail("--output - cannot be combined with --json: standard output holds the JSON summary");
    if (o.maxBuffered && *o.maxBuffered < o.maxFrame)
        return Fail("--max-buffered must be at least --max-frame (" + std::to_string(o.maxFrame) + " bytes)");
    return {};
}

FlagTable RecvFlags(const std::shared_ptr<RecvParser> &p)
{
    RecvOptions &o = p->o;
    // A file name, which a usage error asks for in words of its own.
    const auto file = [](std::string &field, std::string_view missing) {
        return [&field, missing](std::string_view value) -> Status {
            if (value.empty())
                return Parser::Fail(std::string(missing));
            field = std::string(value);
            return {};
        };
    };
    const auto tlsFile = [p](std::string_view flag, std::string &field) {
        return [p, flag, &field](std::string_view value) -> Status {
            if (value.empty())
                return Parser::Fail(std::string(flag) + " needs a file name");
            field = std::string(value);
            p->TlsFlag(flag);
            return {};
        };
    };
    const auto seconds = [](std::string_view flag, double &field) {
        return [flag, &field](std::string_view value) -> Status {
            const auto read = PositiveNumber(value);
            if (!read)
                return Parser::Bad(flag, value, "a positive number of seconds");
            field = *read;
            return {};
        };
    };
    const auto set = SetsTrue;

    FlagTable table;
    table.state = p;
    table.program = "quillon-recv";
    table.summary = "Receives syslog messages and checks the delivery stamps quillon-send --stamp\n"
                    "puts on them: per run and stream, what was received, lost, duplicated or out\n"
                    "of order, and how late it came.\n";
    table.groups.push_back(
        {FlagGroupId::Listening,
         "Listening",
         {
             {"--listen", ListenValue,
              "UDP datagrams (default), TCP connections, TLS\n"
              "sessions over TCP, RELP sessions (port 2514 by\n"
              "default; each message acknowledged once checked and\n"
              "written to --output, see below), or the datagrams\n"
              "or stream connections of the Unix socket --socket\n"
              "names",
              [p](std::string_view value) -> Status {
                  const std::optional<TransportKind> kind = TransportNamed(value, Listens);
                  if (!kind)
                      return Parser::Bad("--listen", value, TransportList(Listens));
                  p->o.transport = *kind;
                  p->Listening("--listen");
                  return {};
              },
              TransportChoices(Listens)},
             {"--socket", "PATH",
              "the Unix socket to make and listen on. A socket file\n"
              "left by a receiver that died (nothing listens on it)\n"
              "is replaced; a live socket or another file is\n"
              "refused. The file is removed at the end",
              [p](std::string_view value) -> Status {
                  if (value.empty())
                      return Parser::Fail("--socket needs the path of a Unix socket");
                  p->o.socketPath = std::string(value);
                  p->Listening("--socket");
                  return {};
              }},
             {"--port", "N",
              "port to listen on (default 514); 0 picks a free one.\n"
              "The first line printed is \"listening on udp ADDR:PORT\"\n"
              "(with --json on standard error; with --json --quiet\n"
              "none: the summary's source names it).",
              [p](std::string_view value) -> Status {
                  const auto port = InRange(value, 0, 65535);
                  if (!port)
                      return Parser::Bad("--port", value, "a port number from 0 to 65535 (0 picks a free one)");
                  p->o.port = *port;
                  p->portGiven = true;
                  p->NetworkFlag("--port");
                  return {};
              }},
             {"--bind", "ADDR", "IPv4 or IPv6 address to listen on (default 0.0.0.0)",
              [p](std::string_view value) -> Status {
                  if (value.empty())
                      return Parser::Fail("--bind needs an IPv4 or IPv6 address");
                  p->o.bind = std::string(value);
                  p->NetworkFlag("--bind");
                  return {};
              }},
             {"--framing", "MODE",
              "TCP and TLS framing: auto (default: a connection\n"
              "starting with a digit is octet counted; one whose\n"
              "first record ends in NUL is NUL framed; else LF,\n"
              "CR LF or NUL ends a message), octet-count, lf, crlf\n"
              "or nul",
              [p](std::string_view value) -> Status {
                  const std::optional<Framing> framing = FramingNamed(value, ReceivedFramings);
                  if (!framing)
                      return Parser::Bad("--framing", value, FramingList(ReceivedFramings));
                  p->o.framing = *framing;
                  p->Listening("--framing");
                  return {};
              },
              FramingChoices(ReceivedFramings)},
             {"--listen-proxy", "",
              "TCP and TLS: each connection opens with a PROXY\n"
              "protocol header, v1 or v2, read before TLS (as\n"
              "behind a load balancer); one without a valid header\n"
              "within --handshake-timeout (10 s) is closed and\n"
              "counted. The\n"
              "summary counts sessions and messages per claimed\n"
              "client (4096 apart, more as \"other\")",
              [p](std::string_view) {
                  p->o.listenProxy = true;
                  p->Listening("--listen-proxy");
                  return Status{};
              }},
             {"--max-frame", "BYTES",
              "longest message taken over TCP, TLS, RELP, a Unix\n"
              "stream or a Unix datagram socket (default 65536);\n"
              "longer ones are counted, skipped and fail the run\n"
              "(over RELP they end their session)",
              [&o](std::string_view value) -> Status {
                  const auto bytes = InRange(value, 16, MaxFrameLimit);
                  if (!bytes)
                      return Parser::Bad("--max-frame", value, "a size in bytes from 16 to 67108864");
                  o.maxFrame = static_cast<std::size_t>(*bytes);
                  return {};
              }},
             {"--max-connections", "N",
              "connections (or RELP sessions) open at once (default\n"
              "10000, fewer where ulimit -n leaves less); at the limit\n"
              "the one idle longest is closed (counted) to take a new\n"
              "one",
              [&o](std::string_view value) -> Status {
                  const auto count = InRange(value, 1, 1000000);
                  if (!count)
                      return Parser::Bad("--max-connections", value, "a number of connections from 1 to 1000000");
                  o.maxConnections = static_cast<std::size_t>(*count);
                  return {};
              }},
             {"--idle-timeout", "S",
              "close a connection that sends nothing for S seconds\n"
              "(default 300), or a RELP session not read for as\n"
              "long because its client takes no answers, counted",
              [p](std::string_view value) -> Status {
                  const auto seconds = PositiveNumber(value);
                  if (!seconds)
                      return Parser::Bad("--idle-timeout", value, "a positive number of seconds");
                  p->o.idleTimeout = *seconds;
                  p->Listening("--idle-timeout");
                  return {};
              }},
             {"--max-buffered", "BYTES",
              "parts of messages held over all connections (default\n"
              "268435456; under ulimit -v a quarter of the memory it\n"
              "leaves); past it the connection holding the most is\n"
              "dropped and counted",
              [p](std::string_view value) -> Status {
                  const auto bytes = InRange(value, 65536, MaxBufferedLimit);
                  if (!bytes)
                      return Parser::Bad("--max-buffered", value, "a size in bytes from 65536 to 1099511627776");
                  p->o.maxBuffered = static_cast<std::size_t>(*bytes);
                  p->Listening("--max-buffered");
                  return {};
              }},
         }});
    table.groups.push_back(
        {FlagGroupId::Tls,
         "TLS (with --listen tls)",
         {
             {p->Tls("--cert"), "FILE", "the receiver's certificate (PEM, then its chain)",
              tlsFile(p->tlsNames.back(), o.certFile)},
             {p->Tls("--key"), "FILE", "its private key (PEM; default: in the --cert file)",
              tlsFile(p->tlsNames.back(), o.keyFile)},
             {p->Tls("--ca-file"), "FILE", "CAs (PEM) that client certificates are checked against",
              tlsFile(p->tlsNames.back(), o.caFile)},
             {p->Tls("--require-client-cert"), "", "refuse clients without a certificate from --ca-file",
              [p, flag = p->tlsNames.back()](std::string_view) {
                  p->o.requireClientCert = true;
                  p->TlsFlag(flag);
                  return Status{};
              }},
             {p->Tls("--handshake-timeout"), "S",
              "drop a session whose handshake (or PROXY header)\n"
              "takes longer (default 10); failed handshakes are\n"
              "counted, others go on",
              [p, flag = p->tlsNames.back()](std::string_view value) -> Status {
                  const auto seconds = PositiveNumber(value);
                  if (!seconds || *seconds > MaxHandshakeSeconds)
                      return Parser::Bad(flag, value, "a positive number of seconds up to 3600");
                  p->o.handshakeTimeout = *seconds;
                  p->handshakeTimeoutGiven = true;
                  p->Listening(flag);
                  return {};
              }},
         }});
    table.groups.push_back({FlagGroupId::Ending,
                            "Ending (Ctrl-C, SIGTERM and SIGHUP also end the run with the summary)",
                            {
                                {"--expect", "N",
                                 "end when N stamped messages have arrived; those that\n"
                                 "never arrive count as lost, and a stamp numbered above\n"
                                 "N is a suspect jump. A run that received nothing\n"
                                 "fails (\"nothing arrived\") unless --expect 0",
                                 [&o](std::string_view value) -> Status {
                                     const auto count = Count(value);
                                     if (!count)
                                         return Parser::Bad("--expect", value, "a whole number of messages");
                                     o.expect = *count;
                                     o.nothingExpected = *count == 0;
                                     return {};
                                 }},
                                {"--duration", "S", "end after S seconds", seconds("--duration", o.duration)},
                                {"--idle", "S", "end after S seconds without a message", seconds("--idle", o.idle)},
                            }});
    table.groups.push_back({FlagGroupId::CheckFile,
                            "Checking a file instead",
                            {
                                {"--check-file", "FILE",
                                 "check the stamps in a file a syslog daemon wrote, one\n"
                                 "message per line (- reads standard input). Its\n"
                                 "template must keep the stamp: RFC 5424 structured\n"
                                 "data is dropped by the traditional file formats,\n"
                                 "RFC 3164 tokens survive.",
                                 file(o.checkFile, "--check-file needs a file name, or - for standard input")},
                                {"--run-id", "ID",
                                 "with --check-file: count the stamps of this run only\n"
                                 "(a file may hold several runs); the others are\n"
                                 "passed over and counted apart",
                                 [&o](std::string_view value) -> Status {
                                     if (!IsValidRunId(value))
                                         return Parser::Bad("--run-id", value,
                                                            "a run id of 1 to 16 letters, digits, '_' or '-'");
                                     o.runId = std::string(value);
                                     return {};
                                 }},
                            }});
    table.groups.push_back({FlagGroupId::Merge,
                            "Merging a spread run",
                            {
                                {"--merge", "FILE...",
                                 "instead of receiving, join a receiver's --json report\n"
                                 "with the quillon-send --json summaries of its\n"
                                 "senders, read from the files (- is standard input)\n"
                                 "as kubectl logs gives them (--prefix, --timestamps\n"
                                 "and other lines are passed over), into a table per\n"
                                 "shard: sent, target reached, reconnects, unknown\n"
                                 "fate, received, lost, duplicates. Exit status 0 when\n"
                                 "every shard reconciles (all that was sent arrived, or\n"
                                 "is of unknown fate), 1 when one does not, 2 when no\n"
                                 "report or no summary was found. With --json: one\n"
                                 "JSON document",
                                 [&o](std::string_view value) -> Status {
                                     if (value.empty() || value.starts_with("--"))
                                         return Parser::Fail(
                                             "--merge needs the files of a run's logs, or - for standard input");
                                     o.mergeFiles.emplace_back(value);
                                     return {};
                                 }},
                            }});
    table.groups.push_back({FlagGroupId::Output,
                            "Output",
                            {
                                {"--output", "FILE",
                                 "write every message on a line of its own, with CR,\n"
                                 "LF, NUL and backslash as \\r \\n \\0 \\\\ (- is stdout),\n"
                                 "handed to the system at least every 100 ms",
                                 file(o.output, "--output needs a file name, or - for standard output")},
                                {"--raw", "", "with --output: the message bytes unchanged", set(o.raw)},
                                {"--json", "",
                                 "the summary as one JSON object, alone on standard\n"
                                 "output",
                                 set(o.json)},
                                {"--quiet", "",
                                 "no progress lines and no summary; with --json no\n"
                                 "listening line either, so that a log merging both\n"
                                 "streams (kubectl logs) holds the JSON summary alone",
                                 set(o.quiet)},
                                {"--progress", "",
                                 "a line each second on standard error: received,\n"
                                 "lost so far, rate (the default when standard error\n"
                                 "is a terminal)",
                                 set(o.progress)},
                                {"--stats-file", "FILE",
                                 "one JSON object per line each second: messages and\n"
                                 "bytes received in it, stamped messages, lost so far\n"
                                 "(gaps below each stream's highest number), open\n"
                                 "connections; between them, at most every 100 ms\n"
                                 "while messages arrive, a line \"interim\": true with\n"
                                 "the totals so far",
                                 file(o.statsFile, "--stats-file needs a file name")},
                                {"--max-gap", "N",
                                 "a stamp more than N above its stream's highest number\n"
                                 "(default 10000000) is a suspect jump: counted, not\n"
                                 "received, the numbers skipped not lost; eight close\n"
                                 "together move the stream on unless further than a\n"
                                 "sender goes in the time since its first stamp",
                                 [&o](std::string_view value) -> Status {
                                     const auto count = Count(value);
                                     if (!count || *count == 0)
                                         return Parser::Bad("--max-gap", value, "a positive whole number of messages");
                                     o.maxGap = *count;
                                     return {};
                                 }},
                                {"--max-streams", "N",
                                 "streams checked (default 100000; under ulimit -v as\n"
                                 "many as a quarter of the memory it leaves holds, at\n"
                                 "about 3 KB each): the stamps of more are counted,\n"
                                 "not checked, and fail the run",
                                 [&o](std::string_view value) -> Status {
                                     const auto count = InRange(value, 1, 100000000);
                                     if (!count)
                                         return Parser::Bad("--max-streams", value,
                                                            "a number of streams from 1 to 100000000");
                                     o.maxStreams = static_cast<std::size_t>(*count);
                                     return {};
                                 }},
                                {"--stamp-key", "FILE",
                                 "stamps must carry the MAC the secret in FILE makes\n"
                                 "(quillon-send --stamp-key FILE); others are counted\n"
                                 "as forged and left out of every other figure",
                                 [p](std::string_view value) -> Status {
                                     Result<StampKey> key = ReadStampKey(std::string(value));
                                     if (!key)
                                         return Parser::Fail("--stamp-key: " + key.Why());
                                     p->o.stampKey = std::move(*key);
                                     if (std::string exposed = StampKeyExposure(std::string(value)); !exposed.empty())
                                         p->result.warnings.push_back("--stamp-key: " + exposed);
                                     return {};
                                 }},
                                {"--allow-loss", "N", "exit 0 with up to N messages lost",
                                 [&o](std::string_view value) -> Status {
                                     const auto count = Count(value);
                                     if (!count)
                                         return Parser::Bad("--allow-loss", value, "a whole number of messages");
                                     o.allowLoss = *count;
                                     return {};
                                 }},
                                {"--allow-duplicates", "", "exit 0 with duplicates", set(o.allowDuplicates)},
                                HelpFlag([p] { p->result.action = RecvParseResult::Action::Help; }),
                                VersionFlag([p] { p->result.action = RecvParseResult::Action::Version; }),
                            }});
    table.groups.push_back(MetricsFlagGroup(o.metrics));
    table.epilogue = R"(Stamps: RFC 5424 [quillon@32473 run="R" stream="S" seq="N" t="US"], or the
token quillon=R:S:N:US at the end of an RFC 3164 message; keyed, with
mac="MAC" or :MAC after them. Stream S belongs to shard S / 1000000.

RELP: a message is acknowledged when its answer was handed to the system
for the client, after the message was checked and, with --output, written
to the file: an acknowledged message is in the file even if the receiver
is killed (JSON acknowledged, acknowledged_means). A session is no longer
read while 32 KiB of its answers wait untaken (counted, paused_sessions),
and --idle-timeout closes it. A malformed frame, one out of turn or one
over --max-frame ends its session, counted.

Exit status: 0 nothing lost or duplicated, 1 messages lost or duplicated,
suspect jumps, forged stamps, messages whose stamps could not be read, stamps not checked
(beyond --max-streams), messages skipped as longer than --max-frame, the
output file failed, or memory ran out (the summary still comes); 2 usage
error (including a port or file that cannot be opened or read). Failed TLS
handshakes and refused or closed connections are counted, and leave the
exit status alone.
)";
    table.examples = {
        {"Check 100,000 stamped messages over TCP, ending 10 s after the last",
         "quillon-recv --listen tcp --port 5515 --expect 100000 --idle 10"},
        {"Check the file a collector wrote", "quillon-recv --check-file /var/log/remote.log --expect 100000"},
        {"TLS with client certificates",
         "quillon-recv --listen tls --port 6514 --cert server.pem --key server.key --ca-file clients-ca.pem "
         "--require-client-cert"},
        {"RELP, every message acknowledged, with a JSON summary",
         "quillon-recv --listen relp --port 2514 --expect 100000 --idle 5 --json"},
        {"Merge the logs of a spread run into one row per shard", "quillon-recv --merge recv.log send.log"},
    };
    return table;
}

namespace {
// With --merge anywhere on the line, every argument that is no flag nor a
// flag's value is a file of the run's logs: "--merge A --json B" as
// "--merge A --json --merge B" ("-" alone is standard input).
std::vector<std::string> MergeFilesAsFlags(const FlagTable &table, const std::vector<std::string> &args)
{
    const bool merging = std::any_of(args.begin(), args.end(), [](const std::string &arg) {
        return arg == "--merge" || arg.starts_with("--merge=");
    });
    if (!merging)
        return args;
    std::set<std::string_view> taking;
    for (const FlagGroup &group : table.groups)
        for (const Flag &flag : group.flags)
            if (!flag.value.empty() && flag.name != "--merge")
                taking.insert(flag.name);
    std::vector<std::string> flags;
    bool value = false; // the argument is the previous flag's value
    bool files = false;
    for (const std::string &arg : args) {
        if (!value && (arg == "-" || !arg.starts_with('-'))) {
            flags.emplace_back("--merge");
            files = true;
        }
        if (arg != "--merge")
            flags.push_back(arg);
        files = files || arg.starts_with("--merge=");
        value = !value && taking.contains(arg);
    }
    // No file at all: the parser says what --merge needs.
    if (!files)
        flags.emplace_back("--merge=");
    return flags;
}
} // namespace

RecvParseResult ParseRecvCommandLine(const std::vector<std::string> &args, const RecvFlagNames &names)
{
    const auto parser = std::make_shared<RecvParser>(names);
    RecvParseResult &result = parser->result;
    Status parsed = ParseFlags(RecvFlags(parser), MergeFilesAsFlags(RecvFlags(parser), args));
    if (parsed && result.action == RecvParseResult::Action::Run)
        parsed = parser->Finish();
    if (!parsed) {
        result.action = RecvParseResult::Action::UsageError;
        result.error = parsed.Why();
    }
    return std::move(result);
}

FlagTable RecvFlagTable(const RecvFlagNames &names)
{
    return RecvFlags(std::make_shared<RecvParser>(names));
}

std::string RecvUsageText()
{
    return HelpText(RecvFlagTable());
}
