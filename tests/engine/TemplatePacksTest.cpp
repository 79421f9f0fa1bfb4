#include "engine/TemplatePacks.h"
#include "common/Clock.h"
#include "engine/Stamp.h"
#include "engine/SyslogTemplate.h"

#include <gtest/gtest.h>

namespace {
// Every pack's sample shows its stamp where the pack keeps one; the packs
// without a place of their own are stamped in the syslog header's.
TEST(TemplatePacks, EveryPackIsStampedWhereItsFormatKeepsFields)
{
    std::vector<std::string_view> names;
    for (const TemplatePack &pack : TemplatePacks()) {
        names.push_back(pack.name);
        const std::string sample = TemplatePackSample(pack);
        EXPECT_EQ(sample, TemplatePackSample(pack));
        Stamp stamp;
        EXPECT_EQ(FindStamp(sample, stamp), pack.stampsItself ? StampSearch::Found : StampSearch::None) << sample;

        Result<TemplateSet> set = CompileTemplatePack(pack, {});
        ASSERT_TRUE(set) << set.Why();
        SyslogTemplateSettings settings;
        settings.format.format = MessageFormat::Rfc5424;
        settings.stamped = !pack.stampsItself;
        const SystemClock clock;
        for (std::size_t i = 0; i < set->Count(); ++i) {
            MessageTemplate whole = SyslogMessageTemplate(settings, set->Template(i), clock, set->App(i));
            const Stamp sent{"run", 1, i + 1, 5};
            TemplateContext context;
            context.stamp = &sent;
            std::string message;
            whole.AppendTo(message, context);
            ASSERT_EQ(FindStamp(message, stamp), StampSearch::Found) << message;
            EXPECT_EQ(stamp.seq, i + 1);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string_view>{"cef", "leef", "json", "apache", "firewall", "auth"}));
    EXPECT_EQ(FindTemplatePack("nope"), nullptr);
}
} // namespace
