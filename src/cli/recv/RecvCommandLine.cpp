#include "cli/recv/RecvCommandLine.h"

#include "cli/common/FlagValues.h"
#include "common/TextHelpers.h"
#include "engine/Framing.h"

#include <optional>
#include <string_view>

namespace {
constexpr std::int64_t MaxFrameLimit = 64 << 20;
constexpr std::int64_t MaxBufferedLimit = std::int64_t{1} << 40;
constexpr double MaxHandshakeSeconds = 3600;

// A count of messages: whole and not negative.
std::optional<std::uint64_t> Count(std::string_view text)
{
    const auto value = WholeNumber(text);
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(*value);
}

struct Parser {
    RecvParseResult result;
    RecvOptions &o = result.options;
    std::string listenFlag;
    std::string tlsFlag;

    bool Fail(std::string text)
    {
        result.action = RecvParseResult::Action::UsageError;
        result.error = std::move(text);
        return false;
    }

    bool Bad(std::string_view flag, std::string_view value, std::string_view wanted)
    {
        return Fail(std::string(flag) + ": " + Quoted(value) + " is not " + std::string(wanted));
    }

    void Listening(std::string_view flag)
    {
        if (listenFlag.empty())
            listenFlag = flag;
    }

    void TlsFlag(std::string_view flag)
    {
        if (tlsFlag.empty())
            tlsFlag = flag;
    }

    bool Switch(std::string_view flag)
    {
        if (flag == "--help" || flag == "-h") {
            result.action = RecvParseResult::Action::Help;
        } else if (flag == "--version") {
            result.action = RecvParseResult::Action::Version;
        } else if (flag == "--raw") {
            o.raw = true;
        } else if (flag == "--json") {
            o.json = true;
        } else if (flag == "--quiet") {
            o.quiet = true;
        } else if (flag == "--allow-duplicates") {
            o.allowDuplicates = true;
        } else if (flag == "--require-client-cert") {
            o.requireClientCert = true;
            Listening(flag);
            TlsFlag(flag);
        } else {
            return Fail("unknown flag " + std::string(flag));
        }
        return true;
    }

    bool Valued(std::string_view flag, std::string_view value)
    {
        if (flag == "--listen") {
            const std::string lower = ToLowerAscii(value);
            if (lower != "udp" && lower != "tcp" && lower != "tls")
                return Bad(flag, value, "udp, tcp or tls");
            o.tcp = lower != "udp";
            o.tls = lower == "tls";
            Listening(flag);
        } else if (flag == "--cert" || flag == "--key" || flag == "--ca-file") {
            if (value.empty())
                return Fail(std::string(flag) + " needs a file name");
            (flag == "--cert" ? o.certFile : flag == "--key" ? o.keyFile : o.caFile) = std::string(value);
            Listening(flag);
            TlsFlag(flag);
        } else if (flag == "--handshake-timeout") {
            const auto seconds = PositiveNumber(value);
            if (!seconds || *seconds > MaxHandshakeSeconds)
                return Bad(flag, value, "a positive number of seconds up to 3600");
            o.handshakeTimeout = *seconds;
            Listening(flag);
            TlsFlag(flag);
        } else if (flag == "--port") {
            const auto port = InRange(value, 0, 65535);
            if (!port)
                return Bad(flag, value, "a port number from 0 to 65535 (0 picks a free one)");
            o.port = *port;
            Listening(flag);
        } else if (flag == "--bind") {
            if (value.empty())
                return Fail("--bind needs an IPv4 or IPv6 address");
            o.bind = std::string(value);
            Listening(flag);
        } else if (flag == "--framing") {
            const auto framing = ReadStreamFraming(value);
            if (!framing)
                return Bad(flag, value, "auto, octet-count, lf, crlf or nul");
            o.framing = *framing;
            Listening(flag);
        } else if (flag == "--expect") {
            const auto count = Count(value);
            if (!count || *count == 0)
                return Bad(flag, value, "a positive whole number of messages");
            o.expect = *count;
        } else if (flag == "--duration" || flag == "--idle") {
            const auto seconds = PositiveNumber(value);
            if (!seconds)
                return Bad(flag, value, "a positive number of seconds");
            (flag == "--idle" ? o.idle : o.duration) = *seconds;
        } else if (flag == "--output") {
            if (value.empty())
                return Fail("--output needs a file name, or - for standard output");
            o.output = std::string(value);
        } else if (flag == "--stats-file") {
            if (value.empty())
                return Fail("--stats-file needs a file name");
            o.statsFile = std::string(value);
        } else if (flag == "--check-file") {
            if (value.empty())
                return Fail("--check-file needs a file name, or - for standard input");
            o.checkFile = std::string(value);
        } else if (flag == "--allow-loss") {
            const auto count = Count(value);
            if (!count)
                return Bad(flag, value, "a whole number of messages");
            o.allowLoss = *count;
        } else if (flag == "--max-frame") {
            const auto bytes = InRange(value, 16, MaxFrameLimit);
            if (!bytes)
                return Bad(flag, value, "a size in bytes from 16 to 67108864");
            o.maxFrame = static_cast<std::size_t>(*bytes);
        } else if (flag == "--max-connections") {
            const auto count = InRange(value, 1, 1000000);
            if (!count)
                return Bad(flag, value, "a number of connections from 1 to 1000000");
            o.maxConnections = static_cast<std::size_t>(*count);
        } else if (flag == "--max-gap") {
            const auto count = Count(value);
            if (!count || *count == 0)
                return Bad(flag, value, "a positive whole number of messages");
            o.maxGap = *count;
        } else if (flag == "--idle-timeout") {
            const auto seconds = PositiveNumber(value);
            if (!seconds)
                return Bad(flag, value, "a positive number of seconds");
            o.idleTimeout = *seconds;
            Listening(flag);
        } else if (flag == "--max-buffered") {
            const auto bytes = InRange(value, 65536, MaxBufferedLimit);
            if (!bytes)
                return Bad(flag, value, "a size in bytes from 65536 to 1099511627776");
            o.maxBuffered = static_cast<std::size_t>(*bytes);
            Listening(flag);
        } else {
            return Fail("unknown flag " + std::string(flag));
        }
        return true;
    }

