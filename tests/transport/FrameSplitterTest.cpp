#include "transport/FrameSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {
struct Collect final : FrameHandler {
    std::vector<std::string> frames;
    void OnFrame(std::string_view frame) override { frames.emplace_back(frame); }
};

struct Outcome {
    std::vector<std::string> frames;
    std::uint64_t malformed = 0;
    std::uint64_t oversize = 0;
};

Outcome Split(StreamFraming framing, std::size_t maxFrame, const std::string &bytes, std::size_t piece)
{
    FrameSplitter splitter(framing, maxFrame);
    Collect collect;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        splitter.Feed(std::string_view(bytes).substr(at, piece), collect);
        EXPECT_LE(splitter.Buffered(), maxFrame + 1);
    }
    splitter.Finish(collect);
    EXPECT_EQ(splitter.Counts().frames, collect.frames.size());
    return {collect.frames, splitter.Counts().malformed, splitter.Counts().oversize};
}

// Every case is cut whole, byte by byte and in pieces of 2, 3 and 7: the
// outcome must not depend on where the reads split the stream.
TEST(FrameSplitter, FramesAndSkipsTheSameHoweverTheStreamIsCut)
{
    using F = StreamFraming;
    struct Case {
        const char *name;
        StreamFraming framing;
        std::size_t maxFrame;
        std::string bytes;
        std::vector<std::string> frames;
        std::uint64_t malformed;
        std::uint64_t oversize;
    };
    const Case cases[] = {
        {"octet", F::OctetCount, 64, "5 <13>a3 <1>11 <13>x y\nz\r\0"s, {"<13>a", "<1>", "<13>x y\nz\r\0"s}, 0, 0},
        {"octet, stray trailers between frames", F::OctetCount, 64, "\n3 <1>\r\n2 ab", {"<1>", "ab"}, 0, 0},
        {"octet, auto", F::Auto, 64, "\r\n5 <13>a5 <13>b", {"<13>a", "<13>b"}, 0, 0},
        {"octet, over the limit: skipped by length", F::OctetCount, 8, "12 <13>abcdefgh4 <1>x", {"<1>x"}, 0, 1},
        {"octet, absurd length: resync", F::OctetCount, 8, "99999999999 junk 4 <1>x", {"<1>x"}, 1, 0},
        {"octet, length beyond skipping", F::OctetCount, 8, "200 <13>zz 3 <1>", {"<1>"}, 1, 0},
        {"octet, not a number", F::OctetCount, 64, "<13>a\n4 <1>x", {"<1>x"}, 1, 0},
        {"octet, leading zero", F::OctetCount, 64, "04 <1>x3 <1>", {"<1>x", "<1>"}, 1, 0},
        {"octet, no space", F::OctetCount, 64, "4<1>x3 <1>", {"<1>"}, 1, 0},
        {"octet, cut short at the end", F::OctetCount, 64, "3 <1>9 <1>", {"<1>"}, 1, 0},
        {"octet, digits cut at the end", F::OctetCount, 64, "3 <1>12", {"<1>"}, 1, 0},
        {"octet, resync skips a bad candidate", F::OctetCount, 8, "x 99 <a 0 <b 3 <1>", {"<1>"}, 1, 0},
        {"lf", F::Lf, 64, "<1>a\n<2>b\r\n\n<3>c", {"<1>a", "<2>b\r", "<3>c"}, 0, 0},
        {"crlf keeps a lone LF", F::CrLf, 64, "<1>a\nb\r\n<2>\r\r\n<3>", {"<1>a\nb", "<2>\r", "<3>"}, 0, 0},
        {"nul", F::Nul, 64, "<1>a\n\0\0<2>b\0"s, {"<1>a\n", "<2>b"}, 0, 0},
        {"auto, any trailer", F::Auto, 64, "<1>a\r\n<2>b\0<3>c\n<4>d"s, {"<1>a", "<2>b", "<3>c", "<4>d"}, 0, 0},
        {"auto, blank start", F::Auto, 64, " \n<1>a\n", {"<1>a"}, 0, 0},
        {"lf, over the limit", F::Lf, 4, "<1>a\n<1>abcdef\n<2>\n", {"<1>a", "<2>"}, 0, 1},
        {"crlf, over the limit", F::CrLf, 4, "<1>abcdef\r\n<1>b\r\n", {"<1>b"}, 0, 1},
        {"crlf, at the limit", F::CrLf, 4, "<1>a\r\n", {"<1>a"}, 0, 0},
        {"lf, a long one at the end", F::Lf, 4, "<1>a\n<1>abcdef", {"<1>a"}, 0, 1},
        {"nothing", F::Auto, 64, "\r\n\n", {}, 0, 0},
    };
    for (const Case &c : cases) {
        for (std::size_t piece : {c.bytes.size(), std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}}) {
            const Outcome outcome = Split(c.framing, c.maxFrame, c.bytes, std::max<std::size_t>(piece, 1));
            EXPECT_EQ(outcome.frames, c.frames) << c.name << ", pieces of " << piece;
            EXPECT_EQ(outcome.malformed, c.malformed) << c.name << ", pieces of " << piece;
            EXPECT_EQ(outcome.oversize, c.oversize) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(FrameSplitter, AutoDecidesOncePerConnection)
{
    FrameSplitter octet(StreamFraming::Auto, 64);
    Collect collect;
    octet.Feed("3 <1>", collect);
    EXPECT_TRUE(octet.OctetCounted());
    FrameSplitter text(StreamFraming::Auto, 64);
    text.Feed("<1>2 x\n2 ab\n", collect);
    EXPECT_FALSE(text.OctetCounted());
    EXPECT_EQ(collect.frames, (std::vector<std::string>{"<1>", "<1>2 x", "2 ab"}));
}
} // namespace
