#include "engine/Stamp.h"
#include "engine/Rfc5424Parser.h"
#include "engine/StampKey.h"

#include <gtest/gtest.h>

namespace {
TEST(Stamp, WrittenStampsReadBackInBothForms)
{
    const Stamp stamps[] = {
        {"a", 0, 1, 0},
        {"0123456789abcdef", StreamId(12, 34), 9223372036854775807ull, 1700000000123456},
    };
    for (const Stamp &stamp : stamps) {
        std::string token = "<13>Jan  1 00:00:00 host tag: text";
        AppendStampToken(token, stamp);
        std::string element = "<13>1 2024-01-01T00:00:00Z host app - - ";
        AppendStampElement(element, stamp);
        for (const std::string &message : {token, token + "\r\n", element, element + " body quillon=x:1:1:1"}) {
            Stamp read;
            ASSERT_EQ(FindStamp(message, read), StampSearch::Found) << message;
            EXPECT_EQ(read.run, stamp.run);
            EXPECT_EQ(read.stream, stamp.stream);
            EXPECT_EQ(read.seq, stamp.seq);
            EXPECT_EQ(read.sentUs, stamp.sentUs);
        }
    }
    EXPECT_EQ((Stamp{"r", StreamId(3, 999999), 1, 0}.Shard()), 3u);
    std::string empty;
    AppendStampToken(empty, stamps[0]);
    EXPECT_EQ(empty, "quillon=a:0:1:0");
    std::string element;
    AppendStampElement(element, stamps[1]);
    EXPECT_EQ(
        element,
        R"([quillon@32473 run="0123456789abcdef" stream="12000034" seq="9223372036854775807" t="1700000000123456"])");
    EXPECT_FALSE(IsValidRunId("Run_id-0123456789")); // 17 characters
    for (std::uint64_t random : {0ull, 1ull, ~0ull}) {
        EXPECT_TRUE(IsValidRunId(RunIdFromNumber(random)));
        EXPECT_EQ(RunIdFromNumber(random).size(), 12u);
    }
    EXPECT_NE(RunIdFromNumber(1), RunIdFromNumber(2));
}

TEST(Stamp, FindsStampsAndTellsMalformedOnesFromNone)
{
    struct Case {
        std::string message;
        StampSearch result;
        std::uint64_t seq = 0;
    };
    const std::string sd = "<13>1 - h a - - ";
    const Case cases[] = {
        {"<13>plain text", StampSearch::None},
        {"", StampSearch::None},
        {"text quillon=r:1:5:10", StampSearch::Found, 5},
        {"quillon=r:1:5:10 \t\r\n", StampSearch::Found, 5},
        {std::string("text quillon=r:1:6:10\0", 22), StampSearch::Found, 6},
        // Control characters as rsyslog escapes them by default.
        {"text quillon=r:1:7:10#015", StampSearch::Found, 7},
        {"text quillon=r:1:7:10#011#000 #012", StampSearch::Found, 7},
        {"text quillon=r:1:7:10#101", StampSearch::Malformed},
        // The token must stand on its own and end the message.
        {"text xquillon=r:1:5:10", StampSearch::None},
        {"text quillon=r:1:5:10 more", StampSearch::Malformed},
        {"text quillon=r:1:5", StampSearch::Malformed},
        {"text quillon=r:1:0:10", StampSearch::Malformed},  // seq from 1
        {"text quillon=r:01:5:10", StampSearch::Malformed}, // leading zero
        {"text quillon=r:-1:5:10", StampSearch::Malformed}, // sign
        {"text quillon=r:1:9223372036854775808:1", StampSearch::Malformed},
        {"text quillon=r!:1:5:10", StampSearch::Malformed}, // run character
        {"text quillon=:1:5:10", StampSearch::Malformed},
        {"text quillon=r:1:5:10:11", StampSearch::Malformed},
        // Keyed: 16 lowercase hex digits of MAC.
        {"text quillon=r:1:5:10:0123456789abcdef", StampSearch::Found, 5},
        {"text quillon=r:1:5:10:0123456789ABCDEF", StampSearch::Malformed},
        {sd + R"([quillon@32473 run="r" stream="2" seq="9" t="1" mac="00000000000000ff"])", StampSearch::Found, 9},
        {sd + R"([quillon@32473 run="r" stream="2" seq="9" t="1" mac="ff"])", StampSearch::Malformed},
        {sd + R"([quillon@32473 t="1" seq="8" stream="2" run="r"])", StampSearch::Found, 8},
        {sd + R"([x@1 a="]\"\\"][quillon@32473 run="r" stream="2" seq="9" t="1" extra="y"] m)", StampSearch::Found, 9},
        {sd + R"([quillon@32473 run="r" stream="2" seq="9"])", StampSearch::Malformed},
        {sd + R"([quillon@32473 run="r" run="r" stream="2" seq="9" t="1"])", StampSearch::Malformed},
        {sd + R"([quillon@32473 run="r" stream="2" seq="x9" t="1"])", StampSearch::Malformed},
        {sd + R"([quillon@32473 run="r\"" stream="2" seq="9" t="1"])", StampSearch::Malformed},
        {sd + R"([quillon@32473 run="r" stream="2" seq="9" t="1")", StampSearch::Malformed},
        {sd + "- text", StampSearch::None},
        // A daemon's own prefix before the element, or an element it broke.
        {R"(2024-01-01 host app: [quillon@32473 run="r" stream="2" seq="3" t="1"] m)", StampSearch::Found, 3},
        {R"(host [quillon@32473 run="r" seq=3])", StampSearch::Malformed},
        {R"(host [quillon@324730 run="r" stream="2" seq="3" t="1"] quillon=r:1:4:1)", StampSearch::Found, 4},
        // Text that only looks like an element hides neither a real one nor the token.
        {R"(text [quillon@32473 run="x" stream="1" seq="1" t="1"] more quillon=r:1:7:1)", StampSearch::Found, 7},
        {R"(host app: about [quillon@32473 run= quillon=r:1:4:1)", StampSearch::Found, 4},
        {R"(host [a@1 v="[quillon@32473"][quillon@32473 run="r" stream="2" seq="5" t="1"] m)", StampSearch::Found, 5},
        {R"(host [quillon@32473 run="r" seq=3] quillon=r:1:5)", StampSearch::Malformed},
        // Where the packs keep it: a LEEF attribute after a tab rsyslog escaped,
        // a JSON member (re-serialized, or inside a JSON string).
        {"LEEF:2.0|a|b|1|1|x09|src=1.2.3.4#011quillon=r:1:8:10", StampSearch::Found, 8},
        {R"({"a":1,"quillon":"r:1:5:10"})", StampSearch::Found, 5},
        {R"({ "quillon" : "r:1:6:10", "b": 2 })", StampSearch::Found, 6},
        {R"(host app: {"msg":"{\"a\":1,\"quillon\":\"r:1:7:10\"}"})", StampSearch::Found, 7},
        {R"({"app":"quillon","b":"quillon"})", StampSearch::None},
        {R"({"quillon":5})", StampSearch::Malformed},
        {R"({"quillon":"r:1:0:10"})", StampSearch::Malformed},
    };
    for (const Case &c : cases) {
        Stamp stamp;
        EXPECT_EQ(FindStamp(c.message, stamp), c.result) << c.message;
        if (c.result == StampSearch::Found) {
            EXPECT_EQ(stamp.seq, c.seq) << c.message;
        }
    }
}

