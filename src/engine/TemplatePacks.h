#pragma once

#include "engine/TemplateSet.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Built-in template sets of common log formats, with realistic values and
// mixes, for --pack NAME.
//
// Where each keeps the delivery stamp (Stamp.h), which FindStamp reads:
//   cef       the last extension:            ... cs1=edge-default quillon=RUN:STREAM:SEQ:T
//   leef      the last attribute, after a tab: ...<TAB>quillon=RUN:STREAM:SEQ:T
//   firewall  the last key=value pair:        ... session_id=4411 quillon=RUN:STREAM:SEQ:T
//   json      the object's last member:       ...,"quillon":"RUN:STREAM:SEQ:T"}
//   apache, auth  none of their own: the syslog header's place, the SD
//             element of RFC 5424 or the token at the end of RFC 3164
// (a keyed stamp adds ":MAC" to the value).
struct TemplatePack {
    std::string_view name;
    std::string_view summary;
    std::vector<TemplateEntry> entries;
    // Whether the pack's templates carry the stamp themselves; if not, the
    // syslog header does (SyslogTemplateSettings::stamped).
    bool stampsItself = false;
};

std::span<const TemplatePack> TemplatePacks();
// Nothing for an unknown name.
const TemplatePack *FindTemplatePack(std::string_view name);

// The pack's templates, chosen by weight.
Result<TemplateSet> CompileTemplatePack(const TemplatePack &pack, const MessageTemplate::Options &options);

// One message of the pack as --pack list shows it, the same every time: the
// random sequence restarted from a fixed state, a fixed time in UTC and a
// sample stamp where the pack keeps its own.
std::string TemplatePackSample(const TemplatePack &pack);
