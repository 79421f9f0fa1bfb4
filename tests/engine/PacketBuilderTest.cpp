#include "engine/PacketBuilder.h"

#include "common/Clock.h"
#include "engine/MessageComposer.h"
#include "sources/SourceFile.h"
#include "support/AnsweringServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace std::string_literals;

namespace {

std::string Plain(std::int32_t priority, std::string_view source, std::string_view header, std::string_view body,
                  bool noPriority = false)
{
    return BuildSyslogPacket(priority, source, header, body, noPriority, false, false, false);
}

TEST(BuildSyslogPacket, JoinsPriorityHeaderSourceTextAndBody)
{
    SettableClock clock;
    clock.now = LocalDateTime{2010, 3, 5, 14, 3, 9, 0};
    FixedComposeInputs inputs;
    inputs.rfcHeader = true;
    inputs.hostName = "HOSTNAME";
    SendState state;
    state.SourceAddress = "10.1.2.3";
    state.MessageText = "Hello";
    SourceFile source(state);
    MessageComposer composer(state, inputs, clock, source);

    const ComposedMessage m = composer.ComposeMessage(SendingKind::Single);
    EXPECT_EQ(Plain(13, m.OriginalAddressText, m.RfcHeaderText, m.MessageBody),
              "<13>Mar  5 14:03:09 HOSTNAME Quillon Original Address=10.1.2.3 Hello");
}

TEST(BuildSyslogPacket, WritesTheLayoutOfEachForm)
{
    struct Case {
        const char *why;
        std::int32_t priority;
        std::string source, header, body;
        bool noPriority;
        std::string expected;
    };
    const Case cases[] = {
        {"priority 0", 0, "", "", "x", false, "<0>x"},
        {"priority 255", 255, "", "", "x", false, "<255>x"},
        {"no leading zeros", 7, "", "", "x", false, "<7>x"},
        {"no priority, no header, no source: body only", 13, "", "", "just the body", true, "just the body"},
        {"no priority keeps header and source", 13, "S ", "H ", "b", true, "H S b"},
        {"empty body", 13, "", "", "", false, "<13>"},
        {"body bytes pass unchanged", 13, "", "", "\x00\xFF\x80"s, false, "<13>\x00\xFF\x80"s},
        {"hex body alone", 13, "S ", "H ", "hex=414243", false, "ABC"},
        {"hex body ignores no-priority", 13, "S ", "H ", "HEX=41 42 43", true, "ABC"},
        {"HEX= not at the start is text", 13, "", "", " HEX=41", false, "<13> HEX=41"},
        {"HEX without = is text", 13, "", "", "HEX41", false, "<13>HEX41"},
        {"empty hex body", 13, "S ", "H ", "HEX=", false, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Plain(c.priority, c.source, c.header, c.body, c.noPriority), c.expected) << c.why;
}

TEST(BuildSyslogPacket, AppendsPaddingThenCrLf)
{
    const std::string pad(2048, ' ');
    EXPECT_EQ(BuildSyslogPacket(1, "", "", "m", false, false, true, false), "<1>m" + pad);
    EXPECT_EQ(BuildSyslogPacket(1, "", "", "m", false, false, false, true), "<1>m\r\n");
    EXPECT_EQ(BuildSyslogPacket(1, "", "", "m", false, false, true, true), "<1>m" + pad + "\r\n");
    EXPECT_EQ(BuildSyslogPacket(1, "", "", "HEX=", false, false, true, true), pad + "\r\n");
}

TEST(DecodeHexBytes, ReadsPairsRunTogetherOrSpaced)
{
    struct Case {
        std::string digits, expected;
    };
    const Case cases[] = {
        {"414243", "ABC"},
        {"41 42 43", "ABC"},
        {"3C31333E4869", "<13>Hi"},
        {"3C 31 33 3E 48 69", "<13>Hi"},
        {"3c3e", "<>"},
        {"aBcD", "\xAB\xCD"},
        {"414", "A\x04"},    // the last pair has one digit
        {"41  42", "A\x04"}, // a misplaced separator gives a wrong byte, not an error
        {"", ""},
        {"00FF", "\x00\xFF"s},
        {"4G42", "\x04\x42"},           // a non-digit ends the pair
        {"GG", "\x00"s},                // no digit at all is 0
        {"41-42-43", "A\x00\x02\x43"s}, // only a space at the third place selects the spaced form
        {"41 4", "A\x04"},
        {"4 ", "\x04"},
        {" 4 1", "\x04\x01"}, // blanks inside a pair are skipped
    };
    for (const auto &c : cases)
        EXPECT_EQ(DecodeHexBytes(c.digits), c.expected) << '"' << c.digits << '"';
}

TEST(BuildSyslogPacket, CorruptsOneCharacterButNeverTheLast)
{
    const std::string pad(2048, ' ');
    struct Case {
        const char *why;
        std::string body;
        bool pad, crlf;
    };
    const Case cases[] = {
        {"length 1", "HEX=41", false, false},
        {"length 2", "HEX=4142", false, false},
        {"length 1 with padding and CR LF", "HEX=41", true, true},
        {"longer packet with padding and CR LF", "a message", true, true},
        {"longer packet", "message", false, false},
    };
    for (const auto &c : cases) {
        const std::string clean = BuildSyslogPacket(5, "", "", c.body, false, false, false, false);
        const std::size_t length = clean.size();
        const std::string tail = (c.pad ? pad : "") + (c.crlf ? "\r\n" : "");
        std::set<std::size_t> positions;
        std::set<int> codes;
        for (int i = 0; i < 5000; ++i) {
            const std::string packet = BuildSyslogPacket(5, "", "", c.body, false, true, c.pad, c.crlf);
            ASSERT_EQ(packet.substr(std::min(length, packet.size())), tail) << c.why;
            ASSERT_EQ(packet.size(), length + tail.size()) << c.why;
            int changed = 0;
            for (std::size_t p = 0; p < length; ++p)
                if (packet[p] != clean[p]) {
                    ++changed;
                    positions.insert(p);
                    codes.insert(static_cast<unsigned char>(packet[p]));
                }
            ASSERT_LE(changed, 1) << c.why;
        }
        // Every position but the last is reached (all of them for a single character).
        std::set<std::size_t> expected;
        for (std::size_t p = 0; p + 1 < std::max<std::size_t>(length, 2); ++p)
            expected.insert(p);
        EXPECT_EQ(positions, expected) << c.why;
        EXPECT_FALSE(codes.count(0)) << c.why;
        EXPECT_FALSE(codes.count(255)) << c.why;
        if (length == 1) {
            EXPECT_TRUE(codes.count(1) && codes.count(254) && codes.size() > 250) << c.why;
        }
    }
}

TEST(BuildSyslogPacket, LeavesAnEmptyPacketAloneWhenCorrupting)
{
    EXPECT_EQ(BuildSyslogPacket(5, "", "", "HEX=", false, true, false, false), "");
    EXPECT_EQ(BuildSyslogPacket(5, "", "", "", true, true, true, true), std::string(2048, ' ') + "\r\n");
}

TEST(CountMessageSent, WrapsFrom999999ToZero)
{
    struct Case {
        std::int32_t before, after;
    };
    const Case cases[] = {{0, 1}, {41, 42}, {999998, 999999}, {999999, 0}, {1000000, 0}, {2147483647, 0}};
    for (const auto &c : cases) {
        SendState state;
        state.MessagesSent = c.before;
        CountMessageSent(state);
        EXPECT_EQ(state.MessagesSent, c.after) << c.before;
    }
}

} // namespace
