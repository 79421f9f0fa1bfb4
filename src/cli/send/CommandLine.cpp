#include "cli/send/CommandLine.h"

#include "cli/common/FlagValues.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"
#include "engine/Stamp.h"
#include "engine/StructuredData.h"
#include "engine/Vocabulary.h"
#include "transport/TlsSettingsStore.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>

namespace {
constexpr int MaxFacility = 23;
constexpr int MaxLevel = 7;
constexpr int MinDelayMs = 10;
constexpr int MaxDelayMs = 2000;
constexpr int MaxConnections = 100000;
constexpr int MaxThreads = 64;
// A day: longer waits are mistakes, and stay far from what a clock holds.
constexpr double MostWaitSeconds = 86400;
constexpr const char *SeeHelp = " (see quillon-send --help)";

// Whether messages end in CR LF when neither --crlf nor --no-crlf says: on
// TCP they do, as the window checks "Add a CR && LF" when TCP is chosen, so
// a receiver can tell the messages apart; a framing does that job instead.
bool CrlfByDefault(const Options &o)
{
    return o.tcp && o.messageFormat.framing == Framing::None;
}

// TLS follows the RFC 5425 framing unless a framing was chosen: the window
// sets it when TLS is ticked, and a saved None is taken as not chosen. RFC
// 5424 over TCP is octet counted too, as RFC 6587 recommends; RFC 3164 keeps
// the CR LF receivers have always split it at.
bool OctetCountByDefault(const Options &o)
{
    const bool rfc5424 = o.messageFormat.format == MessageFormat::Rfc5424;
    return o.tcp && (UsesTls(o) || rfc5424) && o.messageFormat.framing == Framing::None;
}

// Flags that only apply to a TLS session.
constexpr std::string_view TlsFlags[] = {"--ca-file", "--cert", "--key", "--server-name", "--insecure", "--tls-min"};

// Flags that only set a part of the RFC 5424 header.
constexpr std::string_view Rfc5424Flags[] = {"--hostname", "--app-name", "--procid", "--msgid", "--sd", "--bom"};

template <typename Names> std::string Listed(const Names &names)
{
    std::string text;
    for (const auto &name : names)
        text += (text.empty() ? "" : ", ") + std::string(name);
    return text;
}

// People type "ftp-daemon" or "log_audit" as often as "FTP Daemon".
std::string NameKey(std::string_view text)
{
    std::string key;
    for (char c : ToLowerAscii(text))
        if (c != ' ' && c != '-' && c != '_')
            key.push_back(c);
    return key;
}

// A list index from a name of the list, a syslog code up to maxCode, or -1.
template <std::size_t N>
int CodeOrName(const std::array<std::string_view, N> &names, std::string_view text, int maxCode)
{
    if (const auto code = InRange(text, 0, maxCode))
        return *code;
    const std::string key = NameKey(text);
    for (std::size_t i = 0; i < N; ++i)
        if (NameKey(names[i]) == key)
            return static_cast<int>(i);
    return -1;
}

bool IsSourceAddressChoice(std::string_view text)
{
    if (Vocabulary::EntryIndexNoCase(Vocabulary::SourceAddressEntries, text) >= 0)
        return true;
    if (!text.empty() && text.back() == '?') {
        // The last group is drawn per message, from 1 to 253.
        std::string candidate(text.substr(0, text.size() - 1));
        candidate += "1";
        return IsDottedQuad(candidate);
    }
    return IsDottedQuad(text);
}

// The exact entry for a source choice typed in any case, so the composer,
// which compares exactly, recognises it.
std::string SourceAddressText(std::string_view text)
{
    const int entry = Vocabulary::EntryIndexNoCase(Vocabulary::SourceAddressEntries, text);
    return entry >= 0 ? std::string(Vocabulary::SourceAddressEntries[static_cast<std::size_t>(entry)])
                      : std::string(text);
}

bool IsFileSource(std::string_view message)
{
    return message == MessageEntries::TabDelimitedFile || message == MessageEntries::HexFile ||
           message == MessageEntries::CaptureFile;
}

// A receiver reads the first stamp element it finds, so a run that stamps
// must not carry one of its own.
bool HasStampElement(const MessageFormatSettings &format)
{
    for (const std::string &element : format.sdElements) {
        const std::string_view id = std::string_view(element).substr(1, element.find_first_of(" ]") - 1);
        if (id == StampFormat::SdId)
            return true;
    }
    return false;
}

struct Parser {
    ParseResult result;
    Options &o = result.options;
    bool messageGiven = false;
    bool sourceFileGiven = false;
    bool facilityOrLevelGiven = false;
    bool countOrDurationGiven = false;
    std::optional<bool> crlfFlag;
    std::string paceFlag;
    std::optional<Framing> framingFlag;
    std::vector<LoadShape::Step> steps;
    bool rfcHeaderGiven = false;
    bool sdGiven = false;
    std::vector<std::string_view> rfc5424FlagsGiven;
    std::vector<std::string_view> tlsFlagsGiven;

