#include "window/SettingsStore.h"

#include "common/Numbers.h"
#include "common/QtText.h"
#include "common/SettingsRules.h"
#include "common/TextHelpers.h"
#include "engine/Vocabulary.h"
#include "shell/Services.h"
#include "transport/SocketEndpoint.h"
#include "transport/UdpEndpointOperations.h"
#include "window/ListFilling.h"
#include "window/MessageSourceControls.h"
#include "window/Quillon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>

#include <memory>

namespace {
const QString ApplicationName = QStringLiteral("Wren Quillon");
const QString SectionName = QStringLiteral("Settings");

std::unique_ptr<QSettings> OpenStore()
{
    auto store = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, ApplicationName);
    store->beginGroup(SectionName);
    return store;
}

QString TrimmedSpaces(const QString &text)
{
    return FromBytes(TrimSpaces(ToBytes(text)));
}

QString ReadText(const QSettings &store, const QString &key, const QString &defaultText)
{
    if (!store.contains(key))
        return defaultText;
    const QVariant value = store.value(key);
    // An unquoted value with commas, typed into the file by hand, comes back
    // as a list; it was meant as one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

double ReadChecked(const QSettings &store, const QString &key, double min, double max, double defaultValue)
{
    const QString text = ReadText(store, key, FromBytes(ShortestDecimal(defaultValue)));
    return RangeOrDefault(ReadNumber(ToBytes(text)), min, max, defaultValue);
}

int ReadIndex(const QSettings &store, const QString &key, double min, double max, double defaultValue)
{
    return static_cast<int>(RoundHalfEven(ReadChecked(store, key, min, max, defaultValue)));
}

QString CheckValue(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

QString WhyNotWritten(const QString &fileName, QSettings::Status status)
{
    if (status == QSettings::FormatError)
        return QStringLiteral("the file is not a settings file that can be read, so it was left as it is");
    const QFileInfo file(fileName);
    if (file.isDir())
        return QStringLiteral("a folder of that name is in the way");
    if (file.exists() && !file.isWritable())
        return QStringLiteral("the file is read-only");
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("its folder does not exist and could not be made");
    if (!folder.isWritable())
        return QStringLiteral("its folder cannot be written to");
    return QStringLiteral("the file could not be written");
}
} // namespace

SettingsStore::SettingsStore(Quillon &window) : w(window)
{}

QString SettingsStore::StoreFileName()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, ApplicationName).fileName();
}

void SettingsStore::LoadSettings()
{
    const std::unique_ptr<QSettings> opened = OpenStore();
    const QSettings &store = *opened;

    w.Slider1->setValue(ReadIndex(store, QStringLiteral("SpeedSetting"), 10, 2000, 10));

    // The level list is still empty while the facility handler runs.
    FillList(w.Facility, Vocabulary::FacilityNames);
    w.Facility->setCurrentIndex(ReadIndex(store, QStringLiteral("Facility"), 0, 24, 24));
    FillList(w.Level, Vocabulary::LevelNames);
    w.Level->setCurrentIndex(ReadIndex(store, QStringLiteral("Level"), 0, 8, 8));

    FillList(w.SourceIP, Vocabulary::SourceAddressEntries);
    w.SourceIP->setCurrentIndex(0);
    w.SourceIP->setEditText(
        TrimmedSpaces(ReadText(store, QStringLiteral("SourceIPAddress"), FromBytes(Vocabulary::DefaultSourceAddress))));

    w.BadPackets->setChecked(ReadIndex(store, QStringLiteral("CorruptPacket"), 0, 1, 0) == 1);
    w.NoPriority->setChecked(ReadIndex(store, QStringLiteral("NoPriority"), 0, 1, 0) == 1);
    w.SendHugePackets->setChecked(ReadIndex(store, QStringLiteral("HugePackets"), 0, 1, 0) == 1);
    w.AddCRLF->setChecked(ReadIndex(store, QStringLiteral("AddCRLF"), 0, 1, 0) == 1);
    w.ChkRFCMessages->setChecked(ReadIndex(store, QStringLiteral("RFCMessages"), 0, 1, 0) == 1);

    {
        const QSignalBlocker blocker(w.TargetIP);
        w.TargetIP->clear();
        w.TargetIP->addItem(ReadText(store, QStringLiteral("TargetIPAddress"), QStringLiteral("127.0.0.1")));
        w.TargetIP->setCurrentIndex(-1);
    }
    if (w.TargetIP->count() > 0)
        w.TargetIP->setCurrentIndex(0);

    w.State.SequenceNumber = static_cast<std::int32_t>(RoundHalfEven(
        ReadChecked(store, FromBytes(HostMessageCountKey(ToBytes(TrimmedSpaces(w.TargetIP->currentText())))), 0, 1000000, 0)));

    FillList(w.SendOptions, Vocabulary::SendOptionEntries);
    w.SendOptions->setCurrentIndex(ReadIndex(store, QStringLiteral("Options"), 0, 5, 0));

    // The transport handler sets AddCRLF, after the stored value was applied.
    FillList(w.Transport, Vocabulary::TransportEntries);
    w.Transport->setCurrentIndex(ReadIndex(store, QStringLiteral("Transport"), 0, 1, 0));

    FillList(w.PortNumber, Vocabulary::PortEntries);
    w.PortNumber->setEditText(
        FromBytes(ShortestDecimal(ReadChecked(store, QStringLiteral("PortNumber"), 1, 65535, 514))));

    FillList(w.SourcePortNumber, Vocabulary::SourcePortEntries);
    w.SourcePortNumber->setEditText(
        TrimmedSpaces(ReadText(store, QStringLiteral("SourcePortNumber"), QStringLiteral("Random port > 1023"))));

    // Setting a text runs no handler, so the message handler runs once more
    // for the stored text; the window is hidden, so no dialog opens.
    FillList(w.Message, Vocabulary::MessageTemplates);
    w.Message->setCurrentIndex(0);
    w.MessageSource->Message_Click();
    w.Message->setEditText(
        TrimmedSpaces(ReadText(store, QStringLiteral("Message"), ToStringList(Vocabulary::MessageTemplates).front())));
    w.MessageSource->Message_Click();

    w.State.MultiLineText = TrimSpaces(ToBytes(ReadText(store, QStringLiteral("MultiLineText"), QString())));
    w.State.SourceFileName = TrimSpaces(ToBytes(ReadText(store, QStringLiteral("FileToReadFrom"), QString())));
    w.State.BurstSize = 100;

    PrepareUdpEndpoint(*w.UDP1, ToBytes(w.PortNumber->currentText()), w.State.TargetAddress);
    w.State.SubnetPrefix = SubnetPrefixOf(w.UDP1->LocalIP());
    w.State.SourceFileHandle = 0;
    w.State.LocalDisconnect = 0;
}