    bool Finish()
    {
        if (!tlsFlag.empty() && !o.tls)
            return Fail(tlsFlag + " needs --listen tls");
        if (o.tls && o.certFile.empty())
            return Fail("--listen tls needs --cert FILE, the receiver's certificate (PEM)");
        if (o.requireClientCert && o.caFile.empty())
            return Fail("--require-client-cert needs --ca-file FILE to check client certificates against");
        if (o.raw && o.output.empty())
            return Fail("--raw needs --output FILE");
        if (!o.checkFile.empty() && !listenFlag.empty())
            return Fail("--check-file reads a file: " + listenFlag + " cannot be combined with it");
        if (!o.checkFile.empty() && (o.duration > 0 || o.idle > 0))
            return Fail("--check-file reads the file to its end: --duration and --idle cannot be combined with it");
        if (!o.statsFile.empty() && !o.checkFile.empty())
            return Fail("--stats-file records each second of listening: --check-file cannot be combined with it");
        if (o.checkFile == "-" && o.output == "-")
            return Fail("--output - and --check-file - cannot both use the terminal");
        if (o.json && o.output == "-")
            return Fail("--output - cannot be combined with --json: standard output holds the JSON summary");
        if (o.maxBuffered < o.maxFrame)
            return Fail("--max-buffered must be at least --max-frame (" + std::to_string(o.maxFrame) + " bytes)");
        return true;
    }
};

bool TakesValue(std::string_view flag)
{
    static constexpr std::string_view Valued[] = {
        "--listen",       "--port",        "--bind",       "--framing",           "--expect",     "--duration",
        "--idle",         "--output",      "--check-file", "--allow-loss",        "--max-frame",  "--max-connections",
        "--cert",         "--key",         "--ca-file",    "--handshake-timeout", "--stats-file", "--max-gap",
        "--idle-timeout", "--max-buffered"};
    for (std::string_view name : Valued)
        if (name == flag)
            return true;
    return false;
}
} // namespace

std::optional<StreamFraming> ReadStreamFraming(std::string_view name)
{
    if (ToLowerAscii(name) == "auto")
        return StreamFraming::Auto;
    // The sender's names; "none" cannot be split.
    switch (ParseFraming(name).value_or(Framing::None)) {
    case Framing::OctetCount:
        return StreamFraming::OctetCount;
    case Framing::Lf:
        return StreamFraming::Lf;
    case Framing::CrLf:
        return StreamFraming::CrLf;
    case Framing::Nul:
        return StreamFraming::Nul;
    case Framing::None:
        break;
    }
    return std::nullopt;
}