    bool Fail(std::string text)
    {
        result.action = ParseResult::Action::UsageError;
        result.error = std::move(text);
        return false;
    }

    bool Bad(std::string_view flag, std::string_view value, std::string_view wanted)
    {
        return Fail(std::string(flag) + ": " + Quoted(value) + " is not " + std::string(wanted));
    }

    // A header field's value, or the check's words after the flag's name.
    bool HeaderField(std::string_view flag, std::string_view value, std::string (*check)(std::string_view),
                     std::string &field)
    {
        if (const std::string problem = check(value); !problem.empty())
            return Fail(std::string(flag) + ": " + problem);
        field = std::string(value);
        return true;
    }

    // The first --sd replaces the saved elements; "-" leaves none.
    bool SdElement(std::string_view value)
    {
        std::vector<std::string> &elements = o.messageFormat.sdElements;
        if (!sdGiven || value == NilValue)
            elements.clear();
        sdGiven = true;
        if (value == NilValue)
            return true;
        if (const std::string problem = CheckSdElementText(value); !problem.empty())
            return Fail("--sd: " + problem);
        elements.emplace_back(value);
        return true;
    }

    bool SetPace(std::string_view flag, Pace pace)
    {
        if (!paceFlag.empty() && paceFlag != flag)
            return Fail(paceFlag + " and " + std::string(flag) + " cannot be combined: choose one send option");
        paceFlag = flag;
        o.pace = pace;
        return true;
    }

    bool Switch(std::string_view flag)
    {
        if (flag == "--help" || flag == "-h") {
            result.action = ParseResult::Action::Help;
        } else if (flag == "--version") {
            result.action = ParseResult::Action::Version;
        } else if (flag == "--from-settings") {
            result.fromSettings = true;
        } else if (flag == "--rfc-header") {
            o.rfcHeader = true;
            rfcHeaderGiven = true;
        } else if (flag == "--bom") {
            o.messageFormat.utf8Bom = true;
        } else if (flag == "--no-priority") {
            o.noPriority = true;
        } else if (flag == "--corrupt") {
            o.corrupt = true;
        } else if (flag == "--oversize") {
            o.oversize = true;
        } else if (flag == "--crlf") {
            crlfFlag = true;
        } else if (flag == "--no-crlf") {
            crlfFlag = false;
        } else if (flag == "--insecure") {
            o.tls.verify = false;
        } else if (flag == "--quiet") {
            o.quiet = true;
        } else if (flag == "--json") {
            o.json = true;
        } else if (flag == "--stamp") {
            o.stamp = true;
        } else if (flag == "--poisson") {
            o.poisson = true;
        } else if (flag == "--reconnect") {
            o.reconnect = true;
        } else if (flag == "--no-catch-up") {
            o.noCatchUp = true;
        } else if (flag == "--once") {
            return SetPace(flag, Pace::Once);
        } else if (flag == "--every-second") {
            return SetPace(flag, Pace::EverySecond);
        } else if (flag == "--every-minute") {
            return SetPace(flag, Pace::EveryMinute);
        } else if (flag == "--unlimited") {
            return SetPace(flag, Pace::Unlimited);
        } else {
            return Fail("unknown flag " + std::string(flag) + SeeHelp);
        }
        NoteFlag(flag);
        return true;
    }

