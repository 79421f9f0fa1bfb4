#include "cli/send/SendParser.h"

#include "cli/common/FlagValues.h"
#include "cli/send/LoadFlags.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"
#include "engine/StructuredData.h"
#include "engine/Vocabulary.h"
#include "transport/TlsSettingsStore.h"
#include "transport/TransportKind.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {
constexpr int MinDelayMs = 10;
constexpr int MaxDelayMs = 2000;
constexpr int MaxConnections = 100000;
constexpr int MaxThreads = 64;
constexpr std::array<TransportKind, 7> Transports = {
    TransportKind::Udp,     TransportKind::Tcp,       TransportKind::Tls,       TransportKind::Relp,
    TransportKind::RelpTls, TransportKind::UnixDgram, TransportKind::UnixStream};
// The flag's value in the help, which keeps the view the table holds.
const std::string TransportValue = TransportAlternatives(Transports);
// librelp takes no window below 2; a larger one than this only holds memory.
constexpr int MaxRelpWindow = 1000000;
// A day: longer waits are mistakes, and stay far from what a clock holds.
constexpr double MostWaitSeconds = 86400;
constexpr const char *SeeHelp = " (see quillon-send --help)";

using Parser = SendParser;
} // namespace

FlagTable SendFlags(const std::shared_ptr<SendParser> &p)
{
    using File = TlsSetupError::File;
    Options &o = p->o;
    const auto pace = [p](std::string_view flag, Pace chosen) {
        return [p, flag, chosen](std::string_view) { return p->SetPace(flag, chosen); };
    };
    const auto port = [](std::string_view flag, int &target) {
        return [flag, &target](std::string_view value) -> Status {
            const auto read = InRange(value, 1, 65535);
            if (!read)
                return Parser::Bad(flag, value, "a port number from 1 to 65535");
            target = *read;
            return {};
        };
    };
    const auto tlsFile = [p](std::string_view flag, File file, std::string TlsSettings::*field) {
        return
            [p, flag, file, field](std::string_view value) { return p->TlsFile(flag, value, file, p->o.tls.*field); };
    };
    const auto set = SetsTrue;

    FlagTable table;
    table.state = p;
    table.program = "quillon-send";
    table.summary = "Sends syslog messages over UDP, TCP, TLS, RELP or Unix sockets, as the Quillon window does.\n";
    table.seeHelp = SeeHelp;
    table.groups.push_back(
        {FlagGroupId::Target,
         "Target",
         {
             {"--target", "HOST",
              "host name or address (default 127.0.0.1); given\n"
              "again, one more target",
              [p](std::string_view value) -> Status {
                  p->NoteNetworkFlag("--target");
                  std::string target = TrimSpaces(value);
                  if (target.empty())
                      return Parser::Fail("--target: Please specify a valid target IP address or host name");
                  if (p->targetGiven) {
                      p->o.moreTargets.push_back(std::move(target));
                  } else {
                      p->o.target = std::move(target);
                      p->o.moreTargets.clear();
                  }
                  p->targetGiven = true;
                  return {};
              }},
             {"--port", "N[,N...]",
              "destination port, 1..65535 (default 514; RELP\n"
              "2514), or several: 514,515,516",
              [p](std::string_view value) -> Status {
                  p->NoteNetworkFlag("--port");
                  std::vector<int> ports;
                  for (std::size_t from = 0; from <= value.size();) {
                      const std::size_t comma = std::min(value.find(',', from), value.size());
                      const auto read = InRange(value.substr(from, comma - from), 1, 65535);
                      if (!read)
                          return Parser::Bad("--port", value,
                                             "a port number from 1 to 65535, or several separated by commas");
                      ports.push_back(*read);
                      from = comma + 1;
                  }
                  if (!p->portGiven) {
                      p->o.port = ports.front();
                      p->o.morePorts.clear();
                      ports.erase(ports.begin());
                  }
                  p->o.morePorts.insert(p->o.morePorts.end(), ports.begin(), ports.end());
                  p->portGiven = true;
                  return {};
              }},
             {"--transport", TransportValue,
              "syslog over UDP (default), over a TCP session, over\n"
              "TLS on a TCP session (see TLS below), over RELP\n"
              "(see RELP below), or to the Unix socket --socket\n"
              "names: one message per datagram, or a stream framed\n"
              "as TCP (--framing, default lf)",
              [&o](std::string_view value) -> Status {
                  const std::optional<TransportKind> kind = TransportNamed(value, Transports);
                  if (!kind)
                      return Parser::Bad("--transport", value, TransportList(Transports));
                  o.transport = *kind;
                  return {};
              },
              TransportChoices(Transports)},
             {"--source-port", "N", "fixed local port for TCP (default: the system picks)",
              p->Network("--source-port", port("--source-port", o.sourcePort))},
             {"--socket", "PATH",
              "the Unix socket to send to, with --transport\n"
              "unix-dgram or unix-stream (such as /dev/log)",
              [&o](std::string_view value) -> Status {
                  if (value.empty())
                      return Parser::Fail("--socket needs the path of a Unix socket");
                  o.socketPath = std::string(value);
                  return {};
              }},
         }});
    table.groups.push_back(ProxyFlagGroup(p));
    table.groups.push_back({FlagGroupId::Relp,
                            "RELP (librelp)",
                            {
                                {"--relp-window", "N",
                                 "RELP: messages sent but not yet acknowledged that\n"
                                 "a session may have in flight, 2..1000000 (default:\n"
                                 "librelp's, 128)",
                                 [p](std::string_view value) -> Status {
                                     const auto window = InRange(value, 2, MaxRelpWindow);
                                     if (!window)
                                         return Parser::Bad("--relp-window", value,
                                                            "a window from 2 to " + std::to_string(MaxRelpWindow));
                                     p->o.relpWindow = *window;
                                     p->relpWindowGiven = true;
                                     return {};
                                 }},
                            },
                            "  --transport relp-tls runs RELP over TLS with librelp's OpenSSL driver and\n"
                            "  the TLS flags below; librelp checks the server's name only when the\n"
                            "  client offers a certificate (--cert), and always checks its chain."});
    table.groups.push_back(PriorityFlagGroup(p));
    table.groups.push_back(MessageFlagGroup(p));
    table.groups.push_back(MessageFormatFlagGroup(p));
    table.groups.push_back(TemplateFlagGroup(p));
    table.groups.push_back({FlagGroupId::Tls,
                            "TLS (with --transport tls; RFC 5425)",
                            {
                                {"--ca-file", "FILE",
                                 "PEM file of the CAs that sign the server's\n"
                                 "certificate (default: the system's trusted CAs)",
                                 tlsFile("--ca-file", File::CaFile, &TlsSettings::caFile)},
                                {"--cert", "FILE", "client certificate (PEM) for a server that asks",
                                 tlsFile("--cert", File::Certificate, &TlsSettings::certFile)},
                                {"--key", "FILE",
                                 "its private key (PEM, no passphrase; default: the\n"
                                 "key in the --cert file)",
                                 tlsFile("--key", File::Key, &TlsSettings::keyFile)},
                                {"--server-name", "NAME",
                                 "the name the server's certificate must carry, also\n"
                                 "sent as SNI (default: the --target host)",
                                 [p](std::string_view value) -> Status {
                                     if (const std::string problem = CheckTlsServerName(value); !problem.empty())
                                         return Parser::Fail("--server-name: " + problem);
                                     p->o.tls.serverName = std::string(value);
                                     return Parser::Noted(p->tlsFlagsGiven, "--server-name", {});
                                 }},
                                {"--insecure", "",
                                 "accept any server certificate; says so on standard\n"
                                 "error each run",
                                 [p](std::string_view) {
                                     p->o.tls.verify = false;
                                     return Parser::Noted(p->tlsFlagsGiven, "--insecure", {});
                                 }},
                                {"--tls-min",
                                 "1.2|1.3",
                                 "the oldest TLS version accepted (default 1.2)",
                                 [p](std::string_view value) -> Status {
                                     const auto version = TlsVersionFromText(value);
                                     if (!version)
                                         return Parser::Bad("--tls-min", value, "1.2 or 1.3");
                                     p->o.tls.minVersion = *version;
                                     return Parser::Noted(p->tlsFlagsGiven, "--tls-min", {});
                                 },
                                 {"1.2", "1.3"}},
                            },
                            "  The server's certificate and name are verified unless --insecure is given."});
    table.groups.push_back(
        {FlagGroupId::Sending,
         "Sending (one of)",
         {
             {"--once", "", "one message (default)", pace("--once", Pace::Once)},
             {"--every-second", "", "one message a second", pace("--every-second", Pace::EverySecond)},
             {"--every-minute", "", "one message a minute", pace("--every-minute", Pace::EveryMinute)},
             {"--continuous", "MS", "one message every MS milliseconds, 10..2000",
              [p](std::string_view value) -> Status {
                  const auto delay = InRange(value, MinDelayMs, MaxDelayMs);
                  if (!delay)
                      return Parser::Bad("--continuous", value, "a delay from 10 to 2000 ms");
                  p->o.continuousMs = *delay;
                  return p->SetPace("--continuous", Pace::Continuous);
              }},
             {"--burst",
              "100|500",
              "a burst every 10 seconds",
              [p](std::string_view value) -> Status {
                  const auto size = WholeNumber(value);
                  if (!size || (*size != 100 && *size != 500))
                      return Parser::Bad("--burst", value, "100 or 500");
                  p->o.burstSize = static_cast<int>(*size);
                  return p->SetPace("--burst", Pace::Burst);
              },
              {"100", "500"}},
             {"--rate", "R", "R messages per second",
              [p](std::string_view value) -> Status {
                  const auto rate = PositiveNumber(value);
                  if (!rate)
                      return Parser::Bad("--rate", value, "a positive number of messages per second");
                  p->o.shape = LoadShape::Constant(*rate);
                  return p->SetPace("--rate", Pace::Rate);
              }},
             {"--ramp", "FROM:TO:S",
              "from FROM to TO messages per second over S seconds,\n"
              "then TO (a rate may be 0)",
              [p](std::string_view value) -> Status {
                  auto ramp = ReadRamp(value);
                  if (const auto *problem = std::get_if<std::string>(&ramp))
                      return Parser::Fail("--ramp: " + *problem);
                  p->o.shape = std::get<LoadShape>(std::move(ramp));
                  return p->SetPace("--ramp", Pace::Rate);
              }},
             {"--steps", "R1xS1,R2xS2,...",
              "R1 messages per second for S1 seconds, then R2 ...;\n"
              "ends after the last step unless --count or\n"
              "--duration is given, then holds the last rate",
              [p](std::string_view value) -> Status {
                  auto read = ReadSteps(value);
                  if (const auto *problem = std::get_if<std::string>(&read))
                      return Parser::Fail("--steps: " + *problem);
                  // Whether the last step holds is known once every flag is read.
                  p->steps = std::get<std::vector<LoadShape::Step>>(std::move(read));
                  return p->SetPace("--steps", Pace::Rate);
              }},
             {"--unlimited", "", "as fast as the machine goes", pace("--unlimited", Pace::Unlimited)},
             {"--poisson", "",
              "with --rate, --ramp or --steps: random (exponential)\n"
              "gaps around the rate; repeatable with --seed",
              set(o.poisson)},
             {"--count", "N",
              "stop after N messages (skipped ones included);\n"
              "without a send option, send N as fast as the\n"
              "target takes them (as --unlimited)",
              [p](std::string_view value) -> Status {
                  const auto count = WholeNumber(value);
                  if (!count || *count <= 0)
                      return Parser::Bad("--count", value, "a positive whole number");
                  p->o.count = *count;
                  p->countOrDurationGiven = true;
                  return {};
              }},
             {"--duration", "S",
              "stop after S seconds, connecting and handshakes\n"
              "included",
              [p](std::string_view value) -> Status {
                  const auto seconds = PositiveNumber(value);
                  if (!seconds)
                      return Parser::Bad("--duration", value, "a positive number of seconds");
                  p->o.duration = *seconds;
                  p->countOrDurationGiven = true;
                  return {};
              }},
             {"--no-catch-up", "",
              "after an outage or a stall, skip the messages whose\n"
              "time passed (counted as skipped) instead of sending\n"
              "them late in a burst",
              set(o.noCatchUp)},
             {"--drain-timeout", "S",
              "at the end, how long the sessions' unsent bytes may\n"
              "take to go (default 2; 0 gives them up)",
              [&o](std::string_view value) -> Status {
                  // 0: what the system has not taken at the end is given up at once.
                  const auto seconds = WholeNumber(value) == 0 ? std::optional<double>(0) : PositiveNumber(value);
                  if (!seconds || *seconds > MostWaitSeconds)
                      return Parser::Bad("--drain-timeout", value, "a number of seconds from 0 to 86400");
                  o.drainTimeout = *seconds;
                  return {};
              }},
         },
         "  Ctrl-C, SIGTERM and SIGHUP stop within a second, drain as above and print\n"
         "  the summary."});
    table.groups.push_back(ReplayFlagGroup(p));
    table.groups.push_back({FlagGroupId::Stamps,
                            "Delivery stamps (checked by quillon-recv)",
                            {
                                {"--stamp", "",
                                 "stamp every message with the run id, stream 1 (with\n"
                                 "--shard I/N stream I*1000000+1), a\n"
                                 "sequence number from 1 and the send time in\n"
                                 "microseconds: RFC 3164 ends the message with\n"
                                 "\" quillon=RUN:STREAM:SEQ:TIME\", RFC 5424 adds the SD\n"
                                 "element [quillon@32473 run=\"..\" stream=\"..\" seq=\"..\"\n"
                                 "t=\"..\"]; \"HEX=\" packets are sent unstamped",
                                 set(o.stamp)},
                                {"--run-id", "ID",
                                 "the run id, 1 to 16 of A-Z a-z 0-9 _ - (default: a\n"
                                 "random one per run, named in the summary)",
                                 [&o](std::string_view value) -> Status {
                                     if (!IsValidRunId(value))
                                         return Parser::Bad("--run-id", value,
                                                            "a run id of 1 to 16 letters, digits, '_' or '-'");
                                     o.runId = std::string(value);
                                     return {};
                                 }},
                                {"--stamp-key", "FILE",
                                 "key the stamps with the secret in FILE (16 to 4096\n"
                                 "bytes, the same file quillon-recv --stamp-key reads):\n"
                                 "each carries a MAC of its run, stream, number and\n"
                                 "time, \":MAC\" after the token or mac=\"..\" in the\n"
                                 "element, so stamps a peer forged are told apart",
                                 [&o](std::string_view value) -> Status {
                                     Result<StampKey> key = ReadStampKey(std::string(value));
                                     if (!key)
                                         return Parser::Fail("--stamp-key: " + key.Why());
                                     o.stampKey = std::move(*key);
                                     return {};
                                 }},
                            },
                            "  With several connections or threads each connection (over UDP each\n"
                            "  thread, and each target and port of it) is a stream of its own,\n"
                            "  numbered from 1."});
    table.groups.push_back({FlagGroupId::Spread,
                            "Runs spread over several senders",
                            {
                                {"--shard", "I/N",
                                 "this sender is shard I (0..N-1) of N: it sends 1/N of\n"
                                 "the rate and of each --ramp or --steps rate, and\n"
                                 "stamps streams no other shard uses; --count and\n"
                                 "--duration stay this process's",
                                 [&o](std::string_view value) -> Status {
                                     auto shard = ReadShard(value, std::getenv(Shard::IndexVariable));
                                     if (const auto *problem = std::get_if<std::string>(&shard))
                                         return Parser::Fail("--shard " + std::string(value) + ": " + *problem);
                                     o.shard = std::get<Shard>(shard);
                                     return {};
                                 }},
                            },
                            "  --shard auto/N         I from JOB_COMPLETION_INDEX (set by an Indexed Job)"});
    table.groups.push_back(
        {FlagGroupId::Load,
         "Load",
         {
             {"--connections", "N",
              "TCP and TLS: N sessions, 1..100000, dealt to the\n"
              "targets and ports in turn, opened at start (64\n"
              "connects or handshakes at a time); messages go to\n"
              "them in turn (default: one per thread for each\n"
              "target and port)",
              [&o](std::string_view value) -> Status {
                  const auto count = InRange(value, 1, MaxConnections);
                  if (!count)
                      return Parser::Bad("--connections", value,
                                         "a number of connections from 1 to " + std::to_string(MaxConnections));
                  o.connections = *count;
                  return {};
              }},
             {"--threads", "T",
              "T sending threads, 1..64, each with its own sockets\n"
              "and its own share of the rate and the connections;\n"
              "needs --rate, --unlimited or --replay (its lines\n"
              "dealt in turn). A thread's random choices start\n"
              "from a value made from --seed (or the usual start)\n"
              "and its number, so runs repeat",
              [&o](std::string_view value) -> Status {
                  const auto count = InRange(value, 1, MaxThreads);
                  if (!count)
                      return Parser::Bad("--threads", value,
                                         "a number of threads from 1 to " + std::to_string(MaxThreads));
                  o.threads = *count;
                  return {};
              }},
             {"--reconnect", "",
              "TCP and TLS: open a session the receiver ends,\n"
              "resets or refuses again, after 50 ms, then twice as\n"
              "long after each failure up to 2 s; its stream goes\n"
              "on. Failures are named on standard error as they\n"
              "happen (a line a second at most). The messages\n"
              "whose bytes the receiver's system had not\n"
              "acknowledged when the session broke are counted\n"
              "as unacknowledged (unknown_fate), per connection\n"
              "and in all (with TLS estimated from the record\n"
              "bytes); a receiver that dies with acknowledged but\n"
              "unread bytes loses more, which only quillon-recv\n"
              "sees",
              set(o.reconnect)},
             {"--idle-connections", "N",
              "TCP and TLS: N more sessions, 1..100000, opened at\n"
              "start beside the sending ones and held to the end\n"
              "without a byte, to load the receiver's connection\n"
              "handling (opened again with --reconnect)",
              [&o](std::string_view value) -> Status {
                  const auto count = InRange(value, 1, MaxConnections);
                  if (!count)
                      return Parser::Bad("--idle-connections", value,
                                         "a number of connections from 1 to " + std::to_string(MaxConnections));
                  o.idleConnections = *count;
                  return {};
              }},
             {"--drop-connections", "P",
              "TCP and TLS: after each batch a session carried,\n"
              "close it and open it again with probability P (0..1,\n"
              "drawn from the random choices, so --seed repeats\n"
              "it); what it had sent is given its time to go\n"
              "first, and its stamp stream goes on",
              [&o](std::string_view value) -> Status {
                  const auto chance = WholeNumber(value) == 0 ? std::optional<double>(0) : PositiveNumber(value);
                  if (!chance || *chance > 1)
                      return Parser::Bad("--drop-connections", value, "a probability from 0 to 1");
                  o.dropChance = *chance;
                  return {};
              }},
             {"--connect-timeout", "S",
              "TCP and TLS: the limit of each connect and\n"
              "handshake, and the run fails when no session has\n"
              "been up for S seconds (default 10)",
              [&o](std::string_view value) -> Status {
                  const auto seconds = PositiveNumber(value);
                  if (!seconds || *seconds > MostWaitSeconds)
                      return Parser::Bad("--connect-timeout", value, "a number of seconds above 0, at most 86400");
                  o.connectTimeout = *seconds;
                  return {};
              }},
         }});
    table.groups.push_back({FlagGroupId::SettingsAndOutput,
                            "Settings and output",
                            {
                                {"--from-settings", "",
                                 "start from the window's saved settings (the defaults\n"
                                 "when there are none), then apply the flags",
                                 [p](std::string_view) {
                                     p->result.fromSettings = true;
                                     return Status{};
                                 }},
                                {"--quiet", "", "no progress lines and no summary", set(o.quiet)},
                                {"--progress", "",
                                 "a line each second on standard error: time (of\n"
                                 "--duration), sent, failed, rate achieved and asked\n"
                                 "(the default when standard error is a terminal)",
                                 set(o.progress)},
                                {"--json", "",
                                 "the summary as one JSON object;\n"
                                 "bytes of a text that are not UTF-8 show as \\xHH",
                                 set(o.json)},
                                {"--stats-file", "FILE",
                                 "one JSON object per line each second: time, target\n"
                                 "rate, sent, failed, unknown fate, open connections,\n"
                                 "seconds blocked by a full socket, the sending\n"
                                 "thread's processor share",
                                 [&o](std::string_view value) -> Status {
                                     if (value.empty())
                                         return Parser::Fail("--stats-file needs a file name");
                                     o.statsFile = std::string(value);
                                     return {};
                                 }},
                                HelpFlag([p] { p->result.action = ParseResult::Action::Help; }),
                                VersionFlag([p] { p->result.action = ParseResult::Action::Version; }),
                            }});
    table.groups.push_back(MetricsFlagGroup(p->result.metrics));
    table.epilogue = R"(The summary gives an average rate for runs of more than one message that
last at least a second; over whole seconds whether the target rate was
reached (99% of it) and, from two on, the standard deviation of the rate per
second about the target, and whether the sender itself held the rate back
(its thread at a full core while behind); messages sent late (more than
0.1 s after their time) or skipped; a connection that lost a session gets a
line of its own, and so does each target and port when there are several. Over UDP, datagrams that come back refused (nothing
listens on the port) or undeliverable are counted as refused. Over streams
(TCP, TLS, Unix), messages still waiting in this side's queue at the end
(the receiver stopped reading) are of unknown fate, not sent; a RELP run of
which nothing was acknowledged says so first.

Exit status: 0 all sent, 1 sending failed (a failed TLS handshake, no
session up, nothing sent, bytes left at the end too) or datagrams were
refused, 2 usage error (a file that cannot be used too, and --connections
beyond the open files this process may have).
)";
    table.examples = {
        {"Ten messages to a collector on this machine, over UDP",
         "quillon-send --target 127.0.0.1 --port 5514 --count 10"},
        {"100,000 stamped messages at 20,000 a second over TCP, for quillon-recv to check",
         "quillon-send --transport tcp --port 5515 --stamp --rate 20000 --count 100000"},
        {"A minute of CEF records of a network sensor (--pack list shows the others)",
         "quillon-send --transport tcp --port 5514 --pack cef --rate 5000 --duration 60 --stamp"},
        {"A log file replayed ten times faster than it was written",
         "quillon-send --transport tcp --port 5514 --replay app.log --speed 10"},
        {"RFC 5424 over TLS, the server checked against a CA file",
         "quillon-send --transport tls --target localhost --port 6514 --ca-file ca.pem --format rfc5424"},
        {"1,000 connections from two threads, octet counted",
         "quillon-send --transport tcp --port 5514 --framing octet-count --connections 1000 --threads 2 --rate 50000 "
         "--duration 60"},
    };
    return table;
}
