#include "transport/ProxyHeader.h"
#include "transport/ProxySources.h"

#include <gtest/gtest.h>

#include <set>

namespace {
ProxyAddress Address(const char *text, std::uint16_t port)
{
    ProxyAddress address = ParseProxyAddress(text).value();
    address.port = port;
    return address;
}

// Each version's header reads back as built, only once whole, and ends
// where the syslog bytes after it start.
TEST(ProxyHeader, EachVersionReadsBackWhatItWrote)
{
    using Builder = void (*)(std::string &, const ProxyAddress &, const ProxyAddress &);
    const ProxyAddress v4 = Address("192.0.2.7", 40000);
    const ProxyAddress to = Address("198.51.100.1", 514);
    const ProxyAddress v6 = Address("2001:db8::7", 5000);
    struct Case {
        Builder build;
        ProxyAddress source;
        std::string expected;
    };
    const Case cases[] = {
        {AppendProxyV1, v4, "PROXY TCP4 192.0.2.7 198.51.100.1 40000 514\r\n"},
        {AppendProxyV1, v6, "PROXY TCP6 2001:db8::7 ::ffff:198.51.100.1 5000 514\r\n"},
        {AppendProxyV2, v4,
         std::string(ProxyV2Signature) +
             std::string("\x21\x11\x00\x0c\xc0\x00\x02\x07\xc6\x33\x64\x01\x9c\x40\x02\x02", 16)},
        {AppendProxyV2, v6, ""},
    };
    for (const Case &c : cases) {
        std::string bytes;
        c.build(bytes, c.source, to);
        if (!c.expected.empty()) {
            EXPECT_EQ(bytes, c.expected);
        }
        const std::size_t length = bytes.size();
        for (std::size_t i = 0; i < length; ++i) {
            ProxyHeader partial;
            EXPECT_EQ(ParseProxyHeader(std::string_view(bytes).substr(0, i), partial), ProxyParse::NeedMore) << i;
        }
        bytes += "<13>syslog";
        ProxyHeader header;
        ASSERT_EQ(ParseProxyHeader(bytes, header), ProxyParse::Header);
        EXPECT_EQ(header.length, length);
        EXPECT_EQ(header.version, c.build == AppendProxyV1 ? 1 : 2);
        EXPECT_EQ(header.source, c.source.v6 ? c.source : v4);
        EXPECT_EQ(ProxyAddressText(header.destination), c.source.v6 ? "::ffff:198.51.100.1" : "198.51.100.1");
    }
    const std::pair<std::string, ProxyParse> others[] = {
        {"<13>Jan  1 00:00:00 host tag: text", ProxyParse::NotProxy},
        {"PROXY UNKNOWN\r\n", ProxyParse::Header},
        {"PROXY TCP4 192.0.2.7 198.51.100.1 40000 65536\r\n", ProxyParse::Malformed},
        {"PROXY TCP4 2001:db8::7 198.51.100.1 1 2\r\n", ProxyParse::Malformed},
        {"PROXY TCP4  192.0.2.7 198.51.100.1 1 2\r\n", ProxyParse::Malformed},
        {"PROXY " + std::string(120, 'x'), ProxyParse::Malformed},
        {std::string(ProxyV2Signature) + std::string("\x20\x00\x00\x00", 4), ProxyParse::Header},
        {std::string(ProxyV2Signature) + std::string("\x21\x11\x00\x04....", 8), ProxyParse::Malformed},
        {std::string(ProxyV2Signature) + std::string("\x13\x11\x00\x00", 4), ProxyParse::Malformed},
    };
    for (const auto &[bytes, expected] : others) {
        ProxyHeader header;
        EXPECT_EQ(ParseProxyHeader(bytes, header), expected) << bytes;
    }
}

TEST(ProxySources, ListsRangesAndRandomSources)
{
    Result<ProxySources> list = ProxySources::Parse("192.0.2.7,192.0.2.8:40000,[2001:db8::7]:5000");
    ASSERT_TRUE(list) << list.Why();
    const ProxyAddress first = list->Next();
    EXPECT_EQ(ProxyAddressText(first), "192.0.2.7");
    EXPECT_GE(first.port, 1024);
    EXPECT_EQ(list->Next(), Address("192.0.2.8", 40000));
    EXPECT_EQ(list->Next(), Address("2001:db8::7", 5000));
    EXPECT_EQ(ProxyAddressText(list->Next()), "192.0.2.7");

    Result<ProxySources> range = ProxySources::Parse("10.20.0.0/14");
    ASSERT_TRUE(range);
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const ProxyAddress address = range->Next();
        EXPECT_TRUE(address.bytes[0] == 10 && (address.bytes[1] & 0xfc) == 20) << ProxyAddressText(address);
        seen.insert(ProxyAddressText(address));
    }
    EXPECT_GT(seen.size(), 190u);
    EXPECT_EQ(ProxySources::Parse("random6")->Next().bytes[0] & 0xe0, 0x20);
    for (const char *bad : {"", "192.0.2.7,", "10.0.0.0/33", "[2001:db8::7]:", "192.0.2.7:0", "host.example"})
        EXPECT_FALSE(ProxySources::Parse(bad)) << bad;
}
} // namespace