    // Remembers flags of the groups that only apply to some runs.
    void NoteFlag(std::string_view flag)
    {
        const auto note = [flag](const auto &group, std::vector<std::string_view> &given) {
            for (std::string_view name : group)
                if (flag == name && std::find(given.begin(), given.end(), name) == given.end())
                    given.push_back(name);
        };
        note(Rfc5424Flags, rfc5424FlagsGiven);
        note(TlsFlags, tlsFlagsGiven);
    }

    bool Valued(std::string_view flag, std::string_view value)
    {
        if (flag == "--target") {
            o.target = TrimSpaces(value);
            if (o.target.empty())
                return Fail("--target: Please specify a valid target IP address or host name");
        } else if (flag == "--port") {
            const auto port = InRange(value, 1, 65535);
            if (!port)
                return Bad(flag, value, "a port number from 1 to 65535");
            o.port = *port;
        } else if (flag == "--transport") {
            const std::string lower = ToLowerAscii(value);
            if (lower != "udp" && lower != "tcp" && lower != "tls")
                return Bad(flag, value, "udp, tcp or tls");
            o.tcp = lower != "udp";
            o.tls.enabled = lower == "tls";
        } else if (flag == "--source-port") {
            const auto port = InRange(value, 1, 65535);
            if (!port)
                return Bad(flag, value, "a port number from 1 to 65535");
            o.sourcePort = *port;
        } else if (flag == "--facility") {
            const int index = CodeOrName(Vocabulary::FacilityNames, value, MaxFacility);
            if (index < 0)
                return Bad(flag, value, "a facility name (Kernel .. Local7), a number from 0 to 23, or random");
            o.facilityIndex = index;
            facilityOrLevelGiven = true;
        } else if (flag == "--level") {
            const int index = CodeOrName(Vocabulary::LevelNames, value, MaxLevel);
            if (index < 0)
                return Bad(flag, value, "a level name (Emergency .. Debug), a number from 0 to 7, or random");
            o.levelIndex = index;
            facilityOrLevelGiven = true;
        } else if (flag == "--priority") {
            const auto priority = InRange(value, 0, 255);
            if (!priority)
                return Bad(flag, value, "a priority from 0 to 255");
            o.usePriority = true;
            o.priority = *priority;
        } else if (flag == "--message") {
            o.message = std::string(value);
            messageGiven = true;
        } else if (flag == "--source-address") {
            const std::string address = TrimSpaces(value);
            if (!IsSourceAddressChoice(address))
                return Bad(flag, value,
                           "a dotted address (optionally ending in ?) or one of \"IP address of this machine\", "
                           "\"Random Class C addresses\", \"Random host on this subnet\"");
            o.sourceAddress = SourceAddressText(address);
        } else if (flag == "--multiline-file") {
            if (value.empty())
                return Fail("--multiline-file needs a file name, or - for standard input");
            o.multiLineFile = std::string(value);
        } else if (flag == "--source-file") {
            if (value.empty())
                return Fail("--source-file needs a file name");
            o.sourceFile = std::string(value);
            sourceFileGiven = true;
        } else if (flag == "--continuous") {
            const auto delay = InRange(value, MinDelayMs, MaxDelayMs);
            if (!delay)
                return Bad(flag, value, "a delay from 10 to 2000 ms");
            o.continuousMs = *delay;
            return SetPace(flag, Pace::Continuous);
        } else if (flag == "--burst") {
            const auto size = WholeNumber(value);
            if (!size || (*size != 100 && *size != 500))
                return Bad(flag, value, "100 or 500");
            o.burstSize = static_cast<int>(*size);
            return SetPace(flag, Pace::Burst);
        } else if (flag == "--rate") {
            const auto rate = PositiveNumber(value);
            if (!rate)
                return Bad(flag, value, "a positive number of messages per second");
            o.shape = LoadShape::Constant(*rate);
            return SetPace(flag, Pace::Rate);
        } else if (flag == "--ramp") {
            auto ramp = ReadRamp(value);
            if (const auto *problem = std::get_if<std::string>(&ramp))
                return Fail("--ramp: " + *problem);
            o.shape = std::get<LoadShape>(std::move(ramp));
            return SetPace(flag, Pace::Rate);
        } else if (flag == "--steps") {
            auto read = ReadSteps(value);
            if (const auto *problem = std::get_if<std::string>(&read))
                return Fail("--steps: " + *problem);
            // Whether the last step holds is known once every flag is read.
            steps = std::get<std::vector<LoadShape::Step>>(std::move(read));
            return SetPace(flag, Pace::Rate);
        } else if (flag == "--shard") {
            auto shard = ReadShard(value, std::getenv(Shard::IndexVariable));
            if (const auto *problem = std::get_if<std::string>(&shard))
                return Fail("--shard " + std::string(value) + ": " + *problem);
            o.shard = std::get<Shard>(shard);
        } else if (flag == "--stats-file") {
            if (value.empty())
                return Fail("--stats-file needs a file name");
            o.statsFile = std::string(value);
        } else if (flag == "--count") {
            const auto count = WholeNumber(value);
            if (!count || *count <= 0)
                return Bad(flag, value, "a positive whole number");
            o.count = *count;
            countOrDurationGiven = true;
        } else if (flag == "--connections") {
            const auto count = InRange(value, 1, MaxConnections);
            if (!count)
                return Bad(flag, value, "a number of connections from 1 to " + std::to_string(MaxConnections));
            o.connections = *count;
        } else if (flag == "--threads") {
            const auto count = InRange(value, 1, MaxThreads);
            if (!count)
                return Bad(flag, value, "a number of threads from 1 to " + std::to_string(MaxThreads));
            o.threads = *count;
        } else if (flag == "--seed") {
            std::uint64_t seed = 0;
            const char *end = value.data() + value.size();
            const auto [at, error] = std::from_chars(value.data(), end, seed);
            if (value.empty() || error != std::errc() || at != end)
                return Bad(flag, value, "a whole number from 0 to 18446744073709551615");
            o.seed = seed;
        } else if (flag == "--run-id") {
            if (!IsValidRunId(value))
                return Bad(flag, value, "a run id of 1 to 16 letters, digits, '_' or '-'");
            o.runId = std::string(value);
        } else if (flag == "--duration") {
            const auto seconds = PositiveNumber(value);
            if (!seconds)
                return Bad(flag, value, "a positive number of seconds");
            o.duration = *seconds;
            countOrDurationGiven = true;
        } else if (flag == "--connect-timeout") {
            const auto seconds = PositiveNumber(value);
            if (!seconds || *seconds > MostWaitSeconds)
                return Bad(flag, value, "a number of seconds above 0, at most 86400");
            o.connectTimeout = *seconds;
        } else if (flag == "--drain-timeout") {
            // 0: what the system has not taken at the end is given up at once.
            const auto seconds = WholeNumber(value) == 0 ? std::optional<double>(0) : PositiveNumber(value);
            if (!seconds || *seconds > MostWaitSeconds)
                return Bad(flag, value, "a number of seconds from 0 to 86400");
            o.drainTimeout = *seconds;
        } else if (const auto taken = TlsFlag(flag, value)) {
            if (!*taken)
                return false;
        } else if (const auto taken = MessageFormatFlag(flag, value)) {
            if (!*taken)
                return false;
        } else {
            return Fail("unknown flag " + std::string(flag) + SeeHelp);
        }
        NoteFlag(flag);
        return true;
    }

