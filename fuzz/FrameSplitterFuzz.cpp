// Feeds bytes to the frame splitter whole and in pieces of varying size:
// the frames and counts must not depend on how the stream was cut, no frame
// may exceed the limit and the buffer must stay bounded.
//
// bash scripts/fuzz.sh 60 FrameSplitterFuzz
#include "transport/FrameSplitter.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
struct Collect final : FrameHandler {
    std::vector<std::string> frames;
    std::size_t limit = 0;
    void OnFrame(std::string_view frame) override
    {
        if (frame.empty() || frame.size() > limit)
            std::abort();
        frames.emplace_back(frame);
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const auto framing = static_cast<StreamFraming>(data[0] % 5);
    const std::size_t maxFrame = 1 + data[1] % 64;
    std::uint32_t cuts = data[2] | 1u;
    const std::string_view bytes(reinterpret_cast<const char *>(data + 3), size - 3);

    FrameSplitter whole(framing, maxFrame);
    Collect wholeFrames;
    wholeFrames.limit = maxFrame;
    whole.Feed(bytes, wholeFrames);
    whole.Finish(wholeFrames);

    FrameSplitter pieces(framing, maxFrame);
    Collect pieceFrames;
    pieceFrames.limit = maxFrame;
    std::size_t at = 0;
    while (at < bytes.size()) {
        cuts = cuts * 1103515245u + 12345u;
        const std::size_t length = 1 + (cuts >> 16) % 7;
        pieces.Feed(bytes.substr(at, length), pieceFrames);
        at += length;
        if (pieces.Buffered() > maxFrame + 1)
            std::abort();
    }
    pieces.Finish(pieceFrames);

    const FrameCounts &a = whole.Counts();
    const FrameCounts &b = pieces.Counts();
    if (wholeFrames.frames != pieceFrames.frames || a.frames != b.frames || a.malformed != b.malformed ||
        a.oversize != b.oversize || a.frames != wholeFrames.frames.size())
        std::abort();
    return 0;
}
