// Feeds bytes to the frame splitter whole and in pieces of varying size:
// the frames and counts must not depend on how the stream was cut, no frame
// may exceed the limit and what is held stays within its bound. Then the
// same bytes, as junk between valid octet-counted frames, must cost only
// the junk: every frame comes out, in order, and each stretch of junk
// counts as malformed at most once; junk of digits alone, which merges with
// the next length, or digits and a space, costs no frame either.
//
// bash scripts/fuzz.sh 60 FrameSplitterFuzz
#include "FuzzSupport.h"
#include "transport/FrameSplitter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {
struct Collect final : FrameHandler {
    std::vector<std::string> frames;
    std::size_t limit = 0;
    void OnFrame(std::string_view frame) override
    {
        FuzzCheck(!frame.empty() && frame.size() <= limit, "a frame is never empty nor over the limit");
        frames.emplace_back(frame);
    }
};

void FeedInPieces(FrameSplitter &splitter, std::string_view bytes, std::uint32_t cuts, std::size_t maxFrame,
                  Collect &collect)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        cuts = cuts * 1103515245u + 12345u;
        const std::size_t length = 1 + (cuts >> 16) % 7;
        splitter.Feed(bytes.substr(at, length), collect);
        at += length;
        FuzzCheck(splitter.Buffered() <= maxFrame + FrameSplitter::Slack, "what is held stays within its bound");
    }
    splitter.Finish(collect);
}

// Junk that cannot make a frame of its own (no '<', no space) nor touch a
// header (it neither starts nor ends in a digit): whatever it holds, the
// frames around it must come out whole. (Junk digits glued to a header are
// told apart by what follows, which junk can imitate.)
void CheckJunkCostsOnlyTheJunk(std::string_view input, std::uint32_t cuts)
{
    constexpr std::size_t MaxFrame = 64;
    std::string stream;
    std::vector<std::string> messages;
    std::size_t stretches = 0;
    while (!input.empty() && messages.size() < 64) {
        messages.push_back("<1>v" + std::to_string(messages.size()));
        stream += std::to_string(messages.back().size()) + " " + messages.back();
        std::string junk(input.substr(0, 1 + static_cast<unsigned char>(input[0]) % 24));
        input.remove_prefix(junk.size());
        for (char &c : junk)
            if (c == '<' || c == ' ')
                c = '#';
        if ((junk[0] >= '0' && junk[0] <= '9') || junk[0] == '\n' || junk[0] == '\r' || junk[0] == '\0')
            junk[0] = '#';
        if (junk.back() >= '0' && junk.back() <= '9')
            junk.back() = '#';
        stream += junk;
        ++stretches;
    }
    FrameSplitter splitter(Framing::OctetCount, MaxFrame);
    Collect collect;
    collect.limit = MaxFrame;
    FeedInPieces(splitter, stream, cuts, MaxFrame, collect);
    FuzzCheck(collect.frames == messages, "every frame around the junk comes out whole, in order");
    FuzzCheck(splitter.Counts().malformed <= stretches, "a stretch of junk counts as malformed at most once");
}

// Junk of one to five digits after each frame merges with the next length,
// and messages may end in digits as a stamped one does: still no frame is
// lost, as long as no message holds a space (a quoted header could stand
// where a shorter length would end). Junk that is a length of its own
// (digits and a space, after every frame) costs no frame either, however far
// it reaches, and counts as malformed once.
void CheckDigitJunkCostsNoFrame(std::string_view input, std::uint32_t cuts)
{
    constexpr std::size_t MaxFrame = 64;
    const bool lengths = (cuts & 2) != 0;
    std::string stream;
    std::vector<std::string> messages;
    while (input.size() >= 2 && messages.size() < 64) {
        const auto shape = static_cast<unsigned char>(input[0]);
        const std::size_t junk = std::min<std::size_t>(1 + shape % 5, input.size() - 1);
        messages.push_back("<1>v" + std::to_string(messages.size()) + std::string(shape / 5 % 17, '7'));
        stream += std::to_string(messages.back().size()) + " " + messages.back();
        for (char c : input.substr(1, junk))
            stream.push_back(static_cast<char>('0' + static_cast<unsigned char>(c) % 10));
        if (lengths)
            stream.push_back(' ');
        input.remove_prefix(1 + junk);
    }
    FrameSplitter splitter(Framing::OctetCount, MaxFrame);
    Collect collect;
    collect.limit = MaxFrame;
    FeedInPieces(splitter, stream, cuts, MaxFrame, collect);
    FuzzCheck(collect.frames == messages, "digit junk between frames costs no frame");
    if (lengths)
        FuzzCheck(splitter.Counts().malformed <= messages.size(), "a junk length counts as malformed at most once");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const Framing framing = ReceivedFramings[data[0] % ReceivedFramings.size()];
    const std::size_t maxFrame = 1 + data[1] % 64;
    const std::uint32_t cuts = data[2] | 1u;
    const std::string_view bytes(reinterpret_cast<const char *>(data + 3), size - 3);

    FrameSplitter whole(framing, maxFrame);
    Collect wholeFrames;
    wholeFrames.limit = maxFrame;
    whole.Feed(bytes, wholeFrames);
    whole.Finish(wholeFrames);

    FrameSplitter pieces(framing, maxFrame);
    Collect pieceFrames;
    pieceFrames.limit = maxFrame;
    FeedInPieces(pieces, bytes, cuts, maxFrame, pieceFrames);

    const FrameCounts &a = whole.Counts();
    const FrameCounts &b = pieces.Counts();
    FuzzCheck(wholeFrames.frames == pieceFrames.frames && a.frames == b.frames && a.malformed == b.malformed &&
                  a.oversize == b.oversize && a.frames == wholeFrames.frames.size() &&
                  whole.FramingInUse() == pieces.FramingInUse(),
              "the outcome does not depend on how the stream was cut");

    CheckJunkCostsOnlyTheJunk(bytes, cuts);
    CheckDigitJunkCostsNoFrame(bytes, cuts);
    return 0;
}
