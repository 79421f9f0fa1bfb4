#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The framing a receiver expects on a stream: one of the sender's (Framing,
// less None), or Auto, which decides at the first byte of the
// connection: a digit means octet counting; anything else means a trailer,
// where LF (a CR before it dropped) and NUL both end a message.
enum class StreamFraming { Auto, OctetCount, Lf, CrLf, Nul };

class FrameHandler {
public:
    virtual void OnFrame(std::string_view frame) = 0;

protected:
    ~FrameHandler() = default;
};

struct FrameCounts {
    std::uint64_t frames = 0;
    // A length that is not a number, is absurd, or a stream cut inside a frame.
    std::uint64_t malformed = 0;
    // Longer than the limit: skipped whole.
    std::uint64_t oversize = 0;
};

// Cuts one connection's byte stream into messages. Bytes may come in pieces
// of any size; a message that lies whole in one piece is handed on without a
// copy, others are gathered in a buffer that never grows past the limit.
//
// Bad input never stalls the stream: an octet-counted frame longer than the
// limit but at most SkipFactor times it is skipped by its length; a length
// beyond that, or a header that is not "NONZERO-DIGITS SP", is counted as
// malformed and the stream is searched for the next "LEN SP <" to go on from.
// A message without a trailer that grows past the limit is skipped up to
// its trailer. Empty messages (two trailers in a row) are passed over.
class FrameSplitter {
public:
    static constexpr std::uint64_t SkipFactor = 16;

    FrameSplitter(StreamFraming framing, std::size_t maxFrame);
    void Feed(std::string_view bytes, FrameHandler &handler);
    // The stream ended: a message still waiting for its trailer is handed
    // on; an octet-counted frame cut short counts as malformed.
    void Finish(FrameHandler &handler);

    const FrameCounts &Counts() const { return m_counts; }
    // Whether the stream is read as octet counted; with Auto, false until
    // the first byte decides.
    bool OctetCounted() const { return m_octet; }
    std::size_t Buffered() const { return m_buffer.size(); }

private:
    enum class State { Start, Header, Body, Skip, Resync, Text, TextSkip };

    std::size_t FeedHeader(std::string_view bytes);
    std::size_t FeedBody(std::string_view bytes, FrameHandler &handler);
    std::size_t FeedResync(std::string_view bytes);
    std::size_t FeedText(std::string_view bytes, FrameHandler &handler);
    // Where the byte that ends a message (LF or NUL) lies in bytes; npos
    // when there is none.
    std::size_t FindTrailer(std::string_view bytes) const;
    void Deliver(std::string_view frame, FrameHandler &handler);
    void StartResync();

    StreamFraming m_framing;
    std::size_t m_maxFrame;
    State m_state = State::Start;
    bool m_octet = false;
    std::string m_buffer;
    std::uint64_t m_length = 0;
    int m_digits = 0;
    bool m_sawSpace = false;
    // The last byte seen in Text states, for a CR LF split between pieces.
    char m_lastByte = 0;
    FrameCounts m_counts;
};
