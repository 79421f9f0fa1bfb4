#include "cli/send/CommandLine.h"
#include "common/Random.h"
#include "load/PacketStream.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace {
using Args = std::vector<std::string>;

ParseResult Parse(const Args &args)
{
    return ParseCommandLine(args);
}

TEST(CommandLine, NamesNumbersAndRandomSelectListEntries)
{
    const std::tuple<Args, int, int> cases[] = {
        {{"--facility", "kernel", "--level", "EMERGENCY"}, 0, 0},
        {{"--facility", "FTP Daemon", "--level", "information"}, 11, 6},
        {{"--facility=ftp-daemon", "--level=Debug"}, 11, 7},
        {{"--facility", "23", "--level", "7"}, 23, 7},
        {{"--facility", "random", "--level", "RANDOM"}, 24, 8},
        {{"--facility", "kern", "--level", "panic"}, 0, 0},
        {{"--facility", "authpriv", "--level", "crit"}, 10, 2},
        {{"--facility", "ftp", "--level", "err"}, 11, 3},
        {{"--facility", "local7", "--level", "warn"}, 23, 4},
        {{"--level", "info"}, 1, 6},
        {{}, 1, 5},
    };
    for (const auto &[args, facility, level] : cases) {
        const ParseResult result = Parse(args);
        ASSERT_EQ(result.action, ParseResult::Action::Run) << result.error;
        EXPECT_EQ(result.options.facilityIndex, facility) << args.size();
        EXPECT_EQ(result.options.levelIndex, level) << args.size();
    }
}

TEST(CommandLine, PriorityIsANumberOrFacilityDotLevel)
{
    for (const auto &[text, priority] :
         {std::pair{"13", 13}, {"local0.info", 134}, {"kern.emerg", 0}, {"1.warn", 12}}) {
        const ParseResult result = Parse({"--priority", text});
        ASSERT_EQ(result.action, ParseResult::Action::Run) << result.error;
        EXPECT_TRUE(result.options.usePriority);
        EXPECT_EQ(result.options.priority, priority) << text;
    }
}