    // A TLS file given by a flag replaces the saved one.
    bool TlsFile(std::string_view flag, std::string_view value, TlsSetupError::File file, std::string &field)
    {
        if (value.empty())
            return Fail(std::string(flag) + " needs a file name");
        field = std::string(value);
        std::erase(o.savedTlsFiles, file);
        return true;
    }

    // Nothing for a flag of another group; false for a bad value.
    std::optional<bool> TlsFlag(std::string_view flag, std::string_view value)
    {
        using File = TlsSetupError::File;
        if (flag == "--ca-file")
            return TlsFile(flag, value, File::CaFile, o.tls.caFile);
        if (flag == "--cert")
            return TlsFile(flag, value, File::Certificate, o.tls.certFile);
        if (flag == "--key")
            return TlsFile(flag, value, File::Key, o.tls.keyFile);
        if (flag == "--server-name") {
            if (const std::string problem = CheckTlsServerName(value); !problem.empty())
                return Fail("--server-name: " + problem);
            o.tls.serverName = std::string(value);
        } else if (flag == "--tls-min") {
            const auto version = TlsVersionFromText(value);
            if (!version)
                return Bad(flag, value, "1.2 or 1.3");
            o.tls.minVersion = *version;
        } else {
            return std::nullopt;
        }
        return true;
    }

