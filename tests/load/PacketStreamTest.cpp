#include "load/PacketStream.h"
#include "cli/send/CommandLine.h"
#include "engine/Stamp.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

namespace {
Options Parsed(std::vector<std::string> args)
{
    args.insert(args.end(), {"--seed", "7"});
    const ParseResult result = ParseCommandLine(args);
    EXPECT_EQ(result.action, ParseResult::Action::Run) << result.error;
    return result.options;
}

const StampKey Key("a secret of some length");

std::vector<std::string> Packets(const Options &options, const char *run, const StampKey *key = nullptr)
{
    const LoadPlan plan = MakeLoadPlan(options);
    PacketStream stream(plan, plan.shares[0], "host", "10.0.0.");
    if (run)
        stream.StampWith(run, StreamId(0, 1), key);
    std::vector<std::string> packets;
    for (int i = 0; i < 6; ++i)
        packets.push_back(stream.Next());
    return packets;
}

// user.notice by default; to a Unix socket the header is the local one, so
// the daemon reads the tag instead of taking the host name for it.
TEST(PacketStream, RfcHeaderToAUnixSocketLeavesOutTheHostName)
{
    const std::string stamp = R"(<13>[A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d )";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, stamp + "host Quillon text"},
        {{"--transport", "unix-dgram", "--socket", "/s"}, stamp + "Quillon: text"},
        {{"--transport", "unix-stream", "--socket", "/s", "--no-crlf"}, stamp + "Quillon: text\n"},
    };
    for (auto [args, pattern] : cases) {
        args.insert(args.end(), {"--rfc-header", "--message", "text"});
        const std::string packet = Packets(Parsed(args), nullptr).front();
        EXPECT_TRUE(std::regex_match(packet, std::regex(pattern))) << packet;
    }
}

// From one seed, a stamped run sends the unstamped run's packets with the
// token before any padding and CR LF, numbered over the stamped packets only;
// a "HEX=" packet is the same bytes. So stamping draws nothing random. Keyed,
// each token carries the MAC of its fields under the key.
TEST(Stamping, Rfc3164PacketsGainOnlyTheTokenAndDrawNothing)
{
    QTemporaryDir folder;
    const std::string source = folder.filePath("source.txt").toStdString();
    std::ofstream(source, std::ios::binary) << "a\tb\tc\tfirst\nHEX=3c31333e4869\n";
    const std::tuple<std::vector<std::string>, std::size_t> cases[] = {
        {{"--message", "Random string of text", "--source-address", "Random Class C addresses"}, 0},
        {{"--message", "This is Syslog test message number ####", "--oversize", "--crlf"}, 2050},
        {{"--source-file", source, "--priority", "13", "--crlf"}, 2},
        {{"--message", "", "--priority", "13"}, 0},
    };
    for (const auto &[args, trailer] : cases) {
        for (const StampKey *key : {static_cast<const StampKey *>(nullptr), &Key}) {
            const std::vector<std::string> plain = Packets(Parsed(args), nullptr);
            const std::vector<std::string> stamped = Packets(Parsed(args), "tst", key);
            std::uint64_t seq = 0;
            for (std::size_t i = 0; i < plain.size(); ++i) {
                if (plain[i].rfind("<13>Hi", 0) == 0) {
                    EXPECT_EQ(stamped[i], plain[i]);
                    continue;
                }
                Stamp stamp;
                ASSERT_EQ(FindStamp(stamped[i], stamp), StampSearch::Found) << stamped[i];
                EXPECT_EQ(stamp.run, "tst") << stamped[i];
                EXPECT_EQ(stamp.stream, 1u) << stamped[i];
                EXPECT_EQ(stamp.seq, ++seq) << stamped[i];
                EXPECT_EQ(key && StampMac(*key).Verify(stamp), stamp.mac.has_value()) << stamped[i];
                std::string expected = plain[i];
                std::string token;
                AppendStampToken(token, stamp);
                expected.insert(expected.size() - trailer, " " + token);
                EXPECT_EQ(stamped[i], expected);
            }
        }
    }
}

