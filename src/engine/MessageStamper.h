#pragma once

#include "engine/MessageComposer.h"
#include "engine/StampKey.h"

#include <cstdint>
#include <optional>
#include <string>

// Puts a delivery stamp on each composed message: in RFC 5424 an SD element
// after the message's own (or in place of "-"), in RFC 3164 the token at the
// end of the message. A "HEX=" packet goes out byte for byte, so it is left
// unstamped and takes no number. Stamping draws nothing from the random
// sequence, and the stamped parts are built in buffers kept from message to
// message. With a key each stamp carries its MAC.
class MessageStamper {
public:
    // run must pass IsValidRunId; key null: stamps without a MAC.
    MessageStamper(std::string run, std::uint64_t stream, const StampKey *key = nullptr);

    // The message with the next stamp, sent at sentUs; good until the next call.
    ComposedView Apply(const ComposedView &message, std::int64_t sentUs);

    // The number the next stamp takes, from 1; set back for messages that
    // never went out, so the numbers that leave run without gaps.
    std::uint64_t NextSeq() const { return m_next; }
    void SetNextSeq(std::uint64_t seq) { m_next = seq; }

    // The bytes the last stamp took at the end of an RFC 3164 message: the
    // token and the space before it; 0 when it was left unstamped or is RFC 5424.
    std::size_t TokenLength() const { return m_tokenLength; }
    // What TokenLength says of a stamp with these numbers.
    std::size_t TokenLengthOf(std::uint64_t seq, std::int64_t sentUs) const;

    // The MAC a stamp with these numbers carries; nothing without a key.
    std::optional<std::uint64_t> MacOf(std::uint64_t seq, std::int64_t sentUs) const;

    const std::string &Run() const { return m_run; }
    std::uint64_t Stream() const { return m_stream; }

private:
    std::string m_run;
    std::uint64_t m_stream;
    std::uint64_t m_next = 1;
    std::size_t m_tokenLength = 0;
    std::optional<StampMac> m_mac;
    // '[quillon@32473 run="RUN" stream="STREAM" seq="' and "quillon=RUN:STREAM:"
    std::string m_elementHead;
    std::string m_tokenHead;
    std::string m_body;
    std::string m_header;
};
