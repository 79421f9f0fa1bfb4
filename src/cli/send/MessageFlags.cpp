#include "cli/send/SendParser.h"

#include "cli/common/FlagValues.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"
#include "engine/Vocabulary.h"

#include <array>
#include <charconv>
#include <string>
#include <vector>

// The groups of flags that say what each message holds: its priority, its
// text and its header.
namespace {
constexpr int MaxFacility = 23;
constexpr int MaxLevel = 7;
constexpr int MaxMessageSize = 1048576;
const std::string FramingValue = FramingAlternatives(SentFramings);

// People type "ftp-daemon" or "log_audit" as often as "FTP Daemon".
std::string NameKey(std::string_view text)
{
    std::string key;
    for (char c : ToLowerAscii(text))
        if (c != ' ' && c != '-' && c != '_')
            key.push_back(c);
    return key;
}

struct Alias {
    std::string_view word;
    int code;
};

// The words of syslog.conf, logger and rsyslog where the window's names differ.
constexpr std::array<Alias, 3> FacilityAliases = {{{"kern", 0}, {"authpriv", 10}, {"ftp", 11}}};
constexpr std::array<Alias, 6> LevelAliases = {
    {{"emerg", 0}, {"panic", 0}, {"crit", 2}, {"err", 3}, {"warn", 4}, {"info", 6}}};

// A list index from a name of the list or an alias, a syslog code up to
// maxCode, or -1.
template <std::size_t N, std::size_t A>
int CodeOrName(const std::array<std::string_view, N> &names, const std::array<Alias, A> &aliases, std::string_view text,
               int maxCode)
{
    if (const auto code = InRange(text, 0, maxCode))
        return *code;
    const std::string key = NameKey(text);
    for (const Alias &alias : aliases)
        if (alias.word == key)
            return alias.code;
    for (std::size_t i = 0; i < N; ++i)
        if (NameKey(names[i]) == key)
            return static_cast<int>(i);
    return -1;
}

// The words a completion offers and an error lists: the aliases first,
// then the list's names not already said ("ftp-daemon", "local7").
template <std::size_t N, std::size_t A>
std::vector<std::string> NameChoices(const std::array<std::string_view, N> &names, const std::array<Alias, A> &aliases)
{
    std::vector<std::string> choices;
    for (std::string_view name : names) {
        for (const Alias &alias : aliases)
            if (NameKey(names[static_cast<std::size_t>(alias.code)]) == NameKey(name))
                choices.emplace_back(alias.word);
        std::string choice = ToLowerAscii(name);
        std::replace(choice.begin(), choice.end(), ' ', '-');
        choices.push_back(choice);
    }
    return choices;
}

template <std::size_t N, std::size_t A>
std::string NamesListed(const std::array<std::string_view, N> &names, const std::array<Alias, A> &aliases,
                        bool withRandom = true)
{
    std::string text;
    for (const std::string &choice : NameChoices(names, aliases))
        if (withRandom || choice != "random")
            text += (text.empty() ? "" : ", ") + choice;
    return text;
}

// --priority: a number, or FACILITY.LEVEL as syslog.conf writes it.
int PriorityCode(std::string_view text)
{
    const std::size_t dot = text.find('.');
    // "12.5" is a number with a fraction, not ntp.notice.
    const bool named =
        std::any_of(text.begin(), text.end(), [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; });
    if (dot == std::string_view::npos || !named) {
        const auto number = InRange(text, 0, 255);
        return number ? *number : -1;
    }
    const int facility = CodeOrName(Vocabulary::FacilityNames, FacilityAliases, text.substr(0, dot), MaxFacility);
    const int level = CodeOrName(Vocabulary::LevelNames, LevelAliases, text.substr(dot + 1), MaxLevel);
    if (facility < 0 || facility > MaxFacility || level < 0 || level > MaxLevel)
        return -1;
    return facility * 8 + level;
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

using Parser = SendParser;
} // namespace

FlagGroup PriorityFlagGroup(const std::shared_ptr<SendParser> &p)
{
    Options &o = p->o;
    const auto facilityOrLevel = [p](std::string_view flag, int &index, auto names, auto aliases, int maxCode,
                                     std::string_view what) {
        return [p, flag, &index, names, aliases, maxCode, what](std::string_view value) -> Status {
            const int read = CodeOrName(names, aliases, value, maxCode);
            if (read < 0)
                return Parser::Bad(flag, value,
                                   "a " + std::string(what) + ": " + NamesListed(names, aliases) +
                                       ", or a number from 0 to " + std::to_string(maxCode));
            index = read;
            p->facilityOrLevelGiven = true;
            return {};
        };
    };
    return {FlagGroupId::Priority,
            "Priority",
            {
                {"--facility", "NAME|N|random",
                 "user (default), kern, mail, daemon, auth, syslog,\n"
                 "lpr, news, uucp, cron, authpriv, ftp, local0 ..\n"
                 "local7, the window's names (Kernel .. Local7), 0..23,\n"
                 "or random",
                 facilityOrLevel("--facility", o.facilityIndex, Vocabulary::FacilityNames, FacilityAliases, MaxFacility,
                                 "facility"),
                 NameChoices(Vocabulary::FacilityNames, FacilityAliases)},
                {"--level", "NAME|N|random",
                 "notice (default), emerg (panic), alert, crit,\n"
                 "err (error), warning (warn), info, debug, the\n"
                 "window's names (Emergency .. Debug), 0..7, or random",
                 facilityOrLevel("--level", o.levelIndex, Vocabulary::LevelNames, LevelAliases, MaxLevel, "level"),
                 NameChoices(Vocabulary::LevelNames, LevelAliases)},
                {"--priority", "N|FACILITY.LEVEL",
                 "raw priority 0..255, or local0.info, instead of\n"
                 "--facility and --level",
                 [&o](std::string_view value) -> Status {
                     const int priority = PriorityCode(value);
                     if (priority < 0)
                         return Parser::Bad(
                             "--priority", value,
                             "a priority from 0 to 255, or FACILITY.LEVEL such as local0.info (facility: " +
                                 NamesListed(Vocabulary::FacilityNames, FacilityAliases, false) +
                                 "; level: " + NamesListed(Vocabulary::LevelNames, LevelAliases, false) + ")");
                     o.usePriority = true;
                     o.priority = priority;
                     return {};
                 }},
            },
            "  Default: user.notice (<13>), as logger sends; --from-settings takes the\n"
            "  window's (random facility and level unless saved otherwise).",
            29};
}

FlagGroup MessageFlagGroup(const std::shared_ptr<SendParser> &p)
{
    Options &o = p->o;
    const auto set = SetsTrue;
    return {FlagGroupId::Message,
            "Message",
            {
                {"--message", "TEXT",
                 "text or template; \"####\" is numbered in\n"
                 "\"This is Syslog test message number ####\", and the\n"
                 "window's entries work: \"Random string of text\",\n"
                 "\"Test user connected to website http://###.###.###.###/index.html\",\n"
                 "\"MultiLine text message\", \"From tab delimited text file\",\n"
                 "\"From a Hex byte code text file. (One packet per line)\",\n"
                 "\"From a Ethereal capture file\"; HEX=.. sends raw bytes",
                 [p](std::string_view value) {
                     p->o.message = std::string(value);
                     p->messageGiven = true;
                     return Status{};
                 }},
                {"--multiline-file", "FILE", "text for \"MultiLine text message\" (- reads stdin)",
                 [&o](std::string_view value) -> Status {
                     if (value.empty())
                         return Parser::Fail("--multiline-file needs a file name, or - for standard input");
                     o.multiLineFile = std::string(value);
                     return {};
                 }},
                {"--source-file", "FILE",
                 "message-source file (the window's: tab-delimited\n"
                 "text, its fourth field sent; hex; or a capture of up\n"
                 "to 2 GiB); plain lines: --lines-file",
                 [p](std::string_view value) -> Status {
                     if (value.empty())
                         return Parser::Fail("--source-file needs a file name");
                     p->o.sourceFile = std::string(value);
                     p->sourceFileGiven = true;
                     return {};
                 }},
                {"--lines-file", "FILE",
                 "each line of FILE one message, in order, with the\n"
                 "header and priority flags (- reads stdin); without\n"
                 "a send option as fast as the target takes them,\n"
                 "without --count or --duration each line once",
                 [p](std::string_view value) -> Status {
                     if (value.empty())
                         return Parser::Fail("--lines-file needs a file name, or - for standard input");
                     p->o.linesFile = std::string(value);
                     return {};
                 }},
                {"--source-address", "A",
                 "\"Original Address=\": an address, an address ending\n"
                 "in ? (last group random), \"Random Class C addresses\",\n"
                 "\"Random host on this subnet\"",
                 [&o](std::string_view value) -> Status {
                     const std::string address = TrimSpaces(value);
                     if (!IsSourceAddressChoice(address))
                         return Parser::Bad("--source-address", value,
                                            "a dotted address (optionally ending in ?) or one of \"IP address of this "
                                            "machine\", \"Random Class C addresses\", \"Random host on this subnet\"");
                     o.sourceAddress = SourceAddressText(address);
                     return {};
                 }},
                {"--rfc-header", "", "RFC 3164 header (time stamp, host name, tag Quillon)",
                 [p](std::string_view) {
                     p->o.rfcHeader = true;
                     p->rfcHeaderGiven = true;
                     return Status{};
                 }},
                {"--tag", "NAME",
                 "the RFC 3164 tag, written NAME: or with --procid\n"
                 "NAME[ID]: (default: the bare tag Quillon); turns\n"
                 "on --rfc-header",
                 [p](std::string_view value) {
                     if (value.empty() || value.size() > 32)
                         return Parser::Bad("--tag", value, "a name of 1 to 32 characters");
                     for (const char c : value)
                         if (c == ':' || c == '[' || c == ']' || !NotPrintableAscii(c).empty())
                             return Parser::Bad("--tag", value,
                                                "a name without spaces, ':', '[' or ']' (as sshd or my-app)");
                     p->tagName = std::string(value);
                     p->o.rfcHeader = true;
                     return Status{};
                 }},
                {"--no-priority", "", "leave out the <PRI> part", set(o.noPriority)},
                {"--corrupt", "", "replace one character of each message at random", set(o.corrupt)},
                {"--oversize", "", "append 2048 spaces", set(o.oversize)},
                {"--size", "BYTES|MIN:MAX",
                 "pad (with x) or cut each message, the packet before\n"
                 "any framing, to BYTES, or to a size drawn from\n"
                 "MIN..MAX per message (repeatable with --seed); a\n"
                 "stamp is never cut",
                 [&o](std::string_view value) -> Status {
                     const std::size_t colon = value.find(':');
                     const auto low = InRange(value.substr(0, colon), 1, MaxMessageSize);
                     const auto high =
                         colon == std::string_view::npos ? low : InRange(value.substr(colon + 1), 1, MaxMessageSize);
                     if (!low || !high || *low > *high)
                         return Parser::Bad("--size", value,
                                            "a size in bytes from 1 to " + std::to_string(MaxMessageSize) +
                                                ", or MIN:MAX with MIN at most MAX");
                     o.sizeMin = static_cast<std::uint32_t>(*low);
                     o.sizeMax = static_cast<std::uint32_t>(*high);
                     return {};
                 }},
                {"--crlf", "",
                 "end each message in CR LF (the default on TCP\n"
                 "without --framing)",
                 [p](std::string_view) {
                     p->crlfFlag = true;
                     return Status{};
                 }},
                {"--no-crlf", "", "no CR LF, on TCP too (the messages run together)",
                 [p](std::string_view) {
                     p->crlfFlag = false;
                     return Status{};
                 }},
                {"--seed", "N",
                 "start the random choices from N, 0..2^64-1 (default:\n"
                 "the same start in every run, as in the window)",
                 [&o](std::string_view value) -> Status {
                     std::uint64_t seed = 0;
                     const char *end = value.data() + value.size();
                     const auto [at, error] = std::from_chars(value.data(), end, seed);
                     if (value.empty() || error != std::errc() || at != end)
                         return Parser::Bad("--seed", value, "a whole number from 0 to 18446744073709551615");
                     o.seed = seed;
                     return {};
                 }},
            }};
}

FlagGroup MessageFormatFlagGroup(const std::shared_ptr<SendParser> &p)
{
    Options &o = p->o;
    const auto header = [p](std::string_view flag, std::string (*check)(std::string_view),
                            std::string MessageFormatSettings::*field) {
        return [p, flag, check, field](std::string_view value) {
            return p->HeaderField(flag, value, check, p->o.messageFormat.*field);
        };
    };
    return {
        FlagGroupId::MessageFormat,
        "Message format and framing",
        {
            {"--format",
             "rfc3164|rfc5424",
             "rfc3164 (default): <PRI>, the header of\n"
             "--rfc-header, the text; rfc5424: <PRI>1 TIMESTAMP\n"
             "HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG",
             [&o](std::string_view value) -> Status {
                 const auto format = ParseMessageFormat(value);
                 if (!format)
                     return Parser::Bad("--format", value, "rfc3164 or rfc5424");
                 o.messageFormat.format = *format;
                 return {};
             },
             {"rfc3164", "rfc5424"}},
            {"--hostname", "NAME",
             "HOSTNAME (default: this machine's name; a\n"
             "--source-address address takes its place)",
             header("--hostname", CheckHostName, &MessageFormatSettings::hostName)},
            {"--app-name", "NAME", "APP-NAME (default Quillon)",
             header("--app-name", CheckAppName, &MessageFormatSettings::appName)},
            {"--procid", "ID", "PROCID (default: the process id)",
             header("--procid", CheckProcId, &MessageFormatSettings::procId)},
            {"--msgid", "ID", "MSGID (default -)", header("--msgid", CheckMsgId, &MessageFormatSettings::msgId)},
            {"--sd", "'ELEMENT'",
             "one SD element in RFC 5424 syntax, its escapes\n"
             "included: --sd '[test@32473 env=\"lab\" n=\"1\"]';\n"
             "repeat for more; --sd - for none (the default)",
             [p](std::string_view value) { return Parser::Noted(p->rfc5424FlagsGiven, "--sd", p->SdElement(value)); }},
            {"--bom", "", "a UTF-8 BOM before the RFC 5424 message text",
             [p](std::string_view) {
                 p->o.messageFormat.utf8Bom = true;
                 return Parser::Noted(p->rfc5424FlagsGiven, "--bom", {});
             }},
            {"--framing", FramingValue,
             "how TCP messages are told apart: after each an\n"
             "LF, CR LF or NUL, or before each its length in\n"
             "bytes and a space; none sends them as built.\n"
             "Default: octet-count over TLS and for RFC 5424\n"
             "over TCP, else none (RFC 3164 over TCP ends in\n"
             "CR LF). UDP datagrams are never framed; lf and\n"
             "crlf split multi-line messages (named on\n"
             "standard error)",
             [p](std::string_view value) -> Status {
                 p->framingFlag = ParseFraming(value);
                 if (!p->framingFlag)
                     return Parser::Bad("--framing", value, FramingList(SentFramings));
                 return {};
             },
             FramingChoices(SentFramings)},
        },
        "  Header values: printable US-ASCII, no spaces, \"-\" for none; at most 255,\n"
        "  48, 128 and 32 characters (host name, app name, procid, msgid).",
        29};
}
