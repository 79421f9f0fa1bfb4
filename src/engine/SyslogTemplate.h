#pragma once

#include "engine/MessageFormat.h"
#include "engine/MessageTemplate.h"

#include <optional>
#include <string>
#include <string_view>

class Clock;

// A whole syslog message as one template: the header's slots (priority,
// time, host, stamp) composed once around a message template, so a message
// is rendered in one pass into the batch.
struct SyslogTemplateSettings {
    // Format, APP-NAME, PROCID, MSGID, SD elements and BOM; an empty host
    // name is hostName below, an empty process id this process's.
    MessageFormatSettings format;
    std::string hostName = "localhost";
    // RFC 3164: "Mmm dd hh:mm:ss HOST TAG " before the message.
    bool rfc3164Header = false;
    // That header as logger writes it to a local socket: "Mmm dd hh:mm:ss
    // TAG: ", no host name.
    bool localHeader = false;
    // The host is the context's texts[0] (a simulated source chosen per
    // message) instead of a fixed name.
    bool hostFromContext = false;
    bool noPriority = false;
    // A priority the same for every message, written once instead of the context's.
    std::optional<int> priority;
    // A stamp slot where the format keeps it: the SD element of RFC 5424,
    // the token at the end of RFC 3164. Leave it off for a message template
    // that has a stamp slot of its own.
    bool stamped = false;
    // The RFC 3164 token takes the space that ends the text before it, as
    // MessageStamper puts it, instead of a space of its own.
    bool stampSharesSpace = false;
    // After the message: "\r\n", "\n" or nothing.
    std::string lineEnd;
};

// RFC 5424: <PRI>1 TIMESTAMP HOST APP PROCID MSGID SD[ MSG], the time in
// microseconds with the local offset, as MessageComposer writes it.
// RFC 3164: <PRI>[Mmm dd hh:mm:ss HOST TAG ]MSG[ quillon=...].
// app, when not empty, stands for the settings' APP-NAME and the RFC 3164
// tag (a template set's entry's own).
MessageTemplate SyslogMessageTemplate(const SyslogTemplateSettings &settings, const MessageTemplate &message,
                                      const Clock &clock, std::string_view app = {});