void SettingsStore::SaveSettings()
{
    const std::unique_ptr<QSettings> opened = OpenStore();
    QSettings &store = *opened;

    store.setValue(QStringLiteral("TargetIPAddress"), TrimmedSpaces(w.TargetIP->currentText()));
    store.setValue(QStringLiteral("SourceIPAddress"), TrimmedSpaces(w.SourceIP->currentText()));
    store.setValue(QStringLiteral("Facility"), QString::number(w.Facility->currentIndex()));
    store.setValue(QStringLiteral("Level"), QString::number(w.Level->currentIndex()));
    store.setValue(QStringLiteral("Message"), TrimmedSpaces(w.Message->currentText()));
    store.setValue(QStringLiteral("Options"), QString::number(w.SendOptions->currentIndex()));
    store.setValue(QStringLiteral("Transport"), QString::number(w.Transport->currentIndex()));
    store.setValue(QStringLiteral("CorruptPacket"), CheckValue(w.BadPackets));
    store.setValue(QStringLiteral("NoPriority"), CheckValue(w.NoPriority));
    store.setValue(QStringLiteral("HugePackets"), CheckValue(w.SendHugePackets));
    store.setValue(QStringLiteral("AddCRLF"), CheckValue(w.AddCRLF));
    store.setValue(QStringLiteral("RFCMessages"), CheckValue(w.ChkRFCMessages));
    store.setValue(QStringLiteral("MultiLineText"), FromBytes(w.State.MultiLineText));
    store.setValue(QStringLiteral("FileToReadFrom"), FromBytes(w.State.SourceFileName));
    store.setValue(QStringLiteral("PortNumber"), w.PortNumber->currentText());
    store.setValue(QStringLiteral("SourcePortNumber"), w.SourcePortNumber->currentText());
    store.setValue(QStringLiteral("SpeedSetting"), QString::number(w.Slider1->value()));
    store.setValue(FromBytes(HostMessageCountKey(ToBytes(TrimmedSpaces(w.TargetIP->currentText())))),
                   QString::number(w.State.SequenceNumber));
    store.endGroup();

    store.sync();
    if (store.status() != QSettings::NoError)
        ReportUnsavedSettings(store.fileName(), WhyNotWritten(store.fileName(), store.status()));
}

void SettingsStore::ReportUnsavedSettings(const QString &fileName, const QString &why)
{
    w.services.messageBoxes->Show(
        &w, MessageBoxes::Icon::Warning, QStringLiteral("Wren Quillon Error"),
        QStringLiteral("The settings could not be saved to %1: %2.").arg(QDir::toNativeSeparators(fileName), why),
        MessageBoxes::Buttons::Ok);
}
