#pragma once

#include "engine/Framing.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class MessageFormat { Rfc3164, Rfc5424 };

// Names for flags and the settings store, in enum order.
inline constexpr std::array<std::string_view, 2> MessageFormatNames = {"rfc3164", "rfc5424"};

std::string_view MessageFormatName(MessageFormat format);
// Any ASCII case; nothing for an unknown name.
std::optional<MessageFormat> ParseMessageFormat(std::string_view name);

inline constexpr std::string_view DefaultAppName = "Quillon";
inline constexpr std::string_view NilValue = "-";

// The settings of the message format and framing. Host name and process id
// left empty mean the machine's name and this process's id.
struct MessageFormatSettings {
    MessageFormat format = MessageFormat::Rfc3164;
    std::string hostName;
    std::string appName = std::string(DefaultAppName);
    std::string procId;
    std::string msgId = std::string(NilValue);
    // Each an SD element as it goes on the wire (see StructuredData.h).
    std::vector<std::string> sdElements;
    bool utf8Bom = false;
    Framing framing = Framing::None;
    // The RFC 3164 tag as written, its colon included ("sshd[42]:"); empty:
    // the bare tag Quillon, as the window writes it.
    std::string rfc3164Tag;
};

// Each gives an error text in the user's words, or nothing when the value
// may stand in its header field ("-" is the RFC's empty value).
[[nodiscard]] std::string CheckHostName(std::string_view value);
[[nodiscard]] std::string CheckAppName(std::string_view value);
[[nodiscard]] std::string CheckProcId(std::string_view value);
[[nodiscard]] std::string CheckMsgId(std::string_view value);

// Why a character may not stand in a header field or SD name ("contains a
// space"), or nothing for printable US-ASCII (33 to 126).
std::string NotPrintableAscii(char c);

// " 'value'" when every character shows on a terminal, or nothing: for
// naming a value in an error text.
std::string QuotedIfPrintable(std::string_view value);

// The first problem of the settings as a whole, or nothing.
[[nodiscard]] std::string CheckMessageFormatSettings(const MessageFormatSettings &settings);

// This process's id in decimal.
std::string DefaultProcId();
