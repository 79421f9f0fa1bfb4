#include "transport/TlsSettingsStore.h"
#include "common/SettingsFile.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {
std::string Described(const TlsSettings &s)
{
    return std::string(s.enabled ? "on" : "off") + " ca=" + s.caFile + " cert=" + s.certFile + " key=" + s.keyFile +
           " name=" + s.serverName + (s.verify ? " verify " : " insecure ") + std::string(TlsVersionText(s.minVersion));
}

const std::string Defaults = "off ca= cert= key= name= verify 1.2";

TEST(TlsSettingsStore, WhatIsSavedLoadsAgainAndAStoreWithoutTheKeysGivesTlsOff)
{
    WriteSettingsStore("Transport=1|AddCRLF=1");
    std::vector<std::string> ignored;
    EXPECT_EQ(Described(LoadTlsSettings(SettingsFile(), &ignored)), Defaults);
    EXPECT_TRUE(ignored.empty());

    TlsSettings settings;
    settings.enabled = true;
    settings.caFile = "/etc/ca dir/ca.pem";
    settings.certFile = "/home/me/client é.pem";
    settings.keyFile = "/home/me/client.key";
    settings.serverName = "logs.example.net";
    settings.verify = false;
    settings.minVersion = TlsVersion::Tls13;
    {
        SettingsFile store;
        SaveTlsSettings(store, settings);
    }
    EXPECT_EQ(Described(LoadTlsSettings(SettingsFile(), &ignored)), Described(settings));
    EXPECT_TRUE(ignored.empty());
    EXPECT_EQ(SettingsFile().Text("TlsMinVersion", "?"), "1.3");
    EXPECT_EQ(SettingsFile().Text("TlsVerify", "?"), "0");
}

TEST(TlsSettingsStore, AStoredValueThatFailsTheChecksFallsBackToItsDefault)
{
    const std::tuple<QString, std::string, std::string> cases[] = {
        {"TlsEnabled= 1 |TlsMinVersion=1.3 |TlsCaFile= /a.pem ", "on ca=/a.pem cert= key= name= verify 1.3", ""},
        {"TlsEnabled=yes", Defaults, "TlsEnabled: 'yes' is not 0 or 1"},
        {"TlsVerify=2|TlsEnabled=1", "on ca= cert= key= name= verify 1.2", "TlsVerify: '2' is not 0 or 1"},
        {"TlsMinVersion=1.1", Defaults, "TlsMinVersion: '1.1' is not 1.2 or 1.3"},
    };
    for (const auto &[entries, described, why] : cases) {
        WriteSettingsStore(entries);
        std::vector<std::string> ignored;
        EXPECT_EQ(Described(LoadTlsSettings(SettingsFile(), &ignored)), described) << entries.toStdString();
        EXPECT_EQ(ignored, why.empty() ? std::vector<std::string>{} : std::vector<std::string>{why});
    }
}
} // namespace