    // Nothing for a flag of another group; false for a bad value.
    std::optional<bool> MessageFormatFlag(std::string_view flag, std::string_view value)
    {
        MessageFormatSettings &f = o.messageFormat;
        if (flag == "--format") {
            const auto format = ParseMessageFormat(value);
            if (!format)
                return Bad(flag, value, "rfc3164 or rfc5424");
            f.format = *format;
        } else if (flag == "--framing") {
            framingFlag = ParseFraming(value);
            if (!framingFlag)
                return Bad(flag, value, "none, lf, crlf, nul or octet-count");
        } else if (flag == "--hostname") {
            return HeaderField(flag, value, CheckHostName, f.hostName);
        } else if (flag == "--app-name") {
            return HeaderField(flag, value, CheckAppName, f.appName);
        } else if (flag == "--procid") {
            return HeaderField(flag, value, CheckProcId, f.procId);
        } else if (flag == "--msgid") {
            return HeaderField(flag, value, CheckMsgId, f.msgId);
        } else if (flag == "--sd") {
            return SdElement(value);
        } else {
            return std::nullopt;
        }
        return true;
    }

    // Flags the run ignores: said on standard error, as the run goes ahead.
    void Warn()
    {
        const bool rfc5424 = o.messageFormat.format == MessageFormat::Rfc5424;
        if (!rfc5424 && !rfc5424FlagsGiven.empty())
            result.warnings.push_back(Listed(rfc5424FlagsGiven) +
                                      (rfc5424FlagsGiven.size() > 1 ? " only apply" : " only applies") +
                                      " to RFC 5424 messages (add --format rfc5424)");
        if (rfc5424 && rfcHeaderGiven)
            result.warnings.push_back("--rfc-header is the RFC 3164 header; RFC 5424 messages have their own");
        if (o.reconnect && !o.tcp)
            result.warnings.push_back("--reconnect applies to TCP and TLS sessions; UDP has none to open again");
        if (framingFlag && *framingFlag != Framing::None && !o.tcp)
            result.warnings.push_back("--framing applies to TCP only; UDP datagrams go out as built");
        if (o.noCatchUp && o.pace == Pace::Unlimited)
            result.warnings.push_back("--no-catch-up skips messages whose time passed; with --unlimited none has a "
                                      "time");
        if (!UsesTls(o) && !tlsFlagsGiven.empty())
            result.warnings.push_back(Listed(tlsFlagsGiven) +
                                      (tlsFlagsGiven.size() > 1 ? " only apply" : " only applies") +
                                      " to TLS (add --transport tls)");
    }

