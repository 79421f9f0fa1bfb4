#pragma once

#include "common/Framing.h"

#include <cstdint>
#include <string>
#include <string_view>

class FrameHandler {
public:
    virtual void OnFrame(std::string_view frame) = 0;

protected:
    ~FrameHandler() = default;
};

struct FrameCounts {
    std::uint64_t frames = 0;
    // Junk between frames (a bad or absurd length, bytes that are no
    // frame), one per stretch, or a stream cut inside a frame.
    std::uint64_t malformed = 0;
    // Longer than the limit: skipped whole.
    std::uint64_t oversize = 0;

    FrameCounts &operator+=(const FrameCounts &other)
    {
        frames += other.frames;
        malformed += other.malformed;
        oversize += other.oversize;
        return *this;
    }
};

// Cuts one connection's byte stream into messages, framed as one of
// ReceivedFramings says. Auto decides per connection: a digit first means
// octet counting; otherwise the first record decides: one that ends in NUL
// before the next message makes the connection NUL framed (an LF inside is
// part of the message), else LF (a CR before it dropped) and NUL both end
// a message. None, which tells no messages apart, is read as Auto's text.
//
// Bytes may come in pieces of any size and the outcome never depends on
// where they were cut; a message that lies whole in one piece is handed on
// without a copy, others are gathered in a buffer that never grows past
// Buffered()'s bound.
//
// Octet counting: a length is taken only where its message starts with
// "<PRI>", as a syslog message does; other lengths are junk. A frame whose
// message holds what looks like a header, where a shorter tail of its
// length's digits would end the frame before that header, was a real
// header behind junk digits ("7" then "109 <13>..."): the junk goes. Where
// the tail ends the frame right at the next header (or at junk digits that
// end the stream) that is sure; otherwise the bytes after the whole frame
// may still show it was one. Other junk is counted as malformed once per
// stretch and passed over up to the next "LEN SP <"; until a frame follows
// another without junk between, a frame over the limit counts as junk too.
// A frame over the limit but at most SkipFactor times it is skipped by its
// length.
//
// Text: a message without a trailer that grows past the limit is skipped up
// to its trailer. Empty messages (two trailers in a row) are passed over.
class FrameSplitter {
public:
    static constexpr std::uint64_t SkipFactor = 16;
    // What is held beyond a message of the limit: its length and a look at
    // the header after it.
    static constexpr std::size_t Slack = 32;

    FrameSplitter(Framing framing, std::size_t maxFrame);
    void Feed(std::string_view bytes, FrameHandler &handler);
    // The stream ended: a message still waiting for its trailer is handed
    // on; an octet-counted frame cut short counts as malformed.
    void Finish(FrameHandler &handler);
    // The stream is cut off: what is held is dropped, a part of a message
    // counted as malformed.
    void Abandon();

    const FrameCounts &Counts() const { return m_counts; }
    // Whether the stream is read as octet counted; with Auto, false until
    // the first byte decides.
    bool OctetCounted() const { return m_octet; }
    // The framing in use: with Auto, Auto until the stream shows its own,
    // then OctetCount, Nul, or Lf (where NUL ends a message too).
    Framing FramingInUse() const;
    // At most the limit plus Slack.
    std::size_t Buffered() const { return m_buffer.size() - m_bufferAt; }

private:
    enum class State { Start, Octet, Record, Text, TextSkip };
    // What the octet-counted bytes at hand are.
    struct Step {
        enum class Kind { More, Junk, Blank, Frame, Skip } kind = Kind::More;
        // More: the bytes needed from the start; otherwise the bytes used.
        std::size_t size = 0;
        // Frame: where the message lies.
        std::size_t offset = 0;
        std::size_t length = 0;
    };
    struct Candidate;

    void FeedOctet(std::string_view bytes, FrameHandler &handler, bool end);
    Step DecideOctet(std::string_view data, bool end) const;
    Step Examine(std::string_view data, std::size_t start, bool end) const;
    void Apply(const Step &step, std::string_view data, FrameHandler &handler);
    void Consume(std::size_t used);
    std::size_t FeedRecord(std::string_view bytes, FrameHandler &handler);
    std::size_t FeedText(std::string_view bytes, FrameHandler &handler);
    // Where the byte that ends a message (LF or NUL) lies in bytes; npos
    // when there is none.
    std::size_t FindTrailer(std::string_view bytes) const;
    void Deliver(std::string_view frame, FrameHandler &handler);

    Framing m_framing;
    std::size_t m_maxFrame;
    State m_state = State::Start;
    bool m_octet = false;
    // Octet counting: bytes not decided yet, from m_bufferAt on; text: the
    // part of a message read so far.
    std::string m_buffer;
    std::size_t m_bufferAt = 0;
    // Bytes of an oversize frame still to skip.
    std::uint64_t m_skip = 0;
    // Whether frames follow each other without junk between.
    bool m_inStep = true;
    // Junk seen since the last frame, counted once.
    bool m_junk = false;
    // Record: how far the first record was searched for its end.
    std::size_t m_searched = 0;
    // The last byte seen in Text states, for a CR LF split between pieces.
    char m_lastByte = 0;
    FrameCounts m_counts;
};
