#pragma once

#include "cli/send/CommandLine.h"
#include "common/Clock.h"
#include "common/SendState.h"
#include "engine/MessageComposer.h"
#include "engine/Priority.h"
#include "sources/SourceFile.h"

#include <optional>
#include <string>

// The packets of a run, composed one at a time exactly as the window's send
// tick composes them: message, then priority, then the packet bytes, so the
// random draws come in the same order whether packets go out singly or in
// batches. Over TCP each is framed as the options say, where it was built.
class PacketStream {
public:
    // hostName and subnetPrefix are the local machine's, for the RFC header
    // and "Random host on this subnet". A seed restarts the program's random
    // sequence.
    PacketStream(const Options &options, const std::string &hostName, const std::string &subnetPrefix);

    std::string Next();
    // The next packet appended to out, whose capacity can be kept.
    void AppendNext(std::string &out);

    const SendState &State() const { return m_state; }

private:
    SendState m_state;
    FixedComposeInputs m_composeInputs;
    FixedPriorityInputs m_priorityInputs;
    SystemClock m_clock;
    SourceFile m_source;
    MessageComposer m_composer;
    SendingKind m_kind;
    std::optional<std::int16_t> m_typedPriority;
    bool m_noPriority;
    bool m_oversize;
    bool m_crlf;
    Framing m_framing;
};