RecvParseResult ParseRecvCommandLine(const std::vector<std::string> &args)
{
    Parser parser;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string_view flag = arg.substr(0, equals);
        bool ok = true;
        if (arg.size() < 2 || arg[0] != '-')
            ok = parser.Fail("unexpected argument " + Quoted(arg));
        else if (!TakesValue(flag))
            ok = equals == std::string_view::npos ? parser.Switch(flag)
                                                  : parser.Fail(std::string(flag) + " takes no value");
        else if (equals != std::string_view::npos)
            ok = parser.Valued(flag, arg.substr(equals + 1));
        else if (i + 1 < args.size())
            ok = parser.Valued(flag, args[++i]);
        else
            ok = parser.Fail(std::string(flag) + " needs a value");
        if (!ok)
            return parser.result;
    }
    if (parser.result.action == RecvParseResult::Action::Run)
        parser.Finish();
    return parser.result;
}

std::string RecvUsageText()
{
    return R"usage(Usage: quillon-recv [options]
Receives syslog messages and checks the delivery stamps quillon-send --stamp
puts on them: per run and stream, what was received, lost, duplicated or out
of order, and how late it came.

Listening
  --listen udp|tcp|tls   UDP datagrams (default), TCP connections, or TLS
                         sessions over TCP
  --port N               port to listen on (default 514); 0 picks a free one.
                         The first line printed is "listening on udp ADDR:PORT"
                         (with --json on standard error).
  --bind ADDR            IPv4 or IPv6 address to listen on (default 0.0.0.0)
  --framing MODE         TCP and TLS framing: auto (default: a connection
                         starting with a digit is octet counted; one whose
                         first record ends in NUL is NUL framed; else LF,
                         CR LF or NUL ends a message), octet-count, lf, crlf
                         or nul
  --max-frame BYTES      longest message taken over TCP (default 65536); longer
                         ones are counted and skipped
  --max-connections N    connections open at once (default 10000); more are
                         refused and counted
  --idle-timeout S       close a connection that sends nothing for S seconds
                         (default 300), counted
  --max-buffered BYTES   parts of messages held over all connections (default
                         268435456); past it the connection holding the most
                         is dropped and counted

TLS (with --listen tls)
  --cert FILE            the receiver's certificate (PEM, then its chain)
  --key FILE             its private key (PEM; default: in the --cert file)
  --ca-file FILE         CAs (PEM) that client certificates are checked against
  --require-client-cert  refuse clients without a certificate from --ca-file
  --handshake-timeout S  drop a session whose handshake takes longer (default
                         10); failed handshakes are counted, others go on

Ending (Ctrl-C also ends the run with the summary)
  --expect N             end when N stamped messages have arrived; those that
                         never arrive count as lost
  --duration S           end after S seconds
  --idle S               end after S seconds without a message

Checking a file instead
  --check-file FILE      check the stamps in a file a syslog daemon wrote, one
                         message per line (- reads standard input). Its
                         template must keep the stamp: RFC 5424 structured
                         data is dropped by the traditional file formats,
                         RFC 3164 tokens survive.

Output
  --output FILE          write every message on a line of its own, with CR,
                         LF, NUL and backslash as \r \n \0 \\ (- is stdout),
                         handed to the system at least every 100 ms
  --raw                  with --output: the message bytes unchanged
  --json                 the summary as one JSON object, alone on standard
                         output (no progress lines)
  --quiet                no progress lines and no summary
  --stats-file FILE      one JSON object per line each second: messages and
                         bytes received in it, stamped messages, lost so far
                         (gaps below each stream's highest number), open
                         connections; between them, at most every 100 ms
                         while messages arrive, a line "interim": true with
                         the totals so far
  --max-gap N            a stamp more than N above its stream's highest number
                         (default 10000000) is a suspect jump: counted, not
                         received, the numbers skipped not lost
  --allow-loss N         exit 0 with up to N messages lost
  --allow-duplicates     exit 0 with duplicates
  --help, --version

Stamps: RFC 5424 [quillon@32473 run="R" stream="S" seq="N" t="US"], or the
token quillon=R:S:N:US at the end of an RFC 3164 message. Stream S belongs
to shard S / 1000000.

Exit status: 0 nothing lost or duplicated, 1 messages lost or duplicated,
suspect jumps, messages whose stamps could not be read, or the output file
failed; 2 usage error (including a port or file that cannot be opened or
read). Failed TLS handshakes and refused or closed connections are counted,
and leave the exit status alone.
)usage";
}
