#include "engine/PacketBuilder.h"

#include <gtest/gtest.h>

#include <set>

using namespace std::string_literals;

namespace {
const std::string Pad(2048, ' ');

TEST(BuildSyslogPacket, WritesTheLayoutOfEachForm)
{
    struct Case {
        std::int32_t priority;
        std::string body;
        bool noPriority, pad, crlf;
        std::string expected;
    };
    const Case cases[] = {
        {0, "x", false, false, false, "<0>hdr src x"},
        {255, "x", false, false, false, "<255>hdr src x"},
        {7, "\x00\xFF"s, false, false, false, "<7>hdr src \x00\xFF"s},
        {13, "body", true, false, false, "hdr src body"},
        {13, "m", false, true, true, "<13>hdr src m" + Pad + "\r\n"},
        {13, "hex=414243", false, false, false, "ABC"},
        {13, "HEX=41 42 43", true, false, true, "ABC\r\n"},
        {13, "HEX=", false, true, false, Pad},
        {13, " HEX=41", false, false, false, "<13>hdr src  HEX=41"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BuildSyslogPacket(c.priority, "src ", "hdr ", c.body, c.noPriority, false, c.pad, c.crlf), c.expected)
            << c.body;
    EXPECT_EQ(BuildSyslogPacket(13, "", "", "just the body", true, false, false, false), "just the body");
}

TEST(DecodeHexBytes, ReadsPairsRunTogetherOrSpacedAndNeverFails)
{
    // Only a space at the third place selects the spaced form; a non-digit ends
    // a pair, no digit gives 0, blanks inside a pair are skipped.
    const std::pair<std::string, std::string> cases[] = {
        {"3C31333E4869", "<13>Hi"},
        {"3C 31 33 3E 48 69", "<13>Hi"},
        {"aBcD", "\xAB\xCD"},
        {"414", "A\x04"},
        {"41  42", "A\x04"},
        {"", ""},
        {"00FF", "\x00\xFF"s},
        {"4G42", "\x04\x42"},
        {"GG", "\x00"s},
        {"41-42-43", "A\x00\x02\x43"s},
        {"41 4", "A\x04"},
        {" 4 1", "\x04\x01"},
    };
    for (const auto &[digits, expected] : cases)
        EXPECT_EQ(DecodeHexBytes(digits), expected) << '"' << digits << '"';
}

TEST(BuildSyslogPacket, CorruptsOneCharacterButNeverTheLastNorThePaddingOrCrLf)
{
    const std::pair<std::string, bool> cases[] = {
        {"HEX=41", false}, {"HEX=4142", false}, {"HEX=41", true}, {"msg", true}};
    for (const auto &[body, extras] : cases) {
        const std::string clean = BuildSyslogPacket(5, "", "", body, false, false, false, false);
        const std::string tail = extras ? Pad + "\r\n" : "";
        std::set<std::size_t> positions;
        std::set<int> codes;
        for (int i = 0; i < 5000; ++i) {
            const std::string packet = BuildSyslogPacket(5, "", "", body, false, true, extras, extras);
            ASSERT_EQ(packet.substr(std::min(clean.size(), packet.size())), tail) << body;
            ASSERT_EQ(packet.size(), clean.size() + tail.size()) << body;
            for (std::size_t p = 0; p < clean.size(); ++p)
                if (packet[p] != clean[p]) {
                    positions.insert(p);
                    codes.insert(static_cast<unsigned char>(packet[p]));
                    ASSERT_EQ(packet.substr(p + 1, clean.size() - p - 1), clean.substr(p + 1)) << body;
                    break;
                }
        }
        std::set<std::size_t> expected{0};
        for (std::size_t p = 1; p + 1 < clean.size(); ++p)
            expected.insert(p);
        EXPECT_EQ(positions, expected) << body;
        EXPECT_EQ(*codes.begin(), 1) << body;
        EXPECT_EQ(*codes.rbegin(), 254) << body;
    }
    EXPECT_EQ(BuildSyslogPacket(5, "", "", "", true, true, true, true), Pad + "\r\n");
}

TEST(CountMessageSent, WrapsFrom999999ToZero)
{
    const std::pair<std::int32_t, std::int32_t> cases[] = {{0, 1}, {999998, 999999}, {999999, 0}, {2147483647, 0}};
    for (const auto &[before, after] : cases) {
        SendState state;
        state.MessagesSent = before;
        CountMessageSent(state);
        EXPECT_EQ(state.MessagesSent, after) << before;
    }
}
} // namespace
