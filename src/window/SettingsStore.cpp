#include "window/SettingsStore.h"

#include "common/Numbers.h"
#include "common/QtText.h"
#include "common/SendState.h"
#include "common/SettingsFile.h"
#include "common/SettingsRules.h"
#include "common/TextHelpers.h"
#include "engine/MessageFormat.h"
#include "engine/MessageFormatStore.h"
#include "engine/Vocabulary.h"
#include "shell/Services.h"
#include "transport/SocketEndpoint.h"
#include "transport/TlsSettings.h"
#include "transport/TlsSettingsStore.h"
#include "transport/UdpEndpointOperations.h"
#include "window/ListFilling.h"
#include "window/MessageSourceControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>

namespace {
QString TrimmedSpaces(const QString &text)
{
    return FromBytes(TrimSpaces(ToBytes(text)));
}

QString ReadText(const SettingsFile &store, const char *key, const QString &defaultText)
{
    return FromBytes(store.Text(key, ToBytes(defaultText)));
}

QString CheckValue(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

// The nearest folder or file on the way to path that exists.
QFileInfo NearestExisting(const QString &path)
{
    QFileInfo at(path);
    while (!at.exists() && !at.isRoot())
        at = QFileInfo(at.absolutePath());
    return at;
}

// What keeps the file from being written, or empty when nothing visible does.
QString WhatPreventsWriting(const QString &fileName)
{
    const QFileInfo file(fileName);
    if (file.isDir())
        return QStringLiteral("a folder of that name is in the way");
    if (file.exists() && !file.isWritable())
        return QStringLiteral("the file is read-only");
    const QString folder = QDir::toNativeSeparators(file.absolutePath());
    if (!QFileInfo(file.absolutePath()).isDir()) {
        const QFileInfo blocker = NearestExisting(file.absolutePath());
        const QString where = QDir::toNativeSeparators(blocker.absoluteFilePath());
        if (blocker.exists() && !blocker.isDir())
            return QStringLiteral("the folder %1 could not be made, because %2 is a file, not a folder")
                .arg(folder, where);
        if (blocker.exists() && !blocker.isWritable())
            return QStringLiteral("the folder %1 could not be made, because %2 cannot be written to")
                .arg(folder, where);
        return QStringLiteral("the folder %1 could not be made").arg(folder);
    }
    if (!QFileInfo(file.absolutePath()).isWritable())
        return QStringLiteral("the folder %1 cannot be written to").arg(folder);
    return {};
}
} // namespace

SettingsStore::SettingsStore(const Controls &controls) : w(controls)
{}

QString SettingsStore::StoreFileName()
{
    return SettingsFile::FileName();
}

void SettingsStore::LoadSettings()
{
    const SettingsFile store;

    w.Slider1->setValue(store.Index("SpeedSetting", 10, 2000, 10));

    // The level list is still empty while the facility handler runs.
    FillList(w.Facility, Vocabulary::FacilityNames);
    w.Facility->setCurrentIndex(store.Index("Facility", 0, 24, 24));
    FillList(w.Level, Vocabulary::LevelNames);
    w.Level->setCurrentIndex(store.Index("Level", 0, 8, 8));

    FillList(w.SourceIP, Vocabulary::SourceAddressEntries);
    w.SourceIP->setCurrentIndex(0);
    w.SourceIP->setEditText(
        TrimmedSpaces(ReadText(store, "SourceIPAddress", FromBytes(Vocabulary::DefaultSourceAddress))));

    w.BadPackets->setChecked(store.Index("CorruptPacket", 0, 1, 0) == 1);
    w.NoPriority->setChecked(store.Index("NoPriority", 0, 1, 0) == 1);
    w.SendHugePackets->setChecked(store.Index("HugePackets", 0, 1, 0) == 1);
    w.AddCRLF->setChecked(store.Index("AddCRLF", 0, 1, 0) == 1);
    w.ChkRFCMessages->setChecked(store.Index("RFCMessages", 0, 1, 0) == 1);

    {
        const QSignalBlocker blocker(w.TargetIP);
        w.TargetIP->clear();
        w.TargetIP->addItem(ReadText(store, "TargetIPAddress", QStringLiteral("127.0.0.1")));
        w.TargetIP->setCurrentIndex(-1);
    }
    if (w.TargetIP->count() > 0)
        w.TargetIP->setCurrentIndex(0);

    w.State.SequenceNumber = static_cast<std::int32_t>(RoundHalfEven(
        store.Number(HostMessageCountKey(ToBytes(TrimmedSpaces(w.TargetIP->currentText()))), 0, 1000000, 0)));

    FillList(w.SendOptions, Vocabulary::SendOptionEntries);
    w.SendOptions->setCurrentIndex(store.Index("Options", 0, 5, 0));

    // The transport handler sets AddCRLF, after the stored value was applied.
    FillList(w.Transport, Vocabulary::TransportEntries);
    w.Transport->setCurrentIndex(store.Index("Transport", 0, 1, 0));

    FillList(w.PortNumber, Vocabulary::PortEntries);
    w.PortNumber->setEditText(FromBytes(ShortestDecimal(store.Number("PortNumber", 1, 65535, 514))));

    FillList(w.SourcePortNumber, Vocabulary::SourcePortEntries);
    w.SourcePortNumber->setEditText(
        TrimmedSpaces(ReadText(store, "SourcePortNumber", QStringLiteral("Random port > 1023"))));

    // Setting a text runs no handler, so the message handler runs once more
    // for the stored text; the window is hidden, so no dialog opens.
    FillList(w.Message, Vocabulary::MessageTemplates);
    w.Message->setCurrentIndex(0);
    w.MessageSource.Message_Click();
    w.Message->setEditText(
        TrimmedSpaces(ReadText(store, "Message", ToStringList(Vocabulary::MessageTemplates).front())));
    w.MessageSource.Message_Click();

    w.State.MultiLineText = TrimSpaces(ToBytes(ReadText(store, "MultiLineText", QString())));
    w.State.SourceFileName = TrimSpaces(ToBytes(ReadText(store, "FileToReadFrom", QString())));
    w.State.BurstSize = 100;

    PrepareUdpEndpoint(*w.UDP1, ToBytes(w.PortNumber->currentText()), w.State.TargetAddress);
    w.State.SubnetPrefix = SubnetPrefixOf(w.UDP1->LocalIP());
    w.State.SourceFileHandle = 0;
    w.State.LocalDisconnect = 0;

    // A stored value that breaks its rules gives its default, which the
    // dialog then shows; a store without these keys gives today's packets.
    w.FormatSettings = LoadMessageFormat(store);
    w.TlsOptions = LoadTlsSettings(store);
}

void SettingsStore::SaveSettings()
{
    SettingsFile file;
    QSettings &store = file.Store();

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
    SaveMessageFormat(file, w.FormatSettings);
    SaveTlsSettings(file, w.TlsOptions);
    store.endGroup();

    store.sync();
    // A line that is no setting, met while reading, leaves FormatError behind,
    // yet the file is written all the same.
    if (store.status() == QSettings::NoError)
        return;
    QString why = WhatPreventsWriting(store.fileName());
    if (why.isEmpty() && store.status() == QSettings::AccessError)
        why = QStringLiteral("the file could not be written");
    if (!why.isEmpty())
        ReportUnsavedSettings(store.fileName(), why);
}

void SettingsStore::ReportUnsavedSettings(const QString &fileName, const QString &why)
{
    w.services.messageBoxes->Show(
        w.Window, MessageBoxes::Icon::Warning, QStringLiteral("Wren Quillon Error"),
        QStringLiteral("The settings could not be saved to %1: %2.").arg(QDir::toNativeSeparators(fileName), why),
        MessageBoxes::Buttons::Ok);
}