TEST(CommandLine, BadValuesNameTheFlagAndTheValue)
{
    const std::pair<Args, std::string> cases[] = {
        {{"--port", "70000"}, "--port: '70000' is not a port number from 1 to 65535"},
        {{"--transport", "sctp"},
         "--transport: 'sctp' is not udp, tcp, tls, relp, relp-tls, unix-dgram or unix-stream"},
        {{"--transport", "unix-dgram", "--socket", "/dev/log", "--port", "5", "--target", "h"},
         "--port, --target do not apply to --transport unix-dgram: the socket is named by --socket PATH"},
        {{"--transport", "unix-stream", "--source-port", "5"}, "--source-port does not apply to --transport unix"},
        {{"--transport", "unix-stream"}, "--transport unix-stream needs --socket PATH"},
        {{"--socket", "/dev/log", "--transport", "tcp"}, "--socket names a Unix socket: add --transport unix-dgram"},
        {{"--tls-min", "1.1"}, "--tls-min: '1.1' is not 1.2 or 1.3"},
        {{"--server-name", "my host"}, "--server-name: the server name 'my host' contains a space"},
        {{"--ca-file="}, "--ca-file needs a file name"},
        {{"--transport", "tls", "--key", "k.pem"}, "--key: the key k.pem needs its certificate: add --cert FILE"},
        {{"--priority", "12.5"}, "--priority: '12.5' is not a priority from 0 to 255, or FACILITY.LEVEL"},
        {{"--priority", "local8.info"},
         "--priority: 'local8.info' is not a priority from 0 to 255, or FACILITY.LEVEL such as local0.info (facility: "
         "kern, kernel, user,"},
        {{"--level", "inf"}, "--level: 'inf' is not a level: emerg, panic, emergency, alert, crit, critical, err"},
        {{"--facility", "lokal0"}, "--facility: 'lokal0' is not a facility: kern, kernel, user,"},
        {{"--continuous", "9"}, "--continuous: '9' is not a delay from 10 to 2000 ms"},
        {{"--burst", "200"}, "--burst: '200' is not 100 or 500"},
        {{"--unlimited", "--count", "-5"}, "--count: '-5' is not a positive whole number"},
        {{"--port"}, "--port needs a value"},
        {{"--seed", "-1"}, "--seed: '-1' is not a whole number from 0 to 18446744073709551615"},
        {{"--foo"}, "unknown flag --foo (see quillon-send --help)"},
        {{"--crlf=1"}, "--crlf takes no value"},
        {{"514"}, "unexpected argument '514' (see quillon-send --help)"},
        {{"--rate", "10", "--unlimited"}, "--rate and --unlimited cannot be combined"},
        {{"--priority", "13", "--level", "notice"}, "--priority cannot be combined with --facility or --level"},
        {{"--port", "514", "--source-port", "514"}, "--source-port: Sorry, Source and Destination ports must not"},
        {{"--stamp", "--run-id", "run id"}, "--run-id: 'run id' is not a run id of 1 to 16 letters"},
        {{"--run-id", "r1"}, "--run-id names the stamps of a run: add --stamp"},
        {{"--replay-lines", "both"}, "--replay-lines: 'both' is not joined or separate"},
        {{"--tag", "my app"}, "--tag: 'my app' is not a name without spaces, ':', '[' or ']'"},
        {{"--stamp", "--template", "<a>${ip}</a>"}, "--stamp: the template ends in a closing bracket"},
        {{"--stamp", "--format", "rfc5424", "--sd", "[quillon@32473 run=\"r\"]"},
         "--sd: the element quillon@32473 is the one --stamp adds"},
        {{"--message", "From a Ethereal capture file"},
         "--message \"From a Ethereal capture file\" needs --source-file"},
        {{"--format", "rfc5425"}, "--format: 'rfc5425' is not rfc3164 or rfc5424"},
        {{"--framing", "octet"}, "--framing: 'octet' is not none, lf, crlf, nul or octet-count"},
        {{"--hostname", "my host"}, "--hostname: HOSTNAME 'my host' contains a space"},
        {{"--procid", ""}, "--procid: PROCID is empty; \"-\" stands for no value"},
        {{"--sd", "[a]", "--sd", "[b]", "--sd", "[a x=\"1\"]"},
         "--sd: SD-ID 'a' is given twice; each SD element needs its own SD-ID"},
        {{"--connections", "0"}, "--connections: '0' is not a number of connections from 1 to 100000"},
        {{"--threads", "65"}, "--threads: '65' is not a number of threads from 1 to 64"},
        {{"--connections", "4", "--rate", "10"}, "--connections applies to TCP and TLS: add --transport tcp"},
        {{"--transport", "tcp", "--connections", "2", "--threads", "3", "--unlimited"},
         "--threads 3 needs at least as many --connections"},
        {{"--threads", "2", "--every-second"}, "--threads shares a rate among the threads: add --rate R"},
        {{"--transport", "tls", "--threads", "2", "--rate", "5", "--source-port", "2000"},
         "--source-port: one local port serves one connection"},
        {{"--connect-timeout", "0"}, "--connect-timeout: '0' is not a number of seconds above 0, at most 86400"},
        {{"--drain-timeout", "-1"}, "--drain-timeout: '-1' is not a number of seconds from 0 to 86400"},
        {{"--drain-timeout", "1e9"}, "--drain-timeout: '1e9' is not a number of seconds from 0 to 86400"},
        {{"--size", "0"}, "--size: '0' is not a size in bytes from 1 to 1048576, or MIN:MAX with MIN at most MAX"},
        {{"--size", "90:80"}, "--size: '90:80' is not a size in bytes"},
        {{"--size", "80:"}, "--size: '80:' is not a size in bytes"},
        {{"--size", "1:1048577"}, "--size: '1:1048577' is not a size in bytes"},
        {{"--size", "100", "--oversize"}, "--size and --oversize both set the message size"},
        {{"--idle-connections", "3"}, "--idle-connections applies to TCP and TLS: add --transport tcp"},
        {{"--drop-connections", "0.5"}, "--drop-connections applies to TCP and TLS: add --transport tcp"},
        {{"--transport", "tcp", "--drop-connections", "1.5"},
         "--drop-connections: '1.5' is not a probability from 0 to 1"},
        {{"--port", "514,"}, "--port: '514,' is not a port number from 1 to 65535, or several"},
        {{"--port", "514,515", "--port", "514"}, "--port: 514 is given twice"},
        {{"--target", "::1", "--target", "::1"}, "--target: ::1 is given twice"},
        {{"--transport", "tcp", "--port", "1,2", "--threads", "2", "--connections", "3", "--unlimited"},
         "--connections 3: each thread needs one to each of the 2 targets and ports, at least 4 in all"},
        {{"--once", "--replay", "a.log"}, "--replay sends each line at its time: leave out --once (--speed"},
        {{"--replay", "a.log", "--lines-file", "b"}, "--replay gives the messages: leave out --message, --source"},
        {{"--replay", "-"}, "--replay needs a file: its times are read ahead of its lines"},
        {{"--replay", "a.log", "--speed", "0"}, "--speed: '0' is not a speed from 0.001 to 1000000, or max"},
        {{"--loop", "--speed", "max"}, "--loop, --speed shape a replay: add --replay FILE"},
        {{"--replay", "a.log", "--max-gap", "0"}, "--max-gap: '0' is not a number of seconds from 0.001 to 1000000"},
        {{"--max-gap", "5"}, "--max-gap shapes a replay: add --replay FILE"},
        {{"--template", "a ${foo} b"}, "--template: field ${foo} at column 3: unknown field 'foo'"},
        {{"--template", "${int:9:1}"}, "--template: field ${int:9:1} at column 1: 9 is above 1"},
        {{"--template", "${line:/nonexistent/u.txt}"}, "--template: field ${line:/nonexistent/u.txt} at column 1: "},
        {{"--template-file", "/nonexistent/t.txt"}, "--template-file: cannot read '/nonexistent/t.txt'"},
        {{"--template", "x", "--pack", "cef"}, "--template and --pack cannot be combined: choose one"},
        {{"--pack", "cef", "--message", "m"}, "--pack and --message both give the messages: leave one out"},
        {{"--lines-file", "l.txt", "--template-file", "t"}, "--template-file and --lines-file both give the"},
        {{"--replay", "a.log", "--pack", "json"}, "--pack and --replay both give the messages: leave one out"},
        {{"--pack", "syslog"}, "--pack: 'syslog' is not a pack: cef, leef, json, apache, firewall, auth, or list"},
        {{"--proxy-protocol", "v3"}, "--proxy-protocol: 'v3' is not v1 or v2"},
        {{"--proxy-protocol", "v1"}, "--proxy-protocol applies to TCP and TLS sessions: add --transport tcp"},
        {{"--transport", "relp", "--proxy-protocol", "v2"}, "--proxy-protocol applies to TCP and TLS sessions"},
        {{"--transport", "tcp", "--proxy-source", "10.0.0.0/8"}, "--proxy-source names the clients PROXY headers"},
        {{"--proxy-source", "10.0.0.0/33"}, "--proxy-source: '10.0.0.0/33' is not a network in CIDR form"},
        {{"--proxy-source", "192.0.2.1,x"}, "--proxy-source: 'x' is not an address"},
    };
    for (const auto &[args, message] : cases) {
        const ParseResult result = Parse(args);
        EXPECT_EQ(result.action, ParseResult::Action::UsageError) << message;
        EXPECT_EQ(result.error.rfind(message, 0), 0u) << result.error;
    }
}

