#include "engine/MessageFormatStore.h"
#include "common/SettingsFile.h"
#include "engine/StructuredData.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {
std::string Described(const MessageFormatSettings &s)
{
    std::string text = s.format == MessageFormat::Rfc5424 ? "5424 " : "3164 ";
    text += std::string(FramingName(s.framing)) + (s.utf8Bom ? " bom" : "") + " host=" + s.hostName +
            " app=" + s.appName + " proc=" + s.procId + " msg=" + s.msgId + " ";
    AppendStructuredData(text, s.sdElements);
    return text;
}

TEST(MessageFormatStore, WhatIsSavedLoadsAgainAndAStoreWithoutTheKeysLoadsTheDefaults)
{
    WriteSettingsStore("Facility=3|AddCRLF=1");
    std::vector<std::string> ignored;
    EXPECT_EQ(Described(LoadMessageFormat(SettingsFile(), &ignored)), Described(MessageFormatSettings{}));
    EXPECT_TRUE(ignored.empty());

    MessageFormatSettings settings;
    settings.format = MessageFormat::Rfc5424;
    settings.hostName = "host.example";
    settings.appName = "app";
    settings.procId = "42";
    settings.msgId = "ID47";
    settings.sdElements = {R"([a@32473 x="q\" b\\ r\]" y=""])", "[b]", "[c z=\"é, a\"]"};
    settings.utf8Bom = true;
    for (const Framing framing : {Framing::None, Framing::Lf, Framing::CrLf, Framing::Nul, Framing::OctetCount}) {
        settings.framing = framing;
        {
            SettingsFile store;
            SaveMessageFormat(store, settings);
        }
        EXPECT_EQ(Described(LoadMessageFormat(SettingsFile(), &ignored)), Described(settings)) << FramingName(framing);
    }
    {
        SettingsFile store;
        SaveMessageFormat(store, MessageFormatSettings{});
    }
    EXPECT_EQ(SettingsFile().Text("Rfc5424StructuredData", "?"), "-");
    EXPECT_EQ(SettingsFile().Text("MessageFormat", "?"), "RFC 3164");
    EXPECT_EQ(Described(LoadMessageFormat(SettingsFile(), &ignored)), Described(MessageFormatSettings{}));
    EXPECT_TRUE(ignored.empty());
}

// Hand-written values: spaces and case are forgiven; what fails the checks
// leaves its field at the default and says why.
TEST(MessageFormatStore, AStoredValueThatFailsTheChecksFallsBackToItsDefault)
{
    const std::string defaults = "3164 none host= app=Quillon proc= msg=- -";
    const std::tuple<QString, std::string, std::string> cases[] = {
        {"MessageFormat= rfc5424 |StreamFraming=Octet-Count|Rfc5424Bom=1|Rfc5424StructuredData= [a][b x=\"1\"] ",
         "5424 octet-count bom host= app=Quillon proc= msg=- [a][b x=\"1\"]", ""},
        {"Rfc5424HostName=|Rfc5424ProcId=|Rfc5424StructuredData=|MessageFormat=RFC 3164", defaults, ""},
        {"MessageFormat=RFC 5425", defaults, "MessageFormat: 'RFC 5425' is not RFC 3164 or RFC 5424"},
        {"StreamFraming=tab", defaults, "StreamFraming: 'tab' is not none, lf, crlf, nul or octet-count"},
        {"Rfc5424Bom=2", defaults, "Rfc5424Bom: '2' is not 0 or 1"},
        {"Rfc5424AppName=", defaults, "Rfc5424AppName: APP-NAME is empty; \"-\" stands for no value"},
        {"Rfc5424StructuredData=[a] [b]", defaults,
         "Rfc5424StructuredData: an SD element starts with '[' (no spaces or other text between elements)"},
        {"Rfc5424StructuredData=[a][b][a]", defaults,
         "Rfc5424StructuredData: SD-ID 'a' is given twice; each SD element needs its own SD-ID"},
    };
    for (const auto &[entries, described, why] : cases) {
        WriteSettingsStore(entries);
        std::vector<std::string> ignored;
        EXPECT_EQ(Described(LoadMessageFormat(SettingsFile(), &ignored)), described) << entries.toStdString();
        EXPECT_EQ(ignored, why.empty() ? std::vector<std::string>{} : std::vector<std::string>{why});
    }
}
} // namespace
