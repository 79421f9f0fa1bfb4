#include "engine/MessageTemplate.h"
#include "common/Clock.h"
#include "common/Random.h"
#include "engine/MessageComposer.h"
#include "engine/MessageStamper.h"
#include "engine/PacketBuilder.h"
#include "engine/Stamp.h"
#include "engine/SyslogTemplate.h"
#include "engine/TemplateSet.h"
#include "sources/SourceFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>

namespace {
// 2026-03-05T14:03:09.123456Z, shown an hour ahead of UTC.
constexpr std::int64_t Instant = 1772719389123456;
class OffsetClock final : public Clock {
public:
    LocalDateTime Now() const override { return DateTimeOfEpochSeconds(Instant / 1000000 + 3600); }
    std::int64_t EpochMicroseconds() const override { return Instant; }
    int UtcOffsetSeconds(std::int64_t) const override { return 3600; }
};
const OffsetClock clock;

TemplateContext Context(std::int64_t nowUs, std::uint64_t seq = 1, const Stamp *stamp = nullptr, int priority = 13)
{
    TemplateContext context;
    context.nowUs = nowUs;
    context.seq = seq;
    context.stamp = stamp;
    context.priority = priority;
    return context;
}

MessageTemplate Compiled(const std::string &text, const std::string &folder = {})
{
    MessageTemplate::Options options;
    options.clock = &clock;
    options.folder = folder;
    Result<MessageTemplate> compiled = MessageTemplate::Compile(text, options);
    EXPECT_TRUE(compiled) << text << ": " << compiled.Why();
    return compiled ? *compiled : MessageTemplate();
}

// Renders the template count times, with the context's seq counting from 1.
std::vector<std::string> Rendered(MessageTemplate compiled, int count, std::int64_t nowUs = Instant)
{
    std::vector<std::string> texts;
    for (int i = 1; i <= count; ++i) {
        std::string text;
        compiled.AppendTo(text, Context(nowUs, static_cast<std::uint64_t>(i)));
        texts.push_back(text);
    }
    return texts;
}

std::map<std::string, int> Counts(const std::vector<std::string> &texts)
{
    std::map<std::string, int> counts;
    for (const std::string &text : texts)
        ++counts[text];
    return counts;
}

// Each random kind: every text it writes has the pattern and passes the check.
TEST(MessageTemplate, RandomFieldsWriteWellFormedValues)
{
    struct Case {
        std::string text;
        std::string pattern;
        std::function<bool(const std::string &)> check;
        std::size_t distinct = 490;
    };
    const auto ipv6Canonical = [](const std::string &text) {
        in6_addr address{};
        char back[INET6_ADDRSTRLEN];
        return inet_pton(AF_INET6, text.c_str(), &address) == 1 && (address.s6_addr[0] & 0xe0) == 0x20 &&
               text == inet_ntop(AF_INET6, &address, back, sizeof back);
    };
    const auto unicast = [](const std::string &text) {
        const int first = std::stoi(text);
        return first != 0 && first != 127 && first < 224 && !text.ends_with(".0") && !text.ends_with(".255");
    };
    const Case cases[] = {
        {"${ip}", R"((\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3}))", unicast},
        {"${ipv6}", "[0-9a-f:]+", ipv6Canonical},
        {"${uuid}", "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}", nullptr},
        {"${hex:1}|${hex:40}", "[0-9a-f]\\|[0-9a-f]{40}", nullptr},
        {"${int:-3:3}", "-?[0-3]", nullptr, 6},
        {"${int:-9223372036854775808:9223372036854775807}", "-?\\d{1,19}", nullptr},
        // The short form, its widest range, and one just past it.
        {"${int:1024:1030}", "10(2[4-9]|30)", nullptr, 6},
        {"${int:0:99999999}", "0|[1-9]\\d{0,7}", nullptr},
        {"${int:99999990:100000009}", "9999999\\d|10000000\\d", nullptr, 15},
    };
    SetRandomStart(7);
    for (const Case &c : cases) {
        const std::vector<std::string> texts = Rendered(Compiled(c.text), 500);
        const std::regex pattern(c.pattern);
        for (const std::string &text : texts) {
            EXPECT_TRUE(std::regex_match(text, pattern)) << c.text << ": " << text;
            EXPECT_TRUE(!c.check || c.check(text)) << c.text << ": " << text;
        }
        EXPECT_GT(Counts(texts).size(), c.distinct) << c.text;
    }
}

// Each picking kind: only its texts, each as often as its weight says.
TEST(MessageTemplate, PicksFollowTheirWeights)
{
    QTemporaryDir folder;
    QFile hosts(folder.filePath("hosts.txt"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    hosts.write("alpha\r\n\nbeta\ngamma\ndelta");
    hosts.close();
    struct Case {
        std::string text;
        std::map<std::string, double> shares;
    };
    const Case cases[] = {
        {"${choice:GET|POST|a\\|b}", {{"GET", 1 / 3.0}, {"POST", 1 / 3.0}, {"a|b", 1 / 3.0}}},
        {"${weighted:200=90,404=7,500=3,x\\,y=0}", {{"200", 0.90}, {"404", 0.07}, {"500", 0.03}}},
        {"${line:hosts.txt}", {{"alpha", 0.25}, {"beta", 0.25}, {"gamma", 0.25}, {"delta", 0.25}}},
        // 1/k^1 for k = 1..4, over their sum 25/12.
        {"${zipf:hosts.txt:1}", {{"alpha", 12 / 25.0}, {"beta", 6 / 25.0}, {"gamma", 4 / 25.0}, {"delta", 3 / 25.0}}},
    };
    constexpr int Draws = 20000;
    for (const Case &c : cases) {
        const std::map<std::string, int> counts =
            Counts(Rendered(Compiled(c.text, folder.path().toStdString()), Draws));
        EXPECT_EQ(counts.size(), c.shares.size()) << c.text;
        for (const auto &[text, share] : c.shares)
            EXPECT_NEAR(counts.count(text) ? counts.at(text) / double(Draws) : 0, share, 0.015) << c.text << text;
    }
}

// Counter, seq, priority, literal "${", and each time format at one instant.
TEST(MessageTemplate, CountersAndTimesWriteTheirText)
{
    EXPECT_EQ(Rendered(Compiled("${counter}/${seq} $${x}"), 3),
              (std::vector<std::string>{"1/1 ${x}", "2/2 ${x}", "3/3 ${x}"}));
    const std::pair<std::string, std::string> times[] = {
        {"${time}", "2026-03-05T15:03:09.123+01:00"},
        {"${time:rfc3339_us}", "2026-03-05T15:03:09.123456+01:00"},
        {"${time:rfc3164}", "Mar  5 15:03:09"},
        {"${time:epoch} ${time:epoch_ms}", "1772719389 1772719389123"},
        {"${time:apache}", "05/Mar/2026:15:03:09 +0100"},
        {"${time:%a %d %b %Y %H\\:%M %z}", "Thu 05 Mar 2026 15:03 +0100"},
    };
    for (const auto &[text, expected] : times)
        EXPECT_EQ(Rendered(Compiled(text), 1)[0], expected);
    // Within its millisecond the text stays; the next one shows.
    MessageTemplate time = Compiled("${time}");
    std::string text;
    for (std::int64_t at : {Instant, Instant + 543, Instant + 544, Instant + 1000000})
        time.AppendTo(text, Context(at));
    EXPECT_EQ(text, "2026-03-05T15:03:09.123+01:00"
                    "2026-03-05T15:03:09.123+01:00"
                    "2026-03-05T15:03:09.124+01:00"
                    "2026-03-05T15:03:10.123+01:00");
}

TEST(MessageTemplate, ASeedRepeatsTheBytes)
{
    const std::string text = "${ip} ${ipv6} ${uuid} ${hex:8} ${int:1:1000000} ${choice:a|b|c} ${weighted:x=1,y=2}";
    const auto run = [&text](std::uint64_t seed) {
        SetRandomStart(seed);
        return Rendered(Compiled(text), 50);
    };
    EXPECT_EQ(run(42), run(42));
    EXPECT_NE(run(42), run(43));
}

TEST(MessageTemplate, ErrorsNameTheFieldAndItsColumn)
{
    const std::pair<std::string, std::string> cases[] = {
        {"ab ${nope}", "field ${nope} at column 4: unknown field 'nope'"},
        {"${int:9:1}", "field ${int:9:1} at column 1: 9 is above 1"},
        {"${int:1}", "field ${int:1} at column 1: an integer range is written int:LOW:HIGH"},
        {"${int:1:x}", "field ${int:1:x} at column 1: 'x' is not a whole number"},
        {"${hex:0}", "field ${hex:0} at column 1: the count of hex digits must be from 1 to 4096"},
        {"${weighted:a=1,b}", "field ${weighted:a=1,b} at column 1: 'b' is not TEXT=WEIGHT"},
        {"${weighted:a=0}", "the weights add up to 0"},
        {"x ${line:/no/such/file}", "field ${line:/no/such/file} at column 3: cannot read '/no/such/file'"},
        {"${zipf:f.txt}", "zipf:FILE:S with S above 0"},
        {"${time:nano}", "unknown time format 'nano'"},
        {"${ip:4}", "'ip' takes no value"},
        {"${stamp:xml}", "unknown stamp form 'xml'"},
        {"text ${ip", "the field at column 6 has no closing '}'"},
    };
    for (const auto &[text, expected] : cases) {
        const Result<MessageTemplate> compiled = MessageTemplate::Compile(text, {});
        EXPECT_FALSE(compiled) << text;
        EXPECT_NE(compiled.Why().find(expected), std::string::npos) << text << ": " << compiled.Why();
    }
}

// Each stamp form reads back where its format keeps it; without a stamp the
// record is as it would be unstamped.
TEST(MessageTemplate, StampSlotsReadBackInEveryForm)
{
    const std::pair<std::string, std::string> forms[] = {
        {"CEF:0|a|b|1|1|n|3|src=1.2.3.4${stamp}", "CEF:0|a|b|1|1|n|3|src=1.2.3.4"},
        {"LEEF:2.0|a|b|1|1|x09|src=1.2.3.4${stamp:tab}", "LEEF:2.0|a|b|1|1|x09|src=1.2.3.4"},
        {R"({"a":1${stamp:json}})", R"({"a":1})"},
        {"<13>1 - h a - - ${stamp:sd} text", "<13>1 - h a - -  text"},
    };
    for (std::optional<std::uint64_t> mac : {std::optional<std::uint64_t>(), std::optional<std::uint64_t>(0xabcdef)}) {
        const Stamp stamp{"run-1", StreamId(2, 5), 41, Instant, mac};
        for (const auto &[text, unstamped] : forms) {
            MessageTemplate compiled = Compiled(text);
            EXPECT_TRUE(compiled.HasStamp());
            std::string rendered;
            compiled.AppendTo(rendered, Context(Instant));
            EXPECT_EQ(rendered, unstamped);
            // Counted on in place, over a carry, and set afresh.
            for (std::uint64_t seq : {41, 42, 99, 100, 101, 7}) {
                Stamp next = stamp;
                next.seq = seq;
                rendered.clear();
                compiled.AppendTo(rendered, Context(Instant, seq, &next));
                Stamp read;
                ASSERT_EQ(FindStamp(rendered, read), StampSearch::Found) << rendered;
                EXPECT_TRUE(read.run == "run-1" && read.stream == next.stream && read.seq == seq &&
                            read.sentUs == Instant && read.mac == mac)
                    << rendered;
            }
        }
    }
}

// A stamp fits the text around it: a separator only where none stands
// before it, and a template without a stamp field takes it where its
// record keeps fields, or says it has no place.
TEST(MessageTemplate, StampFitsTheTextAroundIt)
{
    struct Case {
        std::string text;
        StampFit fit; // for a text without a stamp field
        std::string rendered;
    };
    const Case cases[] = {
        {R"({"req":"x",${stamp:json}})", StampFit::Token, R"({"req":"x","quillon":"r:1:1:5"})"},
        {R"({ ${stamp:json} })", StampFit::Token, R"({ "quillon":"r:1:1:5" })"},
        {R"({"a":${int:1:1}${stamp:json}})", StampFit::Token, R"({"a":1,"quillon":"r:1:1:5"})"},
        {"k=v ${stamp}", StampFit::Token, "k=v quillon=r:1:1:5"},
        {"${stamp} k=v", StampFit::Token, "quillon=r:1:1:5 k=v"},
        {"a=1\t${stamp:tab}", StampFit::Token, "a=1\tquillon=r:1:1:5"},
        {R"({"a":{"b":2}} )", StampFit::Json, R"({"a":{"b":2},"quillon":"r:1:1:5"} )"},
        {R"({"a":${int:1:1}})", StampFit::Json, R"({"a":1,"quillon":"r:1:1:5"})"},
        {"{}", StampFit::Json, R"({"quillon":"r:1:1:5"})"},
        {"k=v", StampFit::Token, "k=v"},
        {"[a b]", StampFit::None, "[a b]"},
        {"<a/>", StampFit::None, "<a/>"},
        {"a}", StampFit::None, "a}"},
    };
    const Stamp stamp{"r", 1, 1, 5};
    for (const Case &c : cases) {
        MessageTemplate compiled = Compiled(c.text);
        if (!compiled.HasStamp()) {
            EXPECT_EQ(compiled.FitStamp(), c.fit) << c.text;
        }
        std::string rendered;
        compiled.AppendTo(rendered, Context(Instant, 1, &stamp));
        EXPECT_EQ(rendered, c.rendered) << c.text;
    }
    // A token added after the text takes the space the text ends in.
    SyslogTemplateSettings settings;
    settings.format.format = MessageFormat::Rfc3164;
    settings.priority = 13;
    settings.stamped = true;
    MessageTemplate appended = SyslogMessageTemplate(settings, Compiled("k=v "), clock);
    std::string rendered;
    appended.AppendTo(rendered, Context(Instant, 1, &stamp));
    EXPECT_EQ(rendered, "<13>k=v quillon=r:1:1:5");
}

// The composed-once form writes the bytes today's composer, stamper and
// packet builder write, and frames them with their octet count.
TEST(SyslogTemplate, WritesTheComposersBytes)
{
    for (MessageFormat format : {MessageFormat::Rfc5424, MessageFormat::Rfc3164}) {
        SendState state;
        state.MessageText = "Hello from the template";
        FixedComposeInputs inputs;
        inputs.rfcHeader = true;
        inputs.hostName = "bench-host";
        SourceFile source(state);
        MessageComposer composer(state, inputs, clock, source);
        MessageFormatSettings settings;
        settings.format = format;
        settings.procId = "77";
        settings.sdElements = {R"([env@32473 k="v"])"};
        composer.UseFormat(settings);
        MessageStamper stamper("run", 3);

        SyslogTemplateSettings templateSettings;
        templateSettings.format = settings;
        templateSettings.hostName = inputs.hostName;
        templateSettings.rfc3164Header = true;
        templateSettings.stamped = true;
        templateSettings.lineEnd = "\r\n";
        MessageTemplate whole = SyslogMessageTemplate(templateSettings, Compiled(state.MessageText), clock);
        for (std::uint64_t seq = 1; seq <= 10; ++seq) {
            std::string expected;
            AppendComposedPacket(expected, 165, stamper.Apply(composer.ComposeView(SendingKind::Single), Instant),
                                 false, false, false, true);
            const Stamp stamp{"run", 3, seq, Instant};
            std::string framed(whole.MaxLength({}) + MessageTemplate::CountRoom, '\0');
            framed.resize(static_cast<std::size_t>(
                whole.RenderOctetCounted(framed.data(), Context(Instant, seq, &stamp, 165)) - framed.data()));
            EXPECT_EQ(framed, std::to_string(expected.size()) + " " + expected);
        }
    }
}

TEST(TemplateSet, FileLinesGiveTemplatesWeightsAndApps)
{
    QTemporaryDir folder;
    QFile users(folder.filePath("users.txt"));
    ASSERT_TRUE(users.open(QIODevice::WriteOnly) && users.write("root\n") > 0);
    users.close();
    const std::string file = "# comment\n\n[weight=3 app=sshd] login ${line:users.txt}\n[] [x] ${counter}\nplain\n";
    MessageTemplate::Options options;
    options.folder = folder.path().toStdString();
    Result<TemplateSet> set = TemplateSet::Parse(file, "t.txt", options);
    ASSERT_TRUE(set) << set.Why();
    EXPECT_EQ(set->GetOrder(), TemplateSet::Order::ByWeight);
    ASSERT_EQ(set->Count(), 3u);
    EXPECT_EQ(set->App(0), "sshd");
    std::map<std::string, int> counts;
    for (int i = 0; i < 5000; ++i) {
        const std::size_t index = set->NextIndex();
        std::string text;
        set->Template(index).AppendTo(text, {});
        ++counts[text.substr(0, 3)];
    }
    EXPECT_NEAR(counts["log"] / 5000.0, 0.6, 0.03);
    EXPECT_NEAR(counts["[x]"] / 5000.0, 0.2, 0.03);

    Result<TemplateSet> inTurn = TemplateSet::Parse("a\nb\n", "t.txt", options);
    ASSERT_TRUE(inTurn);
    for (std::size_t expected : {0, 1, 0})
        EXPECT_EQ(inTurn->NextIndex(), expected);

    const std::pair<std::string, std::string> faults[] = {
        {"ok\n[weight=2] ${nope}\n", "t.txt line 2: field ${nope} at column 12: unknown field 'nope'"},
        {"[weight=x] a\n", "t.txt line 1: the weight 'x' is not a number of 0 or more"},
        {"[color=red] a\n", "t.txt line 1: unknown option 'color=red'"},
        {"[weight=1 a\n", "t.txt line 1: the options in '[' have no closing ']'"},
        {"# only a comment\n", "t.txt has no template"},
    };
    for (const auto &[text, expected] : faults) {
        const Result<TemplateSet> parsed = TemplateSet::Parse(text, "t.txt", options);
        EXPECT_FALSE(parsed) << text;
        EXPECT_NE(parsed.Why().find(expected), std::string::npos) << parsed.Why();
    }
}
} // namespace
