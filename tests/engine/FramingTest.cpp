#include "engine/Framing.h"

#include <gtest/gtest.h>

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
} // namespace
