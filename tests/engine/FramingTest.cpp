#include "engine/Framing.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace std::string_literals;

namespace {
// Each framing on the wire: Sender.FramesComposedPacketsOnTcpOnly.
TEST(Framing, AppendsToABatchOrInPlaceAlike)
{
    const std::tuple<Framing, std::string, std::string> cases[] = {
        {Framing::None, "a\nb", "a\nb"},
        {Framing::CrLf, "a", "a\r\n"},
        {Framing::OctetCount, "<13>1 - h a p m - line 1\nline 2\r\n", "33 <13>1 - h a p m - line 1\nline 2\r\n"},
        {Framing::OctetCount, "\x00\xFF"s, "2 \x00\xFF"s},
        {Framing::OctetCount, "", "0 "},
    };
    for (const auto &[framing, packet, framed] : cases) {
        std::string batch = "5 first";
        AppendFramed(batch, framing, packet);
        EXPECT_EQ(batch, "5 first" + framed) << FramingName(framing) << ' ' << packet;
        std::string inPlace = "5 first" + packet;
        FrameInPlace(inPlace, 7, framing);
        EXPECT_EQ(inPlace, batch);
    }
}

// Messages of lengths that cross a count's digits, rendered one after
// another in place, each framed by its own count.
TEST(OctetCounter, CountsEachMessageWhateverTheLastOnesLength)
{
    const std::size_t lengths[] = {5, 5, 12, 99, 100, 100, 7, 1000, 99999, 100000, 3, 3};
    std::string batch(300000, '\0');
    std::string expected;
    OctetCounter counter;
    char *at = batch.data();
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        const std::string message(lengths[i], static_cast<char>('a' + i));
        char *const body = counter.Start(at);
        std::memcpy(body, message.data(), message.size());
        at = counter.Count(at, body + message.size());
        expected += std::to_string(message.size()) + ' ' + message;
    }
    EXPECT_EQ(std::string_view(batch.data(), static_cast<std::size_t>(at - batch.data())), expected);
}
} // namespace
