#include "cli/SavedSettings.h"

#include "common/Numbers.h"
#include "common/QtText.h"
#include "common/SettingsRules.h"
#include "common/TextHelpers.h"
#include "engine/Vocabulary.h"
#include "transport/PortRules.h"

#include <QSettings>
#include <QStringList>

namespace {
class Store {
public:
    Store() : m_settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Wren Quillon"))
    {
        m_settings.beginGroup(QStringLiteral("Settings"));
    }

    std::string Text(std::string_view key, std::string_view defaultText)
    {
        const QVariant value = m_settings.value(FromBytes(key));
        if (!value.isValid())
            return std::string(defaultText);
        // An INI value with a comma that nobody quoted comes back as a list.
        if (value.typeId() == QMetaType::QStringList)
            return ToBytes(value.toStringList().join(QStringLiteral(", ")));
        return ToBytes(value.toString());
    }

    std::string Trimmed(std::string_view key, std::string_view defaultText)
    {
        return TrimSpaces(Text(key, defaultText));
    }

    double Number(std::string_view key, double min, double max, double defaultValue)
    {
        const std::string text = Text(key, ShortestDecimal(defaultValue));
        return RangeOrDefault(ReadNumber(text), min, max, defaultValue);
    }

    int Index(std::string_view key, double max, double defaultValue)
    {
        return static_cast<int>(RoundHalfEven(Number(key, 0, max, defaultValue)));
    }

    bool Checked(std::string_view key) { return Index(key, 1, 0) == 1; }

private:
    QSettings m_settings;
};

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

Options SavedOptions()
{
    Store store;
    Options o;
    o.continuousMs = static_cast<int>(RoundHalfEven(store.Number("SpeedSetting", 10, 2000, 10)));
    o.facilityIndex = store.Index("Facility", 24, 24);
    o.levelIndex = store.Index("Level", 8, 8);
    o.sourceAddress = store.Trimmed("SourceIPAddress", Vocabulary::DefaultSourceAddress);
    o.corrupt = store.Checked("CorruptPacket");
    o.noPriority = store.Checked("NoPriority");
    o.oversize = store.Checked("HugePackets");
    o.crlf = store.Checked("AddCRLF");
    o.rfcHeader = store.Checked("RFCMessages");
    // Sending uses the target trimmed, as the window captures it.
    o.target = store.Trimmed("TargetIPAddress", "127.0.0.1");
    const int sendOption = store.Index("Options", 5, 0);
    o.pace = PaceOfSendOption(sendOption);
    o.burstSize = sendOption == 5 ? 500 : 100;
    o.tcp = store.Index("Transport", 1, 0) == 1;
    // The window's transport switch runs after the stored check box is
    // applied: CR LF on for TCP, off for UDP, whatever was saved.
    o.crlf = o.tcp;
    o.port = PortFromText(NormalisePortText(store.Text("PortNumber", "514")));
    o.sourcePort = PortFromText(NormaliseSourcePortText(store.Trimmed("SourcePortNumber", RandomSourcePort)));
    o.message = store.Trimmed("Message", Vocabulary::MessageTemplates[0]);
    o.multiLineText = store.Trimmed("MultiLineText", "");
    o.sourceFile = store.Trimmed("FileToReadFrom", "");
    o.sequenceNumber = SavedSequenceNumber(o.target);
    return o;
}

std::int32_t SavedSequenceNumber(const std::string &target)
{
    Store store;
    const std::string key = HostMessageCountKey(TrimSpaces(target));
    return static_cast<std::int32_t>(RoundHalfEven(store.Number(key, 0, 1000000, 0)));
}
