#pragma once

#include "engine/MessageFormat.h"

#include <string>
#include <vector>

class SettingsFile;

// The message format and framing in the settings store, shared by the window
// and quillon-send. Keys of group Settings, every value text:
//   MessageFormat          "RFC 3164" | "RFC 5424"
//   Rfc5424HostName        empty: the machine's name
//   Rfc5424AppName, Rfc5424MsgId
//   Rfc5424ProcId          empty: the process id
//   Rfc5424StructuredData  SD elements in RFC 5424 syntax one after another;
//                          "-" or empty for none
//   Rfc5424Bom             0 | 1
//   StreamFraming          none | lf | crlf | nul | octet-count
namespace MessageFormatKeys {
inline constexpr const char *Format = "MessageFormat";
inline constexpr const char *HostName = "Rfc5424HostName";
inline constexpr const char *AppName = "Rfc5424AppName";
inline constexpr const char *ProcId = "Rfc5424ProcId";
inline constexpr const char *MsgId = "Rfc5424MsgId";
inline constexpr const char *StructuredData = "Rfc5424StructuredData";
inline constexpr const char *Bom = "Rfc5424Bom";
inline constexpr const char *Framing = "StreamFraming";
} // namespace MessageFormatKeys

// A missing key gives its field's default (RFC 3164, framing none: the bytes
// of a store written before these keys existed). A stored value that fails
// the checks gives its field's default too, so a hand-edited file never
// stops a run; each such value adds "Key: why" to ignored when it is given.
MessageFormatSettings LoadMessageFormat(const SettingsFile &store, std::vector<std::string> *ignored = nullptr);

// Writes every key; the caller syncs the store.
void SaveMessageFormat(SettingsFile &store, const MessageFormatSettings &settings);

// "RFC 3164" or "RFC 5424", as stored and shown.
std::string MessageFormatLabel(MessageFormat format);