// Flags that no run in these tests shows on the wire.
TEST(CommandLine, FlagsLandInTheirOptions)
{
    const Options o = Parse({"--transport", "TLS", "--source-port", "2000", "--no-priority", "--source-address",
                             "random class c addresses", "--tls-min", "1.3", "--continuous", "250"})
                          .options;
    EXPECT_TRUE(UsesTls(o));
    EXPECT_EQ(o.sourcePort, 2000);
    EXPECT_TRUE(o.noPriority);
    EXPECT_EQ(o.tls.minVersion, TlsVersion::Tls13);
    EXPECT_EQ(o.sourceAddress, "Random Class C addresses");
    EXPECT_EQ(o.pace, Pace::Continuous);
    EXPECT_EQ(o.continuousMs, 250);
    for (const auto &[args, tag] : {std::pair<Args, std::string>{{"--tag", "sshd"}, "sshd:"},
                                    {{"--procid", "42", "--tag", "sshd"}, "sshd[42]:"},
                                    {{"--procid", "42"}, ""}}) {
        const ParseResult tagged = Parse(args);
        EXPECT_EQ(tagged.options.messageFormat.rfc3164Tag, tag);
        EXPECT_EQ(tagged.options.rfcHeader, !tag.empty());
        EXPECT_EQ(tagged.warnings.empty(), !tag.empty());
    }
    // Each target at each port, in the order given; the first --target
    // replaces the saved one, a later one adds.
    Options base;
    base.target = "saved";
    const ParseResult several =
        ParseCommandLine({"--target", "a", "--port", "1,2", "--target", "b", "--port", "3"}, base);
    std::vector<std::string> destinations;
    for (const Destination &d : Destinations(several.options))
        destinations.push_back(d.target + ":" + std::to_string(d.port));
    EXPECT_EQ(destinations, (std::vector<std::string>{"a:1", "a:2", "a:3", "b:1", "b:2", "b:3"}));
    EXPECT_EQ(ConnectionCount(several.options), 6);
    EXPECT_EQ(Parse({"--port", "x", "--help"}).action, ParseResult::Action::UsageError);
    EXPECT_EQ(Parse({"--help", "--port", "1"}).action, ParseResult::Action::Help);
}