// A MAC is of the stamp's every field under its key.
TEST(StampKey, MacsHoldOnlyForTheirFieldsAndKey)
{
    const StampMac mac(StampKey("a secret of some length"));
    const std::uint64_t first = mac.Of("r", 1, 2, 3);
    EXPECT_NE(StampMac(StampKey("another secret of some length")).Of("r", 1, 2, 3), first);
    for (const Stamp &other :
         {Stamp{"s", 1, 2, 3}, Stamp{"r1", 1, 2, 3}, Stamp{"r", 0, 2, 3}, Stamp{"r", 1, 3, 3}, Stamp{"r", 1, 2, 4}})
        EXPECT_NE(mac.Of(other.run, other.stream, other.seq, other.sentUs), first) << other.run;
}

TEST(Rfc5424Parser, SplitsHeaderFieldsOrDeclines)
{
    struct Case {
        std::string message;
        bool ok;
        std::string sd;
        std::string msg;
    };
    const Case cases[] = {
        {"<165>1 2003-10-11T22:14:15.003Z mymachine evntslog - ID47 [a@1 iut=\"3\"][b@2 c=\"d\"] BOMtext", true,
         "[a@1 iut=\"3\"][b@2 c=\"d\"]", "BOMtext"},
        {"<13>1 - - - - - -", true, "-", ""},
        {"<13>1 - - - - - - ", true, "-", ""},
        {"<0>12 - - - - - [id] x y", true, "[id]", "x y"},
        {"<192>1 - - - - - -", false, "", ""},
        {"<13>0 - - - - - -", false, "", ""},
        {"<13>123 - - - - - -", false, "", ""},
        {"<13>Jan  1 00:00:00 host tag: text", false, "", ""},
        {"<13>1 - - - - -", false, "", ""},
        {"<13>1 - - - - - -x", false, "", ""},
        {"<13>1 - - - - - [a b=\"c]", false, "", ""},
        {"<13>1 - - - - - [a b=c]", false, "", ""},
        {"<13>1 - - - - - [=a]", false, "", ""},
        {"<13>1 - - - - - [a  b=\"c\"]", false, "", ""},
        {"<13>1 - - - - - [a b=\"c\"]x", false, "", ""},
        {"13>1 - - - - - -", false, "", ""},
    };
    for (const Case &c : cases) {
        Rfc5424Fields fields;
        ASSERT_EQ(ParseRfc5424(c.message, fields), c.ok) << c.message;
        if (!c.ok)
            continue;
        EXPECT_EQ(fields.structuredData, c.sd) << c.message;
        EXPECT_EQ(fields.msg, c.msg) << c.message;
    }
    Rfc5424Fields fields;
    ASSERT_TRUE(ParseRfc5424("<34>1 2003-10-11T22:14:15.003Z mymachine su 77 ID47 - 'su root' failed", fields));
    EXPECT_EQ(fields.priority, 34);
    EXPECT_EQ(fields.version, 1);
    EXPECT_EQ(fields.timestamp, "2003-10-11T22:14:15.003Z");
    EXPECT_EQ(fields.hostname, "mymachine");
    EXPECT_EQ(fields.appName, "su");
    EXPECT_EQ(fields.procId, "77");
    EXPECT_EQ(fields.msgId, "ID47");
}

TEST(Rfc5424Parser, WalksElementsAndUnescapesValues)
{
    SdElementReader reader(R"([a@1 x="1" y="q\"\\\]\n"][b][c@2 z=""] rest)");
    std::string seen;
    std::string_view id;
    std::string_view name;
    std::string_view value;
    while (reader.NextElement(id)) {
        seen += std::string(id) + ":";
        while (reader.NextParam(name, value)) {
            seen += std::string(name) + "=";
            AppendUnescaped(seen, value);
            seen += ";";
        }
    }
    EXPECT_FALSE(reader.Malformed());
    EXPECT_EQ(seen, R"(a@1:x=1;y=q"\]\n;b:c@2:z=;)");
    EXPECT_EQ(reader.Rest(), " rest");
    EXPECT_EQ(StructuredDataLength(R"([a b="]"] m)"), 9u);
    EXPECT_EQ(StructuredDataLength(R"([a b="\"])"), 0u);
}
} // namespace
