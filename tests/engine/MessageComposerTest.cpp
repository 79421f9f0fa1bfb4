#include "engine/MessageComposer.h"

#include "common/Clock.h"
#include "engine/PacketBuilder.h"
#include "sources/SourceFile.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <bitset>
#include <cstdio>
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
    EXPECT_TRUE(texts.count("") && texts.count("Original Address=10.0.0.255 "));
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

// Every run starts from the same state, and a message draws its body before
// its source text: a fresh process composes the first two addresses another
// fresh process draws.
TEST(ComposerDrawOrder, EveryRunDrawsTheSameSequenceBodyFirst)
{
    auto run = [](const char *test) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QString("--gtest_filter=*DISABLED_") + test, "--gtest_also_run_disabled_tests"});
        child.waitForFinished(30000);
        return QString::fromUtf8(child.readAllStandardOutput()).section("ADDRESSES:", 1, 1).section('\n', 0, 0);
    };
    const QString composed = run("Composed");
    ASSERT_TRUE(composed.startsWith(QString::fromStdString(" " + WebPrefix)));
    EXPECT_EQ(composed, run("Drawn"));
    EXPECT_EQ(run("Composed5424"), composed); // the source address is HOSTNAME
}

TEST_F(Composer, DISABLED_Composed)
{
    state.MessageText = std::string(MessageEntries::WebAccess);
    state.SourceAddress = std::string(SourceEntries::RandomClassC);
    const ComposedMessage m = Compose();
    std::printf("ADDRESSES: %s|%s\n", m.MessageBody.c_str(), m.OriginalAddressText.c_str());
}

TEST_F(Composer, DISABLED_Composed5424)
{
    state.MessageText = std::string(MessageEntries::WebAccess);
    state.SourceAddress = std::string(SourceEntries::RandomClassC);
    MessageFormatSettings settings;
    settings.format = MessageFormat::Rfc5424;
    composer.UseFormat(settings);
    const ComposedMessage m = Compose();
    const std::string host = m.RfcHeaderText.substr(m.RfcHeaderText.find(' ', 2) + 1);
    std::printf("ADDRESSES: %s|Original Address=%s %s\n", m.MessageBody.c_str(), host.substr(0, host.find(' ')).c_str(),
                m.OriginalAddressText.c_str());
}

TEST(ComposerDrawOrder, DISABLED_Drawn)
{
    const std::string body = WebPrefix + RandomClassCAddress() + "/index.html";
    std::printf("ADDRESSES: %s|Original Address=%s \n", body.c_str(), RandomClassCAddress().c_str());
}
} // namespace
