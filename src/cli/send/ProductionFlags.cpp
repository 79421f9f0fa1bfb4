#include "cli/send/SendParser.h"

#include "cli/common/FlagValues.h"
#include "common/TextHelpers.h"
#include "engine/TemplatePacks.h"
#include "transport/ProxySources.h"

#include <string>
#include <vector>

// The groups of flags that make messages like production's: templates and
// packs, replayed files, and PROXY headers before each session.
namespace {
constexpr double MinReplaySpeed = 0.001;
constexpr double MaxReplaySpeed = 1000000;
constexpr double MinReplayGap = 0.001;
constexpr double MaxReplayGap = 1000000;

// The packs' names, and "list", for the shell completion.
std::vector<std::string> PackChoices()
{
    std::vector<std::string> names;
    for (const TemplatePack &pack : TemplatePacks())
        names.emplace_back(pack.name);
    names.emplace_back("list");
    return names;
}

using Parser = SendParser;
} // namespace

FlagGroup TemplateFlagGroup(const std::shared_ptr<SendParser> &p)
{
    return {FlagGroupId::Templates,
            "Templates and packs",
            {
                {"--template", "TEXT",
                 "each message's text made from TEXT, its ${...} fields\n"
                 "filled in per message (below), under the header\n"
                 "of --format; repeatable with --seed",
                 [p](std::string_view value) { return p->SetTemplates("--template", value); }},
                {"--template-file", "FILE",
                 "several templates, one a line, in turn, or by\n"
                 "weight when a line starts \"[weight=W app=NAME] \";\n"
                 "# starts a comment; ${line:F} files are found\n"
                 "beside FILE",
                 [p](std::string_view value) { return p->SetTemplates("--template-file", value); }},
                {"--pack", "NAME|list",
                 "a built-in set of templates of a common format:\n"
                 "cef, leef, json, apache, firewall, auth; list\n"
                 "names them with a sample each",
                 [p](std::string_view value) { return p->SetTemplates("--pack", value); }, PackChoices()},
            },
            "  Fields: ${ip} ${ipv6} ${uuid} ${int:A:B} ${hex:N} ${choice:A|B|C}\n"
            "  ${weighted:200=90,404=7,500=3} ${line:FILE} ${zipf:FILE:S} (the k-th line\n"
            "  with weight 1/k^S) ${counter} ${seq} ${pri} ${time:FORMAT} (rfc3339,\n"
            "  rfc3339_us, rfc3164, epoch, epoch_ms, apache, or strftime) and ${stamp}\n"
            "  (${stamp:tab}, ${stamp:json}, ${stamp:sd}): where --stamp puts the stamp,\n"
            "  else the header's place. \\ makes the next character plain; $${ is \"${\".\n"
            "  A stamp field writes its space, tab or comma only where the text before it\n"
            "  ends in none: 'k=v ${stamp}' and '{\"req\":\"${uuid}\",${stamp:json}}' stay\n"
            "  one space and one comma. Without a stamp field, RFC 3164 stamps a JSON\n"
            "  object as its last member ('{\"a\":1}' sends '{\"a\":1,\"quillon\":\"..\"}'),\n"
            "  other text with ' quillon=..' at its end; a text that ends in ] or > or\n"
            "  another } is a usage error: put ${stamp} where its fields go.\n"
            "  Stamps of cef, leef, firewall and json are their last field, of apache and\n"
            "  auth the header's.",
            29};
}