// The window checks CR LF whenever TCP is chosen, also over saved settings;
// a framing tells the messages apart instead.
TEST(CommandLine, TcpMessagesEndInCrLfUnlessAFlagSaysOtherwise)
{
    Options savedTcp;
    savedTcp.transport = TransportKind::Tcp;
    Options savedOctetCount = savedTcp;
    savedOctetCount.messageFormat.framing = Framing::OctetCount;
    const std::tuple<Args, Options, bool> cases[] = {
        {{}, {}, false},
        {{"--transport", "tcp"}, {}, true},
        {{"--transport", "tcp", "--no-crlf"}, {}, false},
        {{"--crlf"}, {}, true},
        {{"--crlf", "--transport", "tcp", "--no-crlf"}, {}, false},
        {{}, savedTcp, true},
        {{"--transport", "udp"}, savedTcp, false},
        {{"--transport", "tcp", "--framing", "lf"}, {}, false},
        {{"--framing", "octet-count"}, savedTcp, false},
        {{"--framing", "none"}, savedOctetCount, true},
        {{}, savedOctetCount, false},
        {{"--framing", "lf", "--crlf"}, savedTcp, true},
        {{"--transport", "tls"}, {}, false},
        {{"--transport", "tls", "--framing", "none"}, {}, true},
    };
    for (const auto &[args, base, crlf] : cases)
        EXPECT_EQ(ParseCommandLine(args, base).options.crlf, crlf)
            << args.size() << " flags, base " << TransportName(base.transport);
}

// TLS sessions (RFC 5425) and RFC 5424 over TCP (RFC 6587) are octet-counted
// unless a framing was chosen; a saved TLS session is TLS until a flag picks
// another transport.
TEST(CommandLine, TlsAndRfc5424SessionsAreOctetCountedUnlessAFramingIsChosen)
{
    Options savedTls;
    savedTls.transport = TransportKind::Tls;
    Options savedTlsLf = savedTls;
    savedTlsLf.messageFormat.framing = Framing::Lf;
    Options savedUdpTls = savedTls;
    savedUdpTls.transport = TransportKind::Udp;
    const std::tuple<Args, Options, bool, Framing> cases[] = {
        {{"--transport", "tls"}, {}, true, Framing::OctetCount},
        {{"--transport", "TLS", "--framing", "nul"}, {}, true, Framing::Nul},
        {{"--transport", "tls", "--framing", "none"}, {}, true, Framing::None},
        {{"--transport", "tcp"}, {}, false, Framing::None},
        {{}, savedTls, true, Framing::OctetCount},
        {{}, savedTlsLf, true, Framing::Lf},
        {{"--transport", "tcp"}, savedTls, false, Framing::None},
        {{}, savedUdpTls, false, Framing::None},
        {{"--transport", "tls"}, savedUdpTls, true, Framing::OctetCount},
        {{"--transport", "tcp", "--format", "rfc5424"}, {}, false, Framing::OctetCount},
        {{"--transport", "tcp", "--format", "rfc5424", "--framing", "none"}, {}, false, Framing::None},
        {{"--format", "rfc5424"}, {}, false, Framing::None},
    };
    for (const auto &[args, base, tls, framing] : cases) {
        const Options o = ParseCommandLine(args, base).options;
        EXPECT_EQ(UsesTls(o), tls) << args.size() << " flags, base " << TransportName(base.transport);
        EXPECT_EQ(StreamFramingOf(o), framing) << args.size() << " flags, base " << TransportName(base.transport);
    }
}

