#pragma once

#include "common/SendState.h"
#include "engine/MessageFormat.h"
#include "engine/Rfc3339Timestamp.h"

#include <string>
#include <string_view>

class Clock;
class SourceFile;

// Entries of the message list that select generated content.
namespace MessageEntries {
inline constexpr std::string_view NumberedPhrase = "this is syslog test message number ####";
inline constexpr std::string_view WebAccess = "Test user connected to website http://###.###.###.###/index.html";
inline constexpr std::string_view MultiLine = "MultiLine text message";
inline constexpr std::string_view RandomString = "Random string of text";
inline constexpr std::string_view TabDelimitedFile = "From tab delimited text file";
inline constexpr std::string_view HexFile = "From a Hex byte code text file. (One packet per line)";
inline constexpr std::string_view CaptureFile = "From a Ethereal capture file";
// Where the numbered phrase's number goes: each one in the text.
inline constexpr std::string_view NumberMark = "####";
} // namespace MessageEntries

namespace SourceEntries {
inline constexpr std::string_view ThisMachine = "IP address of this machine";
inline constexpr std::string_view RandomClassC = "Random Class C addresses";
inline constexpr std::string_view RandomSubnet = "Random host on this subnet";
// Before a simulated source address in an RFC 3164 message.
inline constexpr std::string_view AddressLead = "Original Address=";
} // namespace SourceEntries

inline constexpr std::string_view RfcTag = "Quillon";

struct ComposedView;

// RFC 3164: the packet is PRI, header, source text and body. RFC 5424: the
// header runs from VERSION to STRUCTURED-DATA, the simulated source address
// is its HOSTNAME and there is no source text.
struct ComposedMessage {
    std::string MessageBody;
    std::string OriginalAddressText;
    std::string RfcHeaderText;
    // The simulated source address, empty when none is in use.
    std::string SourceAddress;
    MessageFormat Format = MessageFormat::Rfc3164;
    bool Utf8Bom = false;

    ComposedView View() const;
};

// The same parts as views: into the composer's own buffers or the state's
// texts, good until the next message is composed or the state changes.
struct ComposedView {
    std::string_view MessageBody;
    std::string_view OriginalAddressText;
    std::string_view RfcHeaderText;
    std::string_view SourceAddress;
    MessageFormat Format = MessageFormat::Rfc3164;
    bool Utf8Bom = false;
};

// What the composer reads live for every message.
class ComposeInputs {
public:
    virtual ~ComposeInputs() = default;
    virtual bool RfcHeaderChecked() const = 0;
    virtual std::string LocalHostName() const = 0;
    // The header as logger and syslog() write it to a local socket: no host
    // name, the tag ending in a colon, so the local daemon reads the tag.
    virtual bool LocalHeader() const { return false; }
};

class FixedComposeInputs final : public ComposeInputs {
public:
    bool rfcHeader = false;
    std::string hostName = "localhost";
    bool localHeader = false;
    bool RfcHeaderChecked() const override { return rfcHeader; }
    std::string LocalHostName() const override { return hostName; }
    bool LocalHeader() const override { return localHeader; }
};

enum class SendingKind { Single, Burst };

class MessageComposer {
public:
    MessageComposer(SendState &state, const ComposeInputs &inputs, const Clock &clock, SourceFile &source);

    // Body, then source text, then header; random draws in that order.
    ComposedMessage ComposeMessage(SendingKind kind);
    // The same draws and texts; a plain message text is not copied, and the
    // buffers keep their capacity from message to message.
    ComposedView ComposeView(SendingKind kind);

    // The format of the following messages. Its fields are read here, once:
    // an empty host name is the ComposeInputs' one, an empty process id this
    // process's. RFC 3164 (the default) ignores them.
    void UseFormat(const MessageFormatSettings &settings);

private:
    std::string_view Body();
    // Sets m_sourceAddress too.
    std::string_view SourceText(SendingKind kind);
    std::string_view SourceTextOf(SendingKind kind);
    std::string_view Header();
    std::string_view Rfc5424Header();

    SendState &m_state;
    const ComposeInputs &m_inputs;
    const Clock &m_clock;
    SourceFile &m_source;
    std::string m_body;
    std::string m_sourceText;
    std::string_view m_sourceAddress;
    std::string m_header;
    std::string m_rfc5424Header;
    // Whether m_rfc5424Header holds this machine's (not a simulated) host
    // and the current settings, so within its second only the fraction changes.
    bool m_rfc5424HeaderKept = false;
    MessageFormat m_format = MessageFormat::Rfc3164;
    bool m_utf8Bom = false;
    std::string m_rfc3164Tag;
    std::string m_rfc5424Host;
    // " APP-NAME PROCID MSGID STRUCTURED-DATA", the same for every message.
    std::string m_rfc5424Tail;
    Rfc3339Timestamp m_timestamp;
};

std::string RandomClassCAddress();
std::string RandomSubnetHost(const SendState &state);
std::string RandomText();
bool IsDottedQuad(std::string_view text);
// The numbered phrase in any ASCII case: the composer numbers the message.
bool ContainsNumberedPhrase(std::string_view text);