    bool Finish()
    {
        if (framingFlag)
            o.messageFormat.framing = *framingFlag;
        else if (OctetCountByDefault(o))
            o.messageFormat.framing = Framing::OctetCount;
        // Each element was checked as it came; this finds an SD-ID given twice.
        if (sdGiven)
            if (const std::string problem = CheckSdElements(o.messageFormat.sdElements); !problem.empty())
                return Fail("--sd: " + problem);
        o.crlf = crlfFlag.value_or(CrlfByDefault(o));
        if (!o.multiLineFile.empty() && !messageGiven)
            o.message = std::string(MessageEntries::MultiLine);
        o.savedSourceFile = !sourceFileGiven && !o.sourceFile.empty();
        if (sourceFileGiven && !messageGiven && !IsFileSource(o.message))
            o.message = std::string(MessageEntries::TabDelimitedFile);
        if (o.usePriority && facilityOrLevelGiven)
            return Fail("--priority cannot be combined with --facility or --level");
        if (IsFileSource(o.message) && o.sourceFile.empty())
            return Fail("--message \"" + o.message + "\" needs --source-file FILE");
        if (o.sourcePort != 0 && o.sourcePort == o.port)
            return Fail("--source-port: Sorry, Source and Destination ports must not be set to the same value");
        if (UsesTls(o) && o.tls.certFile.empty() && !o.tls.keyFile.empty())
            return Fail("--key: the key " + o.tls.keyFile + " needs its certificate: add --cert FILE");
        if (!o.runId.empty() && !o.stamp)
            return Fail("--run-id names the stamps of a run: add --stamp");
        if (o.stamp && o.messageFormat.format == MessageFormat::Rfc5424 && HasStampElement(o.messageFormat))
            return Fail("--sd: the element " + std::string(StampFormat::SdId) +
                        " is the one --stamp adds; leave it out or leave out --stamp");
        if (o.connections > 0 && !o.tcp)
            return Fail("--connections applies to TCP and TLS: add --transport tcp or --transport tls");
        if (o.tcp && o.connections > 0 && o.connections < o.threads)
            return Fail("--threads " + std::to_string(o.threads) +
                        " needs at least as many --connections, one per "
                        "thread");
        if (o.threads > 1 && o.pace != Pace::Rate && o.pace != Pace::Unlimited)
            return Fail("--threads shares a rate among the threads: add --rate R or --unlimited");
        if (o.sourcePort != 0 && o.tcp && ConnectionCount(o) > 1)
            return Fail("--source-port: one local port serves one connection; leave it out for several");
        if (o.pace == Pace::Once && countOrDurationGiven)
            return Fail("--count and --duration need a repeating send option (--every-second, --every-minute, "
                        "--continuous, --burst, --rate, --ramp, --steps or --unlimited)");
        // Without another end the run ends with its last step.
        if (paceFlag == "--steps")
            o.shape = LoadShape::Steps(steps, !countOrDurationGiven);
        if (o.poisson && o.pace != Pace::Rate)
            return Fail("--poisson needs a rate to vary around: add --rate, --ramp or --steps");
        Warn();
        return true;
    }
};

bool TakesValue(std::string_view flag)
{
    static const std::string_view valued[] = {"--target",         "--port",           "--transport",   "--source-port",
                                              "--facility",       "--level",          "--priority",    "--message",
                                              "--source-address", "--multiline-file", "--source-file", "--continuous",
                                              "--burst",          "--rate",           "--count",       "--duration",
                                              "--seed",           "--format",         "--hostname",    "--app-name",
                                              "--procid",         "--msgid",          "--sd",          "--framing",
                                              "--ca-file",        "--cert",           "--key",         "--server-name",
                                              "--tls-min",        "--run-id",         "--ramp",        "--steps",
                                              "--shard",          "--stats-file",     "--connections", "--threads",
                                              "--drain-timeout",  "--connect-timeout"};
    for (std::string_view name : valued)
        if (name == flag)
            return true;
    return false;
}
} // namespace

ParseResult ParseCommandLine(const std::vector<std::string> &args, const Options &base)
{
    Parser parser;
    parser.o = base;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string_view flag = arg.substr(0, equals);
        bool ok = true;
        if (arg.size() < 2 || arg[0] != '-') {
            ok = parser.Fail("unexpected argument " + Quoted(arg) + SeeHelp);
        } else if (!TakesValue(flag)) {
            ok = equals == std::string_view::npos ? parser.Switch(flag)
                                                  : parser.Fail(std::string(flag) + " takes no value");
        } else if (equals != std::string_view::npos) {
            ok = parser.Valued(flag, arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            ok = parser.Valued(flag, args[++i]);
        } else {
            ok = parser.Fail(std::string(flag) + " needs a value");
        }
        if (!ok)
            return parser.result;
    }
    // Help and version answer whatever else the line holds.
    if (parser.result.action == ParseResult::Action::Run)
        parser.Finish();
    return parser.result;
}