// Flags the run ignores are said, and the run goes ahead.
TEST(CommandLine, FlagsWithoutEffectOnTheRunAreNamed)
{
    Options saved5424;
    saved5424.messageFormat.format = MessageFormat::Rfc5424;
    const std::tuple<Args, Options, std::vector<std::string>> cases[] = {
        {{"--hostname", "h", "--sd", "[a]", "--sd", "[b]"},
         {},
         {"--hostname, --sd only apply to RFC 5424 messages (add --format rfc5424)"}},
        {{"--bom", "--format", "rfc5424", "--framing", "none"}, {}, {}},
        {{"--bom"}, saved5424, {}},
        {{"--rfc-header", "--framing", "lf"},
         saved5424,
         {"--rfc-header is the RFC 3164 header; RFC 5424 messages have their own",
          "--framing applies to TCP only; UDP datagrams go out as built"}},
        {{"--framing", "lf", "--transport", "tcp", "--rfc-header"}, {}, {}},
        {{"--ca-file", "ca.pem", "--insecure", "--ca-file", "b.pem"},
         {},
         {"--ca-file, --insecure only apply to TLS (add --transport tls)"}},
        {{"--transport", "tcp", "--tls-min", "1.3"}, {}, {"--tls-min only applies to TLS (add --transport tls)"}},
        {{"--server-name", "logs.example", "--transport", "tls"}, {}, {}},
        {{"--pack", "auth", "--corrupt", "--source-address", "10.0.0.1"},
         {},
         {"--source-address, --corrupt do not apply to --pack messages; a field such as ${ip} varies them"}},
        {{"--unlimited", "--no-catch-up"},
         {},
         {"--no-catch-up skips messages whose time passed; with --unlimited none has a time"}},
    };
    for (const auto &[args, base, warnings] : cases) {
        const ParseResult result = ParseCommandLine(args, base);
        EXPECT_EQ(result.action, ParseResult::Action::Run) << result.error;
        EXPECT_EQ(result.warnings, warnings) << args.front();
    }
}

// Without --seed the sequence starts where it always has, so runs stay
// repeatable; the start numbers are what every run has drawn first.
TEST(CommandLine, SeedSetsWhereTheRandomSequenceStarts)
{
    SetRandomStart(FixedRandomStart);
    EXPECT_EQ(RandomInteger(0, 1000000), 267669);
    EXPECT_EQ(RandomInteger(0, 1000000), 534512);
    const auto packets = [](Args args) {
        args.insert(args.end(), {"--message", "Random string of text", "--corrupt", "--facility", "random"});
        const LoadPlan plan = MakeLoadPlan(Parse(args).options);
        PacketStream stream(plan, plan.shares[0], "host", "10.0.0.");
        std::string all;
        for (int i = 0; i < 20; ++i)
            all += stream.Next() + '\n';
        return all;
    };
    const std::string seedOne = packets({"--seed", "1"});
    EXPECT_EQ(packets({"--seed", "1"}), seedOne);
    EXPECT_NE(packets({"--seed", "2"}), seedOne);
    SetRandomStart(FixedRandomStart);
    const std::string unseeded = packets({});
    EXPECT_EQ(packets({"--seed", std::to_string(FixedRandomStart)}), unseeded);
    EXPECT_NE(unseeded, seedOne);
}

// Packets of 1 to 300 random bytes: each count covers its packet, whether
// its number of digits differs from the last one's or not.
TEST(PacketStream, OctetCountsFrameEachPacketOfABatch)
{
    const auto batch = [](const std::string &framing) {
        SetRandomStart(FixedRandomStart);
        const LoadPlan plan = MakeLoadPlan(
            Parse({"--transport", "tcp", "--no-crlf", "--framing", framing, "--message", "Random string of text"})
                .options);
        PacketStream stream(plan, plan.shares[0], "host", "10.0.0.");
        std::string all;
        stream.StartBatch();
        for (int i = 0; i < 400; ++i)
            stream.AppendNext(all);
        return all;
    };
    const std::string framed = batch("octet-count"), joined = batch("none");
    std::string unframed;
    std::set<std::size_t> digits;
    for (std::size_t at = 0; at < framed.size();) {
        const std::size_t space = framed.find(' ', at);
        ASSERT_NE(space, std::string::npos);
        const std::size_t length = std::stoul(framed.substr(at, space - at));
        digits.insert(space - at);
        unframed += framed.substr(space + 1, length);
        at = space + 1 + length;
    }
    EXPECT_EQ(unframed, joined);
    EXPECT_EQ(digits, (std::set<std::size_t>{1, 2, 3}));
}

} // namespace
