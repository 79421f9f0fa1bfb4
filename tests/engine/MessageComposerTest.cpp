#include "engine/MessageComposer.h"

#include "common/Clock.h"
#include "common/Random.h"
#include "engine/PacketBuilder.h"
#include "engine/SyslogTemplate.h"
#include "sources/SourceFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <bitset>
#include <fstream>
#include <regex>
#include <set>

using namespace std::string_literals;
using enum SendingKind;

namespace {
const std::string WebPrefix = "Test user connected to website http://";

// Each reading moves every field on by one, so the header shows which reading
// each of its parts came from: Mar from the first, 5 from the second, 14:03:09 from the third.
class SteppingClock final : public Clock {
public:
    LocalDateTime Now() const override
    {
        const int n = readings++;
        return LocalDateTime{2010, 3 + n, 4 + n, 12 + n, 1 + n, 7 + n, 0};
    }
    mutable int readings = 0;
};

class Composer : public ::testing::Test {
protected:
    ComposedMessage Compose(SendingKind kind = Single) { return composer.ComposeMessage(kind); }

    SendState state;
    FixedComposeInputs inputs;
    SteppingClock clock;
    SourceFile source{state};
    MessageComposer composer{state, inputs, clock, source};
};

TEST_F(Composer, WritesTheExamplePacketWithTheHeaderReadAsMonthDayTime)
{
    state.SourceAddress = "10.1.2.3";
    state.MessageText = "Hello";
    inputs.hostName = "HOSTNAME";
    EXPECT_EQ(Compose().RfcHeaderText, "");
    inputs.rfcHeader = true;
    const ComposedMessage m = Compose();
    EXPECT_EQ(BuildSyslogPacket(13, m.OriginalAddressText, m.RfcHeaderText, m.MessageBody, false, false, false, false),
              "<13>Mar  5 14:03:09 HOSTNAME Quillon Original Address=10.1.2.3 Hello");
    EXPECT_EQ(clock.readings, 3);
}

// A tag of the user's stands with its colon where the bare Quillon stood,
// and the compiled form writes it alike.
TEST_F(Composer, WritesTheUsersTagWithItsColon)
{
    state.MessageText = "Hello";
    inputs.hostName = "HOSTNAME";
    inputs.rfcHeader = true;
    MessageFormatSettings settings;
    settings.rfc3164Tag = "sshd[42]:";
    composer.UseFormat(settings);
    EXPECT_EQ(Compose().RfcHeaderText, "Mar  5 14:03:09 HOSTNAME sshd[42]: ");

    SyslogTemplateSettings compiled;
    compiled.format = settings;
    compiled.hostName = "HOSTNAME";
    compiled.rfc3164Header = true;
    compiled.priority = 13;
    MessageTemplate whole = SyslogMessageTemplate(compiled, *MessageTemplate::Compile("Hello", {}), clock);
    std::string text;
    TemplateContext context;
    whole.AppendTo(text, context);
    EXPECT_TRUE(text.ends_with(" HOSTNAME sshd[42]: Hello")) << text;
}

TEST_F(Composer, ChoosesTheBodyByTheMessageText)
{
    state.MultiLineText = "first line\r\nsecond\n\xFF";
    QTemporaryDir folder;
    state.SourceFileName = folder.filePath("lines.txt").toStdString();
    std::ofstream(state.SourceFileName) << "a\tb\tc\tfirst\r\nHEX=3C3E\r\n";
    const std::string n = "This is Syslog test message number ", N = "THIS IS SYSLOG TEST MESSAGE NUMBER ";
    const std::tuple<std::string, std::int32_t, std::string, std::int32_t> cases[] = {
        {n + "####", 41, n + "42", 42},
        {n + "####", 999999, n + "1000000", 0},
        {n + "####", 2147483647, n + "2147483648", 0},
        {N + "#### and ####", 7, N + "8 and 8", 8},
        {n + "1###", 7, n + "1###", 7},
        {"#### alone", 7, "#### alone", 7},
        {WebPrefix + "###.###.###.###/index.htm", 7, WebPrefix + "###.###.###.###/index.htm", 7},
        {"MultiLine text message", 7, state.MultiLineText, 7},
        {"multiline text message", 7, "multiline text message", 7},
        {std::string(MessageEntries::TabDelimitedFile), 7, "first", 7},
        {std::string(MessageEntries::HexFile), 7, "HEX=3C3E", 7},
        {std::string(MessageEntries::CaptureFile), 7, std::string(CaptureNoPacketsError), 7},
    };
    for (const auto &[text, before, body, after] : cases) {
        state.MessageText = text;
        state.SequenceNumber = before;
        EXPECT_EQ(Compose().MessageBody, body) << text;
        EXPECT_EQ(state.SequenceNumber, after) << text;
    }
}

TEST_F(Composer, DrawsNewAddressesAndTextsInRange)
{
    state.SubnetPrefix = "192.168.1.";
    const std::string web(MessageEntries::WebAccess), text(MessageEntries::RandomString);
    const std::tuple<std::string, std::string, SendingKind, std::vector<int>, std::vector<int>> cases[] = {
        {web, "", Single, {193, 1, 1, 1}, {224, 253, 253, 253}},
        {text, "Random host on this subnet", Burst, {192, 168, 1, 1}, {192, 168, 1, 253}},
        {text, "10.0.0.?", Single, {10, 0, 0, 1}, {10, 0, 0, 253}},
    };
    const std::string quad = "(\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)";
    const std::regex inBody(WebPrefix + quad + "/index\\.html"), inSource("Original Address=" + quad + " ");
    for (const auto &[message, source, kind, lowest, highest] : cases) {
        state.MessageText = message;
        state.SourceAddress = source;
        std::vector<int> low(4, 999), high(4, 0);
        std::bitset<301> lengths;
        std::bitset<256> codes;
        for (int i = 0; i < 5000; ++i) {
            const ComposedMessage m = Compose(kind);
            std::smatch o;
            ASSERT_TRUE(message == web ? std::regex_match(m.MessageBody, o, inBody)
                                       : std::regex_match(m.OriginalAddressText, o, inSource))
                << m.OriginalAddressText;
            for (std::size_t k = 0; k < 4; ++k)
                low[k] = std::min(low[k], std::stoi(o[k + 1])), high[k] = std::max(high[k], std::stoi(o[k + 1]));
            lengths.set(m.MessageBody.size());
            for (char ch : m.MessageBody)
                codes.set(static_cast<unsigned char>(ch));
        }
        EXPECT_EQ(low, lowest) << source;
        EXPECT_EQ(high, highest) << source;
        if (message == text) {
            EXPECT_EQ(lengths, ~std::bitset<301>(1));   // 1 to 300
            EXPECT_EQ(codes, ~std::bitset<256>() >> 1); // 0 to 254
        }
    }
}

TEST_F(Composer, WritesTheSourceTextForValidAddressesOnly)
{
    const std::tuple<std::string, SendingKind, std::string> cases[] = {
        {"10.1.2.3", Burst, "Original Address=10.1.2.3 "}, {"300.1.1.1", Single, ""}, {"10.0.0.?", Burst, ""}};
    for (const auto &[address, kind, text] : cases) {
        state.SourceAddress = address;
        EXPECT_EQ(Compose(kind).OriginalAddressText, text) << address;
    }
    // The drawn number is appended, so only 21 to 29 and 210 to 255 make addresses.
    state.SourceAddress = "10.0.0.2?";
    std::set<std::string> texts;
    for (int i = 0; i < 5000; ++i)
        texts.insert(Compose().OriginalAddressText);
    EXPECT_EQ(texts.size(), 1u + 9u + 46u);
    EXPECT_EQ(texts.count(""), 1u);
    EXPECT_EQ(texts.count("Original Address=10.0.0.255 "), 1u);
}

TEST(IsDottedQuad, AcceptsFourGroupsOfDigitsUpTo255)
{
    const std::pair<std::string, bool> cases[] = {
        {"", false},          {"1.2.3.4.5", false},         {"10.0.0", false},    {"10.0.0.256", false},
        {"10.0.0.1", true},   {"10.0.0.1\0"s, false},       {"10..0.1", false},   {"010.000.000.001", true},
        {"+1.0.0.1", false},  {"255.255.255.255", true},    {"10.0.0.1.", false}, {"0000000010.0.0.1", true},
        {" 10.0.0.1", false}, {"99999999999.0.0.1", false},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(IsDottedQuad(text), expected) << '"' << text << '"';
}

// A message draws its body before its source text, so the addresses of a
// run repeat in that order from the sequence's start.
TEST_F(Composer, DrawsTheBodyBeforeTheSourceText)
{
    state.MessageText = std::string(MessageEntries::WebAccess);
    state.SourceAddress = std::string(SourceEntries::RandomClassC);
    SetRandomStart(FixedRandomStart);
    const std::string body = WebPrefix + RandomClassCAddress() + "/index.html";
    const std::string source = RandomClassCAddress();

    SetRandomStart(FixedRandomStart);
    const ComposedMessage m = Compose();
    EXPECT_EQ(m.MessageBody, body);
    EXPECT_EQ(m.OriginalAddressText, "Original Address=" + source + " ");

    MessageFormatSettings settings;
    settings.format = MessageFormat::Rfc5424;
    composer.UseFormat(settings);
    SetRandomStart(FixedRandomStart);
    const ComposedMessage rfc5424 = Compose();
    EXPECT_EQ(rfc5424.MessageBody, body);
    // The source address becomes the HOSTNAME.
    const std::string host = rfc5424.RfcHeaderText.substr(rfc5424.RfcHeaderText.find(' ', 2) + 1);
    EXPECT_EQ(host.substr(0, host.find(' ')), source);
    EXPECT_EQ(rfc5424.OriginalAddressText, "");
}

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
} // namespace
