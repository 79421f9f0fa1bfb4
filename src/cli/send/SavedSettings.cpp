#include "cli/send/SavedSettings.h"

#include "common/Numbers.h"
#include "common/SettingsFile.h"
#include "common/SettingsRules.h"
#include "common/TextHelpers.h"
#include "engine/MessageFormatStore.h"
#include "engine/Vocabulary.h"
#include "transport/PortRules.h"
#include "transport/TlsSettingsStore.h"

namespace {
Pace PaceOfSendOption(int index)
{
    switch (index) {
    case 1:
        return Pace::EverySecond;
    case 2:
        return Pace::EveryMinute;
    case 3:
        return Pace::Continuous;
    case 4:
    case 5:
        return Pace::Burst;
    default:
        return Pace::Once;
    }
}
} // namespace

Options SavedOptions(std::vector<std::string> *ignored)
{
    const SettingsFile store;
    const auto trimmed = [&store](std::string_view key, std::string_view defaultText) {
        return TrimSpaces(store.Text(key, defaultText));
    };
    const auto checked = [&store](std::string_view key) { return store.Index(key, 0, 1, 0) == 1; };
    Options o;
    o.continuousMs = store.Index("SpeedSetting", 10, 2000, 10);
    o.facilityIndex = store.Index("Facility", 0, 24, 24);
    o.levelIndex = store.Index("Level", 0, 8, 8);
    o.sourceAddress = trimmed("SourceIPAddress", Vocabulary::DefaultSourceAddress);
    o.corrupt = checked("CorruptPacket");
    o.noPriority = checked("NoPriority");
    o.oversize = checked("HugePackets");
    o.rfcHeader = checked("RFCMessages");
    // Sending uses the target trimmed, as the window captures it.
    o.target = trimmed("TargetIPAddress", "127.0.0.1");
    const int sendOption = store.Index("Options", 0, 5, 0);
    o.pace = PaceOfSendOption(sendOption);
    o.burstSize = sendOption == 5 ? 500 : 100;
    // "AddCRLF" is not read: the window's transport switch runs after the
    // stored check box is applied, and the command line decides CR LF the
    // same way.
    const bool tcp = store.Index("Transport", 0, 1, 0) == 1;
    o.port = PortFromText(NormalisePortText(store.Text("PortNumber", "514")));
    o.sourcePort = PortFromText(NormaliseSourcePortText(trimmed("SourcePortNumber", RandomSourcePort)));
    o.message = trimmed("Message", Vocabulary::MessageTemplates[0]);
    o.multiLineText = trimmed("MultiLineText", "");
    o.sourceFile = trimmed("FileToReadFrom", "");
    o.sequenceNumber = SavedSequenceNumber(o.target);
    o.messageFormat = LoadMessageFormat(store, ignored);
    // TLS runs on the TCP session: a saved TLS with a saved UDP stays off
    // until --transport tls, which then uses the saved files.
    o.tls = LoadTlsSettings(store, ignored);
    o.transport = !tcp ? TransportKind::Udp : o.tls.enabled ? TransportKind::Tls : TransportKind::Tcp;
    using File = TlsSetupError::File;
    for (const auto &[file, path] :
         {std::pair{File::CaFile, &o.tls.caFile}, std::pair{File::Certificate, &o.tls.certFile},
          std::pair{File::Key, &o.tls.keyFile}})
        if (!path->empty())
            o.savedTlsFiles.push_back(file);
    return o;
}

std::int32_t SavedSequenceNumber(const std::string &target)
{
    const SettingsFile store;
    return static_cast<std::int32_t>(
        RoundHalfEven(store.Number(HostMessageCountKey(TrimSpaces(target)), 0, 1000000, 0)));
}
