#include "transport/FrameSplitter.h"
#include "engine/Stamp.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
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

Outcome Split(Framing framing, std::size_t maxFrame, const std::string &bytes, std::size_t piece)
{
    FrameSplitter splitter(framing, maxFrame);
    Collect collect;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        splitter.Feed(std::string_view(bytes).substr(at, piece), collect);
        EXPECT_LE(splitter.Buffered(), maxFrame + FrameSplitter::Slack);
    }
    splitter.Finish(collect);
    EXPECT_EQ(splitter.Counts().frames, collect.frames.size());
    return {collect.frames, splitter.Counts().malformed, splitter.Counts().oversize};
}

// Every case is cut whole, byte by byte and in pieces of 2, 3 and 7: the
// outcome must not depend on where the reads split the stream.
TEST(FrameSplitter, FramesAndSkipsTheSameHoweverTheStreamIsCut)
{
    using F = Framing;
    struct Case {
        const char *name;
        Framing framing;
        std::size_t maxFrame;
        std::string bytes;
        std::vector<std::string> frames;
        std::uint64_t malformed;
        std::uint64_t oversize;
    };
    const Case cases[] = {
        {"octet", F::OctetCount, 64, "5 <13>a3 <1>11 <13>x y\nz\r\0"s, {"<13>a", "<1>", "<13>x y\nz\r\0"s}, 0, 0},
        {"octet, stray trailers between frames", F::OctetCount, 64, "\n3 <1>\r\n4 <2>a", {"<1>", "<2>a"}, 0, 0},
        {"octet, no priority after the length", F::OctetCount, 64, "3 <1>2 ab4 <2>a", {"<1>", "<2>a"}, 1, 0},
        // A length that would swallow the frames after it, or run to the end.
        {"octet, a length before a header", F::OctetCount, 64, "3 <1>20 4 <2>a5 <3>bc", {"<1>", "<2>a", "<3>bc"}, 1, 0},
        {"octet, a length before the frames it covers",
         F::OctetCount,
         64,
         "3 <1>12 4 <2>a4 <3>b5 <4>cd",
         {"<1>", "<2>a", "<3>b", "<4>cd"},
         1,
         0},
        {"octet, priority cut at the limit", F::OctetCount, 64, "2 <13 <1>", {"<1>"}, 1, 0},
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
        // Junk digits before a header make a length that swallows the frames after it.
        {"octet, junk digits after junk",
         F::OctetCount,
         64,
         "3 <1>x14 <2>a12 <3>bcdefghij",
         {"<1>", "<2>a", "<3>bcdefghij"},
         1,
         0},
        {"octet, junk digits in step",
         F::OctetCount,
         64,
         "3 <1>14 <2>a12 <3>bcdefghij",
         {"<1>", "<2>a", "<3>bcdefghij"},
         1,
         0},
        {"octet, junk digits on an oversize", F::OctetCount, 8, "3 <1>14 <2>a5 <3>bc", {"<1>", "<2>a", "<3>bc"}, 1, 0},
        {"octet, a header quoted whole", F::OctetCount, 64, "12 <1>a 5 <2>xy3 <3>", {"<1>a 5 <2>xy", "<3>"}, 0, 0},
        {"octet, no '<' and no header after", F::OctetCount, 64, "3 <1>2 abx4 <2>a", {"<1>", "<2>a"}, 1, 0},
        {"lf", F::Lf, 64, "<1>a\n<2>b\r\n\n<3>c", {"<1>a", "<2>b\r", "<3>c"}, 0, 0},
        {"crlf keeps a lone LF", F::CrLf, 64, "<1>a\nb\r\n<2>\r\r\n<3>", {"<1>a\nb", "<2>\r", "<3>"}, 0, 0},
        {"nul", F::Nul, 64, "<1>a\n\0\0<2>b\0"s, {"<1>a\n", "<2>b"}, 0, 0},
        {"auto, any trailer", F::Auto, 64, "<1>a\r\n<2>b\0<3>c\n<4>d"s, {"<1>a", "<2>b", "<3>c", "<4>d"}, 0, 0},
        {"auto, blank start", F::Auto, 64, " \n<1>a\n", {"<1>a"}, 0, 0},
        {"auto, NUL ends the first record", F::Auto, 64, "<1>a\nb\0<2>\n\0"s, {"<1>a\nb", "<2>\n"}, 0, 0},
        {"auto, LF lines that are not messages", F::Auto, 64, "<1>2 x\n2 ab\n", {"<1>2 x", "2 ab"}, 0, 0},
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

// Stamped frames with junk after each, read in random pieces: a random blob
// of 1 to 200 bytes costs only itself (counted malformed, but one of line
// ends alone), and so does a length ("99999 ", "123 ") after one frame in
// ten; 1 to 5 digits, which merge with the next length, cost at most 1% of
// the frames, also where each message ends in its stamp's digits.
TEST(FrameSplitter, JunkBetweenFramesCostsOnlyTheJunk)
{
    enum class Junk { Blob, Digits, Length };
    for (const Junk kind : {Junk::Blob, Junk::Digits, Junk::Length}) {
        const bool digits = kind == Junk::Digits;
        for (const unsigned seed : {1u, 2u, 3u}) {
            std::mt19937 random(seed);
            std::string bytes;
            std::uint64_t junk = 0;
            const std::uint64_t count = kind == Junk::Blob ? 1000 : 2000;
            for (std::uint64_t seq = 1; seq <= count; ++seq) {
                std::string message = "<13>1 2024-01-01T00:00:00Z host app - - ";
                if (seq % 2 == 0 || !digits) {
                    AppendStampElement(message, {"blob", 0, seq, 1});
                    message += std::string(random() % 200, 'm');
                } else {
                    message = "<13>Jan  1 00:00:00 host app: " + std::string(random() % 200, 'm');
                    AppendStampToken(message, {"blob", 0, seq, 1717000000000000});
                }
                bytes += std::to_string(message.size()) + " " + message;
                if (kind == Junk::Length) {
                    if (random() % 10 == 0) {
                        bytes += std::to_string(1 + random() % 99999) + " ";
                        ++junk;
                    }
                    continue;
                }
                std::string blob(1 + random() % (digits ? 5 : 200), '\0');
                for (char &c : blob)
                    c = static_cast<char>(digits ? '0' + random() % 10 : random());
                junk += blob.find_first_not_of("\r\n"s + '\0') != std::string::npos;
                bytes += blob;
            }
            FrameSplitter splitter(Framing::OctetCount, 65536);
            Collect collect;
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t piece = 1 + random() % 4096;
                splitter.Feed(std::string_view(bytes).substr(at, piece), collect);
                at += piece;
            }
            splitter.Finish(collect);
            std::set<std::uint64_t> seqs;
            for (const std::string &frame : collect.frames) {
                Stamp stamp;
                if (FindStamp(frame, stamp) == StampSearch::Found)
                    seqs.insert(stamp.seq);
            }
            if (digits) {
                EXPECT_GE(seqs.size(), count * 99 / 100) << seed;
                continue;
            }
            EXPECT_EQ(collect.frames.size(), count) << seed;
            EXPECT_EQ(seqs.size(), count) << seed;
            EXPECT_EQ(splitter.Counts().malformed, junk) << seed;
        }
    }
}
} // namespace
