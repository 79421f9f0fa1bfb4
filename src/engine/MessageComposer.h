#pragma once

#include "common/SendState.h"

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
} // namespace MessageEntries

namespace SourceEntries {
inline constexpr std::string_view ThisMachine = "IP address of this machine";
inline constexpr std::string_view RandomClassC = "Random Class C addresses";
inline constexpr std::string_view RandomSubnet = "Random host on this subnet";
} // namespace SourceEntries

inline constexpr std::string_view RfcTag = "Quillon";

struct ComposedMessage {
    std::string MessageBody;
    std::string OriginalAddressText;
    std::string RfcHeaderText;
};

// The same parts as views: into the composer's own buffers or the state's
// texts, good until the next message is composed or the state changes.
struct ComposedView {
    std::string_view MessageBody;
    std::string_view OriginalAddressText;
    std::string_view RfcHeaderText;
};

// What the composer reads live for every message.
class ComposeInputs {
public:
    virtual ~ComposeInputs() = default;
    virtual bool RfcHeaderChecked() const = 0;
    virtual std::string LocalHostName() const = 0;
};

class FixedComposeInputs final : public ComposeInputs {
public:
    bool rfcHeader = false;
    std::string hostName = "localhost";
    bool RfcHeaderChecked() const override { return rfcHeader; }
    std::string LocalHostName() const override { return hostName; }
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

private:
    std::string_view Body();
    std::string_view SourceText(SendingKind kind);
    std::string_view Header();

    SendState &m_state;
    const ComposeInputs &m_inputs;
    const Clock &m_clock;
    SourceFile &m_source;
    std::string m_body;
    std::string m_sourceText;
    std::string m_header;
};

std::string RandomClassCAddress();
std::string RandomSubnetHost(const SendState &state);
std::string RandomText();
bool IsDottedQuad(std::string_view text);