// The same over RFC 5424 packets, octet counted or not: the element follows
// the user's SD or stands for "-". Timestamps are left out of the comparison.
TEST(Stamping, Rfc5424PacketsGainOnlyTheElementAndDrawNothing)
{
    const auto withoutTime = [](std::string packet) {
        const std::size_t at = packet.find(">1 ") + 3;
        return packet.erase(at, packet.find(' ', at) - at);
    };
    const std::vector<std::string> cases[] = {
        {"--message", "Random string of text", "--source-address", "Random Class C addresses"},
        {"--sd", "[a@1 x=\"1\"]", "--transport", "tcp", "--framing", "octet-count"},
        {"--sd", "[a@1 x=\"1\"]", "--message", ""},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.end(), {"--format", "rfc5424", "--facility", "random"});
        for (const StampKey *key : {static_cast<const StampKey *>(nullptr), &Key}) {
            const std::vector<std::string> plain = Packets(Parsed(args), nullptr);
            const std::vector<std::string> stamped = Packets(Parsed(args), "tst", key);
            for (std::size_t i = 0; i < plain.size(); ++i) {
                const std::string message = stamped[i].substr(stamped[i].find('<'));
                if (stamped[i][0] != '<') { // octet counted: the count takes in the element
                    EXPECT_EQ(stamped[i], std::to_string(message.size()) + " " + message);
                }
                Stamp stamp;
                ASSERT_EQ(FindStamp(message, stamp), StampSearch::Found) << message;
                EXPECT_EQ(stamp.seq, i + 1);
                EXPECT_EQ(key && StampMac(*key).Verify(stamp), stamp.mac.has_value()) << message;
                std::string element;
                AppendStampElement(element, stamp);
                // PRI VERSION, TIMESTAMP (left out), HOSTNAME, APP-NAME, PROCID, MSGID: then the SD.
                std::string expected = withoutTime(plain[i].substr(plain[i].find('<')));
                std::size_t sd = 0;
                for (int field = 0; field < 6; ++field)
                    sd = expected.find(' ', sd) + 1;
                if (expected[sd] == '-')
                    expected.replace(sd, 1, element);
                else
                    expected.insert(expected.find("\"]", sd) + 2, element);
                EXPECT_EQ(withoutTime(message), expected);
            }
        }
    }
}

// The packet before its framing comes to its --size; text goes or comes at
// the end of the message's own text, never in the stamp or the line end. A
// size below what the stamp needs keeps the stamp (and in RFC 5424 the
// header that holds it) and drops the rest.
TEST(Sizing, PacketsArePaddedOrCutAroundTheStampAndLineEnd)
{
    struct Case {
        std::vector<std::string> args;
        std::size_t size;
        const char *run;
        // What the sized packet ends in and holds, and whether it is exactly the size.
        std::string ending;
        std::string inside;
        bool exact;
    };
    const Case cases[] = {
        {{"--size", "300"}, 300, "tst", "", "x quillon=", true},
        {{"--size", "300"}, 300, nullptr, "xxx", "", true},
        {{"--transport", "tcp", "--size", "60"}, 60, "tst", "\r\n", "", true},
        {{"--transport", "tcp", "--framing", "octet-count", "--size", "5"}, 5, "tst", "", "", false},
        {{"--size", "4"}, 4, nullptr, "", "", true},
        {{"--format", "rfc5424", "--framing", "octet-count", "--transport", "tcp", "--size", "400"},
         400,
         "tst",
         "xxx",
         "",
         true},
        {{"--format", "rfc5424", "--message", "", "--size", "300"}, 300, "tst", "xxx", "\"] xxx", true},
        {{"--format", "rfc5424", "--size", "20"}, 20, "tst", "\"] ", "", false},
        {{"--pack", "json", "--size", "1200"}, 1200, nullptr, "  }", "", true},
        {{"--pack", "json", "--size", "1200"}, 1200, "tst", "\"}", "  ", true},
    };
    for (const Case &c : cases) {
        std::vector<std::string> unsizedArgs = c.args;
        unsizedArgs.erase(unsizedArgs.end() - 2, unsizedArgs.end());
        const std::vector<std::string> unsized = Packets(Parsed(unsizedArgs), c.run);
        const std::vector<std::string> sized = Packets(Parsed(c.args), c.run);
        for (std::size_t i = 0; i < sized.size(); ++i) {
            std::string packet = sized[i];
            if (packet[0] != '<') { // octet counted: the count is of the sized packet
                const std::size_t space = packet.find(' ');
                EXPECT_EQ(packet.substr(0, space), std::to_string(packet.size() - space - 1)) << packet;
                packet.erase(0, space + 1);
            }
            EXPECT_EQ(packet.size() == c.size, c.exact) << packet;
            EXPECT_TRUE(packet.ends_with(c.ending)) << packet;
            EXPECT_NE(packet.find(c.inside), std::string::npos) << packet;
            if (c.args[1] == "json") {
                QJsonParseError error;
                QJsonDocument::fromJson(QByteArray::fromStdString(packet.substr(packet.find('{'))), &error);
                EXPECT_EQ(error.error, QJsonParseError::NoError) << packet;
            }
            if (!c.run) {
                EXPECT_EQ(packet.substr(0, 4), unsized[i].substr(0, 4));
                continue;
            }
            Stamp stamp;
            ASSERT_EQ(FindStamp(packet, stamp), StampSearch::Found) << packet;
            EXPECT_EQ(stamp.seq, i + 1) << packet;
            if (c.exact)
                continue;
            // Too small: nothing but what the stamp needs is left.
            std::string kept;
            if (c.args[0] == "--format")
                AppendStampElement(kept, stamp);
            else
                AppendStampToken(kept.append(" "), stamp);
            EXPECT_NE(packet.find(kept), std::string::npos) << packet;
            EXPECT_LT(packet.size(), unsized[i].size()) << packet;
        }
    }
}

