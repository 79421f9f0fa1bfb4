#include "engine/PacketBuilder.h"

#include "engine/Priority.h"

#include <gtest/gtest.h>

#include <bitset>
#include <set>

namespace {
const std::string Pad(2048, ' ');

TEST(BuildSyslogPacket, CorruptsOneCharacterButNeverTheLastNorThePaddingOrCrLf)
{
    // A lone character can be replaced; otherwise any but the last.
    const std::tuple<std::string, bool, std::set<std::size_t>> cases[] = {{"HEX=41", false, {0}},
                                                                          {"msg", true, {0, 1, 2, 3, 4}}};
    for (const auto &[body, extras, expected] : cases) {
        const std::string clean = BuildSyslogPacket(5, "", "", body, false, false, extras, extras);
        std::set<std::size_t> positions;
        std::bitset<256> codes;
        for (int i = 0; i < 5000; ++i) {
            const std::string packet = BuildSyslogPacket(5, "", "", body, false, true, extras, extras);
            ASSERT_EQ(packet.size(), clean.size()) << body;
            int changed = 0;
            for (std::size_t p = 0; p < clean.size(); ++p)
                if (packet[p] != clean[p])
                    ++changed, positions.insert(p), codes.set(static_cast<unsigned char>(packet[p]));
            ASSERT_LE(changed, 1) << body;
        }
        for (char c : clean) // a code equal to the replaced character changes nothing
            codes.set(static_cast<unsigned char>(c));
        EXPECT_EQ(positions, expected) << body;
        EXPECT_EQ(codes, ~std::bitset<256>() >> 2 << 1) << body; // 1 to 254
    }
    EXPECT_EQ(BuildSyslogPacket(5, "", "", "", true, true, true, true), Pad + "\r\n");
}

// Digits of 0 to 999 are written directly, others as any number.
TEST(BuildSyslogPacket, WritesEveryPriorityInDecimal)
{
    for (const std::int32_t priority : {0, 9, 10, 100, 109, 990, 999, 1000, 32767, -5, -1000})
        EXPECT_EQ(BuildSyslogPacket(priority, "", "", "", false, false, false, false),
                  "<" + std::to_string(priority) + ">");
}

TEST(MessagePriority, ReadsTheTypedValueOrTheLists)
{
    // Facility 2, level 3 give 19 whenever the lists decide; null leaves the box unchecked.
    const std::pair<const char *, std::int32_t> cases[] = {
        {"0", 0},       {"255", 255},   {"300", 191}, {"-1", 191},  {"12.5", 12},   {"13.5", 14},
        {"254.6", 255}, {"255.4", 191}, {"", 0},      {" 42x", 42}, {"1e999", 191}, {"random", 0},
        {"Random", 19}, {nullptr, 19},  {"1 2", 1},   {"&H2", 0},
    };
    FixedPriorityInputs inputs;
    inputs.facilityIndex = 2;
    inputs.levelIndex = 3;
    for (const auto &[text, expected] : cases) {
        inputs.usePriorityText = text != nullptr;
        inputs.priorityText = text ? text : "200";
        EXPECT_EQ(MessagePriority(inputs), expected) << (text ? text : "unchecked");
    }
    EXPECT_EQ(SelectedPriority(inputs), 19);
}

TEST(MessagePriority, DrawsTheRandomFacilityOrLevelAndKeepsTheOther)
{
    FixedPriorityInputs inputs;
    std::set<std::int32_t> seen, expected;
    for (int i = 0; i < 5000; ++i) {
        inputs.facilityIndex = RandomFacilityIndex, inputs.levelIndex = 3;
        seen.insert(MessagePriority(inputs));
        inputs.facilityIndex = 2, inputs.levelIndex = RandomLevelIndex;
        seen.insert(MessagePriority(inputs));
    }
    for (int k = 0; k < 24; ++k) // every facility at level 3, every level of facility 2
        expected.insert(k * 8 + 3), expected.insert(2 * 8 + k % 8);
    EXPECT_EQ(seen, expected);
}

TEST(AppendRfc5424Packet, CorruptsOneCharacterOfTheJoinedPacketOnly)
{
    const std::string clean = "<13>1 - h a p m - \xEF\xBB\xBFmsg" + std::string(OversizePadding, ' ') + "\r\n";
    std::set<std::size_t> positions;
    for (int i = 0; i < 3000; ++i) {
        std::string packet;
        AppendRfc5424Packet(packet, 13, "1 - h a p m -", "msg", true, false, true, true, true);
        ASSERT_EQ(packet.size(), clean.size());
        for (std::size_t p = 0; p < clean.size(); ++p)
            if (packet[p] != clean[p])
                positions.insert(p);
    }
    EXPECT_EQ(positions.size(), 23u); // any of the 24 but the last, never padding or CR LF
    EXPECT_EQ(*positions.rbegin(), 22u);
}
} // namespace
