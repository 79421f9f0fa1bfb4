#include "common/Clock.h"
#include "engine/MessageComposer.h"
#include "engine/PacketBuilder.h"
#include "sources/SourceFile.h"

#include <gtest/gtest.h>

#include <set>

using namespace std::string_literals;

namespace {
// Settings changed by each case: h = host, a = app, m = msgid, s = SD, b = BOM,
// 3 = RFC 3164; options: n = no priority, p = padding, c = CR LF.
TEST(Rfc5424Composer, WritesTheHeaderFieldsAndTheMessage)
{
    const std::string ts = "2026-12-07T14:03:09.123000Z", bom = "\xEF\xBB\xBF", pad(OversizePadding, ' ');
    const std::tuple<std::string, std::string, std::string, std::string, std::string> cases[] = {
        {"", "Hello", "", "", "<13>1 " + ts + " myhost Quillon 4242 - - Hello"},
        {"hams", "Hello", "", "", "<13>1 " + ts + " host.example app 4242 ID47 [a@1 x=\"1\"][b y=\"\\]\"] Hello"},
        {"b", "Grüße", "", "", "<13>1 " + ts + " myhost Quillon 4242 - - " + bom + "Grüße"},
        {"", "Hello", "", "n", "1 " + ts + " myhost Quillon 4242 - - Hello"},
        {"bs", "", "", "", "<13>1 " + ts + " myhost Quillon 4242 - [a@1 x=\"1\"][b y=\"\\]\"]"},
        {"", "m", "", "pc", "<13>1 " + ts + " myhost Quillon 4242 - - m" + pad + "\r\n"},
        {"b", "hex=41 42 00", "", "c", "AB\0\r\n"s},
        {"h", "Hello", "10.1.2.3", "", "<13>1 " + ts + " 10.1.2.3 Quillon 4242 - - Hello"},
        {"", "Hello", "10.0.0.?", "", "<13>1 " + ts + " myhost Quillon 4242 - - Hello"}, // burst: no address
        {"", "MultiLine text message", "", "", "<13>1 " + ts + " myhost Quillon 4242 - - one\r\ntwo\n\xFF\x00"s},
        {"hamsb3", "Hello", "10.1.2.3", "", "<13>Dec  7 14:03:09 myhost Quillon Original Address=10.1.2.3 Hello"},
    };
    SendState state;
    FixedComposeInputs inputs;
    inputs.hostName = "myhost";
    inputs.rfcHeader = true;
    // Its local time read as UTC, through the seam's defaults.
    class : public Clock {
        LocalDateTime Now() const override { return LocalDateTime{2026, 12, 7, 14, 3, 9, 123}; }
    } clock;
    SourceFile source{state};
    MessageComposer composer{state, inputs, clock, source};
    state.MultiLineText = "one\r\ntwo\n\xFF\x00"s;
    for (const auto &[changes, message, address, options, expected] : cases) {
        auto has = [&](const std::string &in, char c) { return in.find(c) != std::string::npos; };
        MessageFormatSettings s;
        s.format = has(changes, '3') ? MessageFormat::Rfc3164 : MessageFormat::Rfc5424;
        s.procId = "4242";
        s.hostName = has(changes, 'h') ? "host.example" : "";
        s.appName = has(changes, 'a') ? "app" : "Quillon";
        s.msgId = has(changes, 'm') ? "ID47" : "-";
        if (has(changes, 's'))
            s.sdElements = {"[a@1 x=\"1\"]", "[b y=\"\\]\"]"};
        s.utf8Bom = has(changes, 'b');
        composer.UseFormat(s);
        state.MessageText = message;
        state.SourceAddress = address;
        std::string out = "before|";
        AppendComposedPacket(out, 13, composer.ComposeView(SendingKind::Burst), has(options, 'n'), false,
                             has(options, 'p'), has(options, 'c'));
        EXPECT_EQ(out, "before|" + expected) << changes << ' ' << message;
    }
}

// Within a second the composer rewrites only the fraction of the header it
// keeps; a new second, a simulated host or new settings write it afresh.
TEST(Rfc5424Composer, EachMessageCarriesItsOwnInstantAndHost)
{
    class : public Clock {
    public:
        LocalDateTime Now() const override { return {}; }
        std::int64_t EpochMicroseconds() const override { return micros; }
        std::int64_t micros = 0;
    } clock;
    constexpr std::int64_t December7 = 1796648589000000; // 2026-12-07T13:03:09Z
    const std::tuple<std::int64_t, std::string, std::string, std::string> steps[] = {
        {December7 + 5, "", "", "2026-12-07T13:03:09.000005Z myhost app"},
        {December7 + 999999, "", "", "2026-12-07T13:03:09.999999Z myhost app"},
        {December7 + 1000000, "", "", "2026-12-07T13:03:10.000000Z myhost app"},
        {December7 + 1000001, "10.1.2.3", "", "2026-12-07T13:03:10.000001Z 10.1.2.3 app"},
        {December7 + 1000002, "", "", "2026-12-07T13:03:10.000002Z myhost app"},
        {December7 + 1000003, "", "other", "2026-12-07T13:03:10.000003Z myhost other"},
        {December7 + 1000004, "", "", "2026-12-07T13:03:10.000004Z myhost other"},
        {December7 - 1, "", "", "2026-12-07T13:03:08.999999Z myhost other"},
    };
    SendState state;
    FixedComposeInputs inputs;
    inputs.hostName = "myhost";
    SourceFile source{state};
    MessageComposer composer{state, inputs, clock, source};
    MessageFormatSettings s;
    s.format = MessageFormat::Rfc5424;
    s.appName = "app";
    s.procId = "1";
    composer.UseFormat(s);
    state.MessageText = "m";
    for (const auto &[micros, address, app, expected] : steps) {
        clock.micros = micros;
        state.SourceAddress = address;
        if (!app.empty()) {
            s.appName = app;
            composer.UseFormat(s);
        }
        EXPECT_EQ(composer.ComposeView(SendingKind::Single).RfcHeaderText, "1 " + expected + " 1 - -");
    }
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