// Sizes drawn from a range stay in it, vary, and repeat from one seed.
TEST(Sizing, DrawnSizesStayInTheirRangeAndRepeat)
{
    const auto sizes = [](const char *seed) {
        const LoadPlan plan = MakeLoadPlan(ParseCommandLine({"--size", "100:120", "--seed", seed}).options);
        PacketStream stream(plan, plan.shares[0], "host", "10.0.0.");
        std::vector<std::size_t> sizes;
        for (int i = 0; i < 200; ++i)
            sizes.push_back(stream.Next().size());
        return sizes;
    };
    const std::vector<std::size_t> first = sizes("3");
    EXPECT_EQ(first, sizes("3"));
    EXPECT_NE(first, sizes("4"));
    EXPECT_EQ(*std::min_element(first.begin(), first.end()), 100u);
    EXPECT_EQ(*std::max_element(first.begin(), first.end()), 120u);
}

// Local time five and a half hours behind UTC, just before midnight,
// moving on at each reading.
class SteppingClock final : public Clock {
public:
    LocalDateTime Now() const override { return DateTimeOfEpochSeconds(m_us / 1000000 + Offset); }
    std::int64_t EpochMicroseconds() const override { return m_us += 700037; }
    int UtcOffsetSeconds(std::int64_t) const override { return Offset; }

private:
    static constexpr int Offset = -(5 * 3600 + 1800);
    mutable std::int64_t m_us = (EpochSecondsOf({2026, 3, 7, 23, 59, 58, 0}) - Offset) * 1000000;
};

// A message compiled once and rendered is the composer's, byte for byte,
// stamped or not, in batches whose numbers are partly given back.
TEST(PacketStream, CompiledMessagesAreTheComposersBytes)
{
    const std::vector<std::string> cases[] = {
        {},
        {"--rfc-header", "--facility", "random", "--message", "this is syslog test message number #### of ####"},
        {"--rfc-header", "--transport", "unix-dgram", "--socket", "/s", "--message", ""},
        {"--message", "ends in a space ", "--source-address", "10.1.2.3", "--crlf", "--oversize"},
        {"--message", "", "--source-address", "10.1.2.3", "--no-priority", "--size", "10:60"},
        {"--rfc-header", "--message", "", "--transport", "tcp", "--framing", "octet-count"},
        {"--transport", "tcp", "--framing", "nul", "--size", "20:90", "--message",
         "This is Syslog test message number ####"},
        {"--format", "rfc5424", "--bom", "--sd", "[a@1 x=\"1\"]", "--transport", "tcp", "--framing", "octet-count"},
        {"--format", "rfc5424", "--message", "", "--source-address", "192.168.0.1", "--size", "60:400", "--crlf"},
        {"--format", "rfc5424", "--hostname", "h", "--size", "90:200", "--message",
         "number ####, this is syslog test message number ####"},
    };
    const auto batches = [](const Options &options, bool compose, const char *run) {
        SteppingClock clock;
        const LoadPlan plan = MakeLoadPlan(options);
        PacketStream stream(plan, plan.shares[0], "host", "10.0.0.", &clock);
        if (compose)
            stream.UseComposer();
        EXPECT_EQ(stream.Compiled(), !compose);
        if (run)
            stream.StampWith(run, StreamId(0, 1), &Key);
        std::vector<std::string> sent;
        std::vector<std::uint32_t> sizes;
        // Compiled, into one room that keeps the last batch's bytes past the next one.
        std::string room;
        for (int i = 0; i < 4; ++i) {
            stream.StartBatch();
            if (compose)
                EXPECT_TRUE(stream.AppendBatch(3, sent.emplace_back(), sizes));
            else
                sent.emplace_back(stream.RenderBatch(3, room, sizes).value_or("failed"));
            stream.Withdraw(1);
        }
        return sent;
    };
    for (const std::vector<std::string> &args : cases)
        for (const char *run : {static_cast<const char *>(nullptr), "tst"})
            EXPECT_EQ(batches(Parsed(args), false, run), batches(Parsed(args), true, run));
}

// Numbers of packets that did not go out go to the next ones.
TEST(Stamping, WithdrawnPacketsGiveBackTheirNumbers)
{
    const LoadPlan plan = MakeLoadPlan(Parsed({"--message", "m"}));
    PacketStream stream(plan, plan.shares[0], "host", "10.0.0.");
    stream.StampWith("w", 3);
    const auto seqOf = [](const std::string &packet) {
        Stamp stamp;
        return FindStamp(packet, stamp) == StampSearch::Found ? stamp.seq : 0;
    };
    std::string batch;
    stream.StartBatch();
    for (int i = 0; i < 3; ++i)
        stream.AppendNext(batch);
    stream.Withdraw(1);
    EXPECT_EQ(seqOf(stream.Next()), 2u);
    stream.Withdraw(1);
    EXPECT_EQ(seqOf(stream.Next()), 3u);
    EXPECT_EQ(stream.Stamper()->NextSeq(), 4u);
}
} // namespace