FlagGroup ReplayFlagGroup(const std::shared_ptr<SendParser> &p)
{
    return {FlagGroupId::Replay,
            "Replay",
            {
                {"--replay", "FILE",
                 "send the lines of a log file, each at its time since\n"
                 "the first: syslog files as rsyslog and syslog-ng\n"
                 "write them, or any lines that start with an RFC 3339\n"
                 "or RFC 3164 time (after a <PRI>, if any); a line\n"
                 "without one goes with the line before (see\n"
                 "--replay-lines)",
                 [p](std::string_view value) -> Status {
                     if (value.empty())
                         return Parser::Fail("--replay needs a file name");
                     if (value == "-")
                         return Parser::Fail("--replay needs a file: its times are read ahead of its lines, which "
                                             "standard input cannot give twice");
                     p->o.replayFile = std::string(value);
                     return p->SetPace("--replay", Pace::Replay);
                 }},
                {"--speed",
                 "X|max",
                 "X times as fast as the file's times, 0.001..1000000\n"
                 "(2: twice as fast; default 1), or max: as fast as\n"
                 "the target takes the lines",
                 [p](std::string_view value) -> Status {
                     const auto speed = PositiveNumber(value);
                     if (value != "max" && (!speed || *speed < MinReplaySpeed || *speed > MaxReplaySpeed))
                         return Parser::Bad("--speed", value, "a speed from 0.001 to 1000000, or max");
                     p->o.replaySpeed = value == "max" ? 0 : *speed;
                     return Parser::Noted(p->replayFlagsGiven, "--speed", {});
                 },
                 {"max"}},
                {"--max-gap", "SECONDS",
                 "no wait between lines longer than this, after\n"
                 "--speed, 0.001..1000000 (default 60): a line dated\n"
                 "far ahead does not hold the run; the summary counts\n"
                 "the gaps cut and the lines whose time went back",
                 [p](std::string_view value) -> Status {
                     const auto seconds = PositiveNumber(value);
                     if (!seconds || *seconds < MinReplayGap || *seconds > MaxReplayGap)
                         return Parser::Bad("--max-gap", value, "a number of seconds from 0.001 to 1000000");
                     p->o.replayMaxGap = *seconds;
                     return Parser::Noted(p->replayFlagsGiven, "--max-gap", {});
                 }},
                {"--loop", "",
                 "start the file over at its end, after its mean gap\n"
                 "between lines",
                 [p](std::string_view) {
                     p->o.replayLoop = true;
                     return Parser::Noted(p->replayFlagsGiven, "--loop", {});
                 }},
                {"--replay-lines",
                 "joined|separate",
                 "joined (default): the lines without a time after a\n"
                 "timed one go with it, one message of lines (up to\n"
                 "64 KiB); separate: each line a message",
                 [p](std::string_view value) -> Status {
                     if (value != "joined" && value != "separate")
                         return Parser::Bad("--replay-lines", value, "joined or separate");
                     p->o.replayJoinLines = value == "joined";
                     return Parser::Noted(p->replayFlagsGiven, "--replay-lines", {});
                 },
                 {"joined", "separate"}},
                {"--rewrite-time", "",
                 "each line's own time made the time it is sent, in\n"
                 "the line's form (RFC 3164 or RFC 3339, the local\n"
                 "offset)",
                 [p](std::string_view) {
                     p->o.replayRewriteTime = true;
                     return Parser::Noted(p->replayFlagsGiven, "--rewrite-time", {});
                 }},
            },
            "  Each line is the message text as the file holds it, its time and host\n"
            "  included: under the default header (RFC 3164 without --rfc-header) it\n"
            "  follows the <PRI>, so its time and host are the record's; --rfc-header\n"
            "  and --format rfc5424 put this sender's header (now, this host) before\n"
            "  it. Lines that carry their own <PRI> go as they stand with --no-priority.\n"
            "  --count and --duration end a replay early; --stamp stamps each line.\n"
            "  With --threads or --shard the lines are dealt in turn, each thread\n"
            "  sending its own in order at their times."};
}

FlagGroup ProxyFlagGroup(const std::shared_ptr<SendParser> &p)
{
    return {FlagGroupId::ProxyProtocol,
            "PROXY protocol",
            {
                {"--proxy-protocol",
                 "v1|v2",
                 "TCP and TLS: open each session (and each one\n"
                 "opened again) with a PROXY protocol header, v1 (text)\n"
                 "or v2 (binary), before TLS, as a load balancer in\n"
                 "front of the target would: it claims a client of\n"
                 "--proxy-source and names the target's address",
                 [p](std::string_view value) -> Status {
                     const std::string version = ToLowerAscii(value);
                     if (version != "v1" && version != "v2")
                         return Parser::Bad("--proxy-protocol", value, "v1 or v2");
                     p->o.proxyVersion = version == "v1" ? 1 : 2;
                     return {};
                 },
                 {"v1", "v2"}},
                {"--proxy-source", "ADDR[,ADDR...]|CIDR|random",
                 "the clients the headers claim, one per session:\n"
                 "addresses in turn (ADDR:PORT and [IPv6]:PORT keep a\n"
                 "port; others get a random one), a random host of a\n"
                 "network (10.0.0.0/8, 2001:db8::/48), or random\n"
                 "(random6: IPv6) unicast addresses (default random);\n"
                 "random draws repeat with --seed",
                 [p](std::string_view value) -> Status {
                     Result<ProxySources> sources = ProxySources::Parse(value);
                     if (!sources)
                         return Parser::Fail("--proxy-source: " + sources.Why());
                     p->o.proxySources = *std::move(sources);
                     p->proxySourceGiven = true;
                     return {};
                 }},
            }};
}
