#include "cli/send/CommandLine.h"
#include "cli/send/SendParser.h"

#include "cli/common/FlagValues.h"
#include "engine/MessageComposer.h"
#include "engine/Stamp.h"
#include "engine/StructuredData.h"
#include "engine/TemplatePacks.h"

#include <algorithm>
#include <memory>

namespace {
constexpr int RelpPort = 2514;

// Whether messages end in CR LF when neither --crlf nor --no-crlf says: on
// TCP they do, as the window checks "Add a CR && LF" when TCP is chosen, so
// a receiver can tell the messages apart; a framing does that job instead.
bool CrlfByDefault(const Options &o)
{
    return IsStream(o.transport) && !IsRelp(o.transport) && o.messageFormat.framing == Framing::None;
}

// TLS follows the RFC 5425 framing unless a framing was chosen: the window
// sets it when TLS is ticked, and a saved None is taken as not chosen. RFC
// 5424 over TCP is octet counted too, as RFC 6587 recommends; RFC 3164 keeps
// the CR LF receivers have always split it at.
bool OctetCountByDefault(const Options &o)
{
    const bool rfc5424 = o.messageFormat.format == MessageFormat::Rfc5424;
    return IsStream(o.transport) && !IsRelp(o.transport) && (UsesTls(o) || rfc5424) &&
           o.messageFormat.framing == Framing::None;
}

template <typename Names> std::string Listed(const Names &names)
{
    std::string text;
    for (const auto &name : names)
        text += (text.empty() ? "" : ", ") + std::string(name);
    return text;
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
} // namespace

Status SendParser::Bad(std::string_view flag, std::string_view value, std::string_view wanted)
{
    return Fail(std::string(flag) + ": " + Quoted(value) + " is not " + std::string(wanted));
}

Status SendParser::Noted(std::vector<std::string_view> &given, std::string_view flag, Status taken)
{
    if (taken && std::find(given.begin(), given.end(), flag) == given.end())
        given.push_back(flag);
    return taken;
}

Status SendParser::HeaderField(std::string_view flag, std::string_view value, std::string (*check)(std::string_view),
                               std::string &field)
{
    if (const std::string problem = check(value); !problem.empty())
        return Fail(std::string(flag) + ": " + problem);
    field = std::string(value);
    return Noted(rfc5424FlagsGiven, flag, {});
}

Status SendParser::SdElement(std::string_view value)
{
    std::vector<std::string> &elements = o.messageFormat.sdElements;
    if (!sdGiven || value == NilValue)
        elements.clear();
    sdGiven = true;
    if (value == NilValue)
        return {};
    if (const std::string problem = CheckSdElementText(value); !problem.empty())
        return Fail("--sd: " + problem);
    elements.emplace_back(value);
    return {};
}

Status SendParser::SetPace(std::string_view flag, Pace pace)
{
    if (!paceFlag.empty() && paceFlag != flag && (paceFlag == "--replay" || flag == "--replay"))
        return Fail("--replay sends each line at its time: leave out " +
                    std::string(flag == "--replay" ? std::string_view(paceFlag) : flag) +
                    " (--speed scales the times)");
    if (!paceFlag.empty() && paceFlag != flag)
        return Fail(paceFlag + " and " + std::string(flag) + " cannot be combined: choose one send option");
    paceFlag = flag;
    o.pace = pace;
    return {};
}

Status SendParser::CheckReplay()
{
    if (o.replayFile.empty()) {
        if (replayFlagsGiven.empty())
            return {};
        return Fail(Listed(replayFlagsGiven) + (replayFlagsGiven.size() > 1 ? " shape" : " shapes") +
                    " a replay: add --replay FILE");
    }
    if (messageGiven || sourceFileGiven || !o.multiLineFile.empty() || !o.linesFile.empty())
        return Fail("--replay gives the messages: leave out --message, --source-file, --multiline-file and "
                    "--lines-file");
    // Each line goes as a multi-line text does: as it stands, no template.
    o.message = std::string(MessageEntries::MultiLine);
    o.sourceFile.clear();
    return {};
}

Status SendParser::SetTemplates(std::string_view flag, std::string_view value)
{
    if (flag == "--pack" && value == "list") {
        result.action = ParseResult::Action::ListPacks;
        return {};
    }
    if (!o.templateFlag.empty() && o.templateFlag != flag)
        return Fail(o.templateFlag + " and " + std::string(flag) + " cannot be combined: choose one");
    if (value.empty())
        return Fail(std::string(flag) + (flag == "--template" ? " needs a text" : " needs a file name"));
    o.templateFlag = flag;
    templateValue = value;
    return {};
}

Status SendParser::CompileTemplates()
{
    const std::string &flag = o.templateFlag;
    const std::pair<bool, std::string_view> others[] = {{messageGiven, "--message"},
                                                        {sourceFileGiven, "--source-file"},
                                                        {!o.linesFile.empty(), "--lines-file"},
                                                        {!o.multiLineFile.empty(), "--multiline-file"},
                                                        {!o.replayFile.empty(), "--replay"}};
    for (const auto &[given, other] : others)
        if (given)
            return Fail(flag + " and " + std::string(other) + " both give the messages: leave one out");
    const TemplatePack *pack = flag == "--pack" ? FindTemplatePack(templateValue) : nullptr;
    if (flag == "--pack" && !pack) {
        std::string names;
        for (const TemplatePack &known : TemplatePacks())
            names += std::string(known.name) + ", ";
        return Bad(flag, templateValue, "a pack: " + names + "or list");
    }
    Result<TemplateSet> set = pack                        ? CompileTemplatePack(*pack, {})
                              : flag == "--template-file" ? TemplateSet::FromFile(templateValue, {})
                                                          : TemplateSet::FromText(templateValue, {});
    if (!set)
        return Fail(flag + ": " + set.Why());
    // RFC 5424 keeps the stamp in its structured data; a text of RFC 3164
    // without a stamp field takes one where its record keeps fields.
    if (o.stamp && o.messageFormat.format != MessageFormat::Rfc5424) {
        for (std::size_t i = 0; i < set->Count(); ++i) {
            if (set->Template(i).HasStamp() || set->Template(i).FitStamp() != StampFit::None)
                continue;
            const std::string which = set->Count() > 1 ? " (template " + std::to_string(i + 1) + ")" : "";
            return Fail("--stamp: the template" + which +
                        " ends in a closing bracket that a stamp after it would break: put ${stamp}, "
                        "${stamp:tab} or ${stamp:json} where its fields go");
        }
    }
    o.templates = std::make_shared<const TemplateSet>(std::move(*set));
    return {};
}

Status SendParser::TlsFile(std::string_view flag, std::string_view value, TlsSetupError::File file, std::string &field)
{
    if (value.empty())
        return Fail(std::string(flag) + " needs a file name");
    field = std::string(value);
    std::erase(o.savedTlsFiles, file);
    return Noted(tlsFlagsGiven, flag, {});
}

void SendParser::NoteNetworkFlag(std::string_view flag)
{
    if (std::find(networkFlagsGiven.begin(), networkFlagsGiven.end(), flag) == networkFlagsGiven.end())
        networkFlagsGiven.push_back(flag);
}

std::function<Status(std::string_view)> SendParser::Network(std::string_view flag,
                                                            std::function<Status(std::string_view)> handler)
{
    return [this, flag, handler](std::string_view value) {
        NoteNetworkFlag(flag);
        return handler(value);
    };
}

Status SendParser::CheckUnixSocket()
{
    if (!UsesUnixSocket(o)) {
        if (!o.socketPath.empty())
            return Fail("--socket names a Unix socket: add --transport unix-dgram or --transport unix-stream");
        return {};
    }
    if (!networkFlagsGiven.empty())
        return Fail(Listed(networkFlagsGiven) + (networkFlagsGiven.size() > 1 ? " do" : " does") +
                    " not apply to --transport " + std::string(TransportName(o.transport)) +
                    ": the socket is named by --socket PATH");
    if (o.socketPath.empty())
        return Fail("--transport " + std::string(TransportName(o.transport)) + " needs --socket PATH");
    return {};
}

Status SendParser::NamedTwice() const
{
    std::vector<std::string> targets = o.moreTargets;
    targets.push_back(o.target);
    std::sort(targets.begin(), targets.end());
    if (const auto twice = std::adjacent_find(targets.begin(), targets.end()); twice != targets.end())
        return Fail("--target: " + *twice + " is given twice");
    std::vector<int> ports = o.morePorts;
    ports.push_back(o.port);
    std::sort(ports.begin(), ports.end());
    if (const auto twice = std::adjacent_find(ports.begin(), ports.end()); twice != ports.end())
        return Fail("--port: " + std::to_string(*twice) + " is given twice");
    return {};
}

void SendParser::Warn()
{
    const bool rfc5424 = o.messageFormat.format == MessageFormat::Rfc5424;
    // --procid names the process of an RFC 3164 tag too.
    if (!rfc5424 && !tagName.empty())
        std::erase(rfc5424FlagsGiven, std::string_view("--procid"));
    if (rfc5424 && !tagName.empty())
        result.warnings.push_back("--tag is the RFC 3164 tag; RFC 5424 messages name their program with --app-name");
    if (!rfc5424 && !rfc5424FlagsGiven.empty())
        result.warnings.push_back(Listed(rfc5424FlagsGiven) +
                                  (rfc5424FlagsGiven.size() > 1 ? " only apply" : " only applies") +
                                  " to RFC 5424 messages (add --format rfc5424)");
    if (rfc5424 && rfcHeaderGiven)
        result.warnings.push_back("--rfc-header is the RFC 3164 header; RFC 5424 messages have their own");
    if (o.reconnect && !IsStream(o.transport))
        result.warnings.push_back(!UsesUnixSocket(o)
                                      ? "--reconnect applies to TCP and TLS sessions; UDP has none to open again"
                                      : "--reconnect applies to stream sessions; Unix datagrams have none to "
                                        "open again");
    if (framingFlag && *framingFlag != Framing::None && !IsStream(o.transport))
        result.warnings.push_back(!UsesUnixSocket(o)
                                      ? "--framing applies to TCP only; UDP datagrams go out as built"
                                      : "--framing applies to streams only; Unix datagrams go out as built");
    if (framingFlag && *framingFlag != Framing::None && IsRelp(o.transport))
        result.warnings.push_back("--framing does not apply to RELP, which frames each message itself");
    if (relpWindowGiven && !IsRelp(o.transport))
        result.warnings.push_back("--relp-window applies to RELP only (add --transport relp)");
    if (o.templates) {
        std::vector<std::string_view> unused;
        if (o.sourceAddress != SourceEntries::ThisMachine)
            unused.push_back("--source-address");
        if (o.corrupt)
            unused.push_back("--corrupt");
        if (o.oversize)
            unused.push_back("--oversize");
        if (!unused.empty())
            result.warnings.push_back(Listed(unused) + (unused.size() > 1 ? " do" : " does") + " not apply to " +
                                      o.templateFlag + " messages; a field such as ${ip} varies them");
    }
    if (o.noCatchUp && o.pace == Pace::Unlimited)
        result.warnings.push_back("--no-catch-up skips messages whose time passed; with --unlimited none has a "
                                  "time");
    if (o.noCatchUp && o.pace == Pace::Replay && o.replaySpeed <= 0)
        result.warnings.push_back("--no-catch-up skips lines whose time passed; with --speed max none has a time");
    if (!UsesTls(o) && !tlsFlagsGiven.empty())
        result.warnings.push_back(Listed(tlsFlagsGiven) + (tlsFlagsGiven.size() > 1 ? " only apply" : " only applies") +
                                  " to TLS (add --transport tls)");
}

Status SendParser::Finish()
{
    if (Status unixSocket = CheckUnixSocket(); !unixSocket)
        return unixSocket;
    if (IsRelp(o.transport) && !portGiven)
        o.port = RelpPort;
    // librelp's OpenSSL driver checks the server's name only for a client
    // with a certificate, and checks its chain always.
    if (o.transport == TransportKind::RelpTls && !o.tls.verify)
        return Fail("--insecure: librelp always checks the server's certificate against the CAs; leave it out "
                    "(and give --ca-file FILE)");
    if (o.transport == TransportKind::RelpTls && o.tls.certFile.empty())
        return Fail("--transport relp-tls: librelp checks the server's name only when the client offers a "
                    "certificate: add --cert FILE (and --key FILE)");
    if (IsRelp(o.transport) && o.sourcePort != 0)
        return Fail("--source-port: librelp picks the local port of a RELP session; leave it out");
    if (framingFlag && !IsRelp(o.transport))
        o.messageFormat.framing = *framingFlag;
    // Local collectors split a Unix stream at line ends.
    else if (o.transport == TransportKind::UnixStream)
        o.messageFormat.framing = Framing::Lf;
    else if (OctetCountByDefault(o))
        o.messageFormat.framing = Framing::OctetCount;
    // Each element was checked as it came; this finds an SD-ID given twice.
    if (sdGiven)
        if (const std::string problem = CheckSdElements(o.messageFormat.sdElements); !problem.empty())
            return Fail("--sd: " + problem);
    o.crlf = crlfFlag.value_or(CrlfByDefault(o));
    if (Status replay = CheckReplay(); !replay)
        return replay;
    if (!tagName.empty())
        o.messageFormat.rfc3164Tag =
            tagName + (o.messageFormat.procId.empty() ? "" : "[" + o.messageFormat.procId + "]") + ":";
    if (!o.templateFlag.empty())
        if (Status compiled = CompileTemplates(); !compiled)
            return compiled;
    if (!o.multiLineFile.empty() && !messageGiven)
        o.message = std::string(MessageEntries::MultiLine);
    if (!o.linesFile.empty()) {
        if (messageGiven || sourceFileGiven || !o.multiLineFile.empty())
            return Fail("--lines-file gives the messages: leave out --message, --source-file and --multiline-file");
        if (o.threads > 1)
            return Fail("--lines-file sends its lines in order from one thread: leave out --threads");
        // Each line goes as a multi-line text does: as it stands, no template.
        o.message = std::string(MessageEntries::MultiLine);
        o.sourceFile.clear();
    }
    o.savedSourceFile = !sourceFileGiven && !o.sourceFile.empty();
    if (sourceFileGiven && !messageGiven && !IsFileSource(o.message))
        o.message = std::string(MessageEntries::TabDelimitedFile);
    if (o.usePriority && facilityOrLevelGiven)
        return Fail("--priority cannot be combined with --facility or --level");
    if (IsFileSource(o.message) && o.sourceFile.empty())
        return Fail("--message \"" + o.message + "\" needs --source-file FILE");
    if (o.sourcePort != 0 && (o.sourcePort == o.port ||
                              std::find(o.morePorts.begin(), o.morePorts.end(), o.sourcePort) != o.morePorts.end()))
        return Fail("--source-port: Sorry, Source and Destination ports must not be set to the same value");
    if (UsesTls(o) && o.tls.certFile.empty() && !o.tls.keyFile.empty())
        return Fail("--key: the key " + o.tls.keyFile + " needs its certificate: add --cert FILE");
    if (!o.runId.empty() && !o.stamp)
        return Fail("--run-id names the stamps of a run: add --stamp");
    if (o.stampKey && !o.stamp)
        return Fail("--stamp-key keys the stamps of a run: add --stamp");
    if (o.stamp && o.messageFormat.format == MessageFormat::Rfc5424 && HasStampElement(o.messageFormat))
        return Fail("--sd: the element " + std::string(StampFormat::SdId) +
                    " is the one --stamp adds; leave it out or leave out --stamp");
    if (o.oversize && o.sizeMax != 0)
        return Fail("--size and --oversize both set the message size: leave one out");
    if (const Status twice = NamedTwice(); !twice)
        return twice;
    if (o.proxyVersion != 0 && o.transport != TransportKind::Tcp && o.transport != TransportKind::Tls)
        return Fail("--proxy-protocol applies to TCP and TLS sessions: add --transport tcp or --transport tls");
    if (proxySourceGiven && o.proxyVersion == 0)
        return Fail("--proxy-source names the clients PROXY headers claim: add --proxy-protocol v1 or v2");
    if (o.proxyVersion != 0 && !o.proxySources)
        o.proxySources = *ProxySources::Parse("random");
    if (o.connections > 0 && !IsStream(o.transport))
        return Fail("--connections applies to TCP and TLS: add --transport tcp or --transport tls");
    if (o.idleConnections > 0 && !IsStream(o.transport))
        return Fail("--idle-connections applies to TCP and TLS: add --transport tcp or --transport tls");
    if (o.dropChance > 0 && !IsStream(o.transport))
        return Fail("--drop-connections applies to TCP and TLS: add --transport tcp or --transport tls");
    // Each thread sends to every target and port, so each spreads its
    // messages as the whole run does.
    if (IsStream(o.transport) && o.connections > 0 && DestinationCount(o) > 1 &&
        o.connections < o.threads * DestinationCount(o))
        return Fail("--connections " + std::to_string(o.connections) + ": each thread needs one to each of the " +
                    std::to_string(DestinationCount(o)) + " targets and ports, at least " +
                    std::to_string(o.threads * DestinationCount(o)) + " in all");
    if (IsStream(o.transport) && o.connections > 0 && o.connections < o.threads)
        return Fail("--threads " + std::to_string(o.threads) +
                    " needs at least as many --connections, one per "
                    "thread");
    // A count or a file of lines alone is a batch to send: as fast as the
    // target takes it.
    if (paceFlag.empty() && o.pace == Pace::Once && (o.count > 0 || !o.linesFile.empty()))
        o.pace = Pace::Unlimited;
    if (o.threads > 1 && o.pace != Pace::Rate && o.pace != Pace::Unlimited && o.pace != Pace::Replay)
        return Fail("--threads shares a rate among the threads: add --rate R or --unlimited");
    if (o.sourcePort != 0 && IsStream(o.transport) && ConnectionCount(o) + o.idleConnections > 1)
        return Fail("--source-port: one local port serves one connection; leave it out for several");
    if (o.pace == Pace::Once && countOrDurationGiven)
        return Fail("--duration needs a repeating send option (--every-second, --every-minute, "
                    "--continuous, --burst, --rate, --ramp, --steps or --unlimited)");
    // Without another end the run ends with its last step.
    if (paceFlag == "--steps")
        o.shape = LoadShape::Steps(steps, !countOrDurationGiven);
    if (o.poisson && o.pace != Pace::Rate)
        return Fail("--poisson needs a rate to vary around: add --rate, --ramp or --steps");
    Warn();
    return {};
}

ParseResult ParseCommandLine(const std::vector<std::string> &args, const Options &base)
{
    const auto parser = std::make_shared<SendParser>();
    parser->o = base;
    ParseResult &result = parser->result;
    Status parsed = ParseFlags(SendFlags(parser), args);
    // Help and version answer whatever else the line holds.
    if (parsed && result.action == ParseResult::Action::Run)
        parsed = parser->Finish();
    if (!parsed) {
        result.action = ParseResult::Action::UsageError;
        result.error = parsed.Why();
    }
    return std::move(result);
}

FlagTable SendFlagTable()
{
    return SendFlags(std::make_shared<SendParser>());
}

std::string PackListText()
{
    std::string text;
    for (const TemplatePack &pack : TemplatePacks()) {
        text += std::string(pack.name) + ": " + std::string(pack.summary) + "\n";
        text += "  " + TemplatePackSample(pack) + "\n";
    }
    return text;
}

std::string UsageText()
{
    return HelpText(SendFlagTable());
}