std::string UsageText()
{
    return R"usage(Usage: quillon-send [options]
Sends syslog messages over UDP, TCP or TLS, as the Quillon window does.

Target
  --target HOST          host name or address (default 127.0.0.1)
  --port N               destination port, 1..65535 (default 514)
  --transport udp|tcp|tls
                         syslog over UDP (default), over a TCP session, or
                         over TLS on a TCP session (see TLS below)
  --source-port N        fixed local port for TCP (default: the system picks)

Priority
  --facility NAME|N|random   Kernel .. Local7, 0..23, or random (default)
  --level NAME|N|random      Emergency .. Debug, 0..7, or random (default)
  --priority N               raw priority 0..255 instead of facility and level

Message
  --message TEXT         text or template; "####" is numbered in
                         "This is Syslog test message number ####", and the
                         window's entries work: "Random string of text",
                         "Test user connected to website http://###.###.###.###/index.html",
                         "MultiLine text message", "From tab delimited text file",
                         "From a Hex byte code text file. (One packet per line)",
                         "From a Ethereal capture file"; HEX=.. sends raw bytes
  --multiline-file FILE  text for "MultiLine text message" (- reads stdin)
  --source-file FILE     message-source file (text, hex or capture)
  --source-address A     "Original Address=": an address, an address ending
                         in ? (last group random), "Random Class C addresses",
                         "Random host on this subnet"
  --rfc-header           RFC 3164 header (time stamp, host name, tag Quillon)
  --no-priority          leave out the <PRI> part
  --corrupt              replace one character of each message at random
  --oversize             append 2048 spaces
  --crlf                 end each message in CR LF (the default on TCP
                         without --framing)
  --no-crlf              no CR LF, on TCP too (the messages run together)
  --seed N               start the random choices from N, 0..2^64-1 (default:
                         the same start in every run, as in the window)

Message format and framing
  --format rfc3164|rfc5424   rfc3164 (default): <PRI>, the header of
                             --rfc-header, the text; rfc5424: <PRI>1 TIMESTAMP
                             HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG
  --hostname NAME            HOSTNAME (default: this machine's name; a
                             --source-address address takes its place)
  --app-name NAME            APP-NAME (default Quillon)
  --procid ID                PROCID (default: the process id)
  --msgid ID                 MSGID (default -)
  --sd 'ELEMENT'             one SD element in RFC 5424 syntax, its escapes
                             included: --sd '[test@32473 env="lab" n="1"]';
                             repeat for more; --sd - for none (the default)
  --bom                      a UTF-8 BOM before the RFC 5424 message text
  --framing none|lf|crlf|nul|octet-count
                             how TCP messages are told apart: after each an
                             LF, CR LF or NUL, or before each its length in
                             bytes and a space; none sends them as built.
                             Default: octet-count over TLS and for RFC 5424
                             over TCP, else none (RFC 3164 over TCP ends in
                             CR LF). UDP datagrams are never framed; lf and
                             crlf split multi-line messages (named on
                             standard error)
  Header values: printable US-ASCII, no spaces, "-" for none; at most 255,
  48, 128 and 32 characters (host name, app name, procid, msgid).

TLS (with --transport tls; RFC 5425)
  --ca-file FILE         PEM file of the CAs that sign the server's
                         certificate (default: the system's trusted CAs)
  --cert FILE            client certificate (PEM) for a server that asks
  --key FILE             its private key (PEM, no passphrase; default: the
                         key in the --cert file)
  --server-name NAME     the name the server's certificate must carry, also
                         sent as SNI (default: the --target host)
  --insecure             accept any server certificate; says so on standard
                         error each run
  --tls-min 1.2|1.3      the oldest TLS version accepted (default 1.2)
  The server's certificate and name are verified unless --insecure is given.

Sending (one of)
  --once                 one message (default)
  --every-second         one message a second
  --every-minute         one message a minute
  --continuous MS        one message every MS milliseconds, 10..2000
  --burst 100|500        a burst every 10 seconds
  --rate R               R messages per second
  --ramp FROM:TO:S       from FROM to TO messages per second over S seconds,
                         then TO (a rate may be 0)
  --steps R1xS1,R2xS2,...
                         R1 messages per second for S1 seconds, then R2 ...;
                         ends after the last step unless --count or
                         --duration is given, then holds the last rate
  --unlimited            as fast as the machine goes
  --poisson              with --rate, --ramp or --steps: random (exponential)
                         gaps around the rate; repeatable with --seed
  --count N              stop after N messages (skipped ones included)
  --duration S           stop after S seconds, connecting and handshakes
                         included
  --no-catch-up          after an outage or a stall, skip the messages whose
                         time passed (counted as skipped) instead of sending
                         them late in a burst
  --drain-timeout S      at the end, how long the sessions' unsent bytes may
                         take to go (default 2; 0 gives them up)
  Ctrl-C stops within a second, drains as above and prints the summary.

Delivery stamps (checked by quillon-recv)
  --stamp                stamp every message with the run id, stream 1 (with
                         --shard I/N stream I*1000000+1), a
                         sequence number from 1 and the send time in
                         microseconds: RFC 3164 ends the message with
                         " quillon=RUN:STREAM:SEQ:TIME", RFC 5424 adds the SD
                         element [quillon@32473 run=".." stream=".." seq=".."
                         t=".."]; "HEX=" packets are sent unstamped
  --run-id ID            the run id, 1 to 16 of A-Z a-z 0-9 _ - (default: a
                         random one per run, named in the summary)
  With several connections or threads each connection (over UDP each
  thread) is a stream of its own, numbered from 1.

Runs spread over several senders
  --shard I/N            this sender is shard I (0..N-1) of N: it sends 1/N of
                         the rate and of each --ramp or --steps rate, and
                         stamps streams no other shard uses; --count and
                         --duration stay this process's
  --shard auto/N         I from JOB_COMPLETION_INDEX (set by an Indexed Job)

Load
  --connections N        TCP and TLS: N sessions to the target, 1..100000,
                         opened at start (64 connects or handshakes at a
                         time); messages go to them in turn (default: one
                         per thread)
  --threads T            T sending threads, 1..64, each with its own sockets
                         and its own share of the rate and the connections;
                         needs --rate or --unlimited. A thread's random
                         choices start from a value made from --seed (or the
                         usual start) and its number, so runs repeat
  --reconnect            TCP and TLS: open a session the receiver ends,
                         resets or refuses again, after 50 ms, then twice as
                         long after each failure up to 2 s; its stream goes
                         on. Failures are named on standard error as they
                         happen (a line a second at most). The messages
                         whose bytes the receiver's system had not
                         acknowledged when the session broke are counted
                         as unacknowledged (unknown_fate), per connection
                         and in all (with TLS estimated from the record
                         bytes); a receiver that dies with acknowledged but
                         unread bytes loses more, which only quillon-recv
                         sees
  --connect-timeout S    TCP and TLS: the limit of each connect and
                         handshake, and the run fails when no session has
                         been up for S seconds (default 10)

Settings and output
  --from-settings        start from the window's saved settings (the defaults
                         when there are none), then apply the flags
  --quiet                no progress lines and no summary
  --json                 the summary as one JSON object (no progress lines);
                         bytes of a text that are not UTF-8 show as \xHH
  --stats-file FILE      one JSON object per line each second: time, target
                         rate, sent, failed, unknown fate, open connections,
                         seconds blocked by a full socket, the sending
                         thread's processor share
  --help, --version

The summary gives an average rate for runs of more than one message that
last at least a second; over whole seconds whether the target rate was
reached (99% of it) and, from two on, the standard deviation of the rate per
second about the target, and whether the sender itself held the rate back
(its thread at a full core while behind); messages sent late (more than
0.1 s after their time) or skipped; a connection that lost a session gets a
line of its own. Over UDP, datagrams that come back refused (nothing
listens on the port) or undeliverable are counted as refused.

Exit status: 0 all sent, 1 sending failed (a failed TLS handshake, no
session up, nothing sent, bytes left at the end too) or datagrams were
refused, 2 usage error (a file that cannot be used too, and --connections
beyond the open files this process may have).
)usage";
}
