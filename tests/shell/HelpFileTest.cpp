#include "shell/HelpFile.h"

#include "engine/Vocabulary.h"
#include "shell/Services.h"
#include "support/AnsweringServices.h"
#include "window/Quillon.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

TEST(HelpFile, PathJoinsFolderAndNameWithOneSeparator)
{
    const char *cases[][2] = {{"/opt/quillon", "/opt/quillon/Wren_Quillon.html"},
                              {"/opt/quillon/", "/opt/quillon/Wren_Quillon.html"},
                              {"/", "/Wren_Quillon.html"}};
    for (const auto &c : cases)
        EXPECT_EQ(HelpFilePath(QString::fromUtf8(c[0])), QString::fromUtf8(c[1])) << c[0];
}

TEST(HelpFile, FoundBesideTheProgramFirstThenInTheDataFolder)
{
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("bin"));
    const QStringList candidates = HelpFileCandidates(program);
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(candidates.at(0), program + QStringLiteral("/Wren_Quillon.html"));
    EXPECT_FALSE(LocateHelpFile(program));

    // A folder bearing the name is no help file.
    QDir().mkpath(candidates.at(0));
    EXPECT_FALSE(LocateHelpFile(program));
    QDir().rmdir(candidates.at(0));

    for (const QString &path : {candidates.at(1), candidates.at(0)}) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        EXPECT_EQ(LocateHelpFile(program), path);
    }
}

// The copy beside the test programs is the file the program ships.
TEST(HelpFile, ShippedHelpHasTheMainTopicAndNamesEveryControlAndMessage)
{
    const std::optional<QString> path = LocateHelpFile(QCoreApplication::applicationDirPath());
    ASSERT_TRUE(path);
    QFile file(*path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QTextDocument document;
    document.setHtml(QString::fromUtf8(file.readAll()));

    bool topicFound = false;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            topicFound |= it.fragment().charFormat().anchorNames().contains(QStringLiteral("1000"));
    EXPECT_TRUE(topicFound);

    QStringList phrases =
        QStringLiteral("HEX=|Enter Multiline Text|Original Address=|Status : Idle|messages sent|MPS|"
                       "Connecting...|Disconnect|TCP Session connected|TCP Session failed to connect|"
                       "Connection cancelled|Connection failed|TCP Session disconnected|"
                       "TCP session remotely disconnected|TCP Session failed to disconnected|Wren Quillon Error|"
                       "Sorry, Source and Destination ports must not be set to the same value|"
                       "Please specify a valid target IP address or host name|Error reading from specified file|"
                       "Error reading from specified Ethereal file|"
                       "Error: No syslog packets were found in Ethereal capture file|"
                       "Wren Quillon.ini|[Settings]|HostMessageCount-")
            .split(QLatin1Char('|'));
    using namespace Vocabulary;
    for (auto list :
         {std::span<const std::string_view>(FacilityNames), std::span<const std::string_view>(LevelNames),
          std::span<const std::string_view>(SourceAddressEntries), std::span<const std::string_view>(SendOptionEntries),
          std::span<const std::string_view>(TransportEntries), std::span<const std::string_view>(SourcePortEntries),
          std::span<const std::string_view>(MessageTemplates)})
        for (std::string_view entry : list)
            phrases << QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));

    // Every frame and every captioned button of the window, as shown.
    AnsweringServices services;
    Quillon window(services.Get());
    const auto shown = [](QString caption) {
        return caption.replace(QStringLiteral("&&"), QStringLiteral("\1"))
            .remove(QLatin1Char('&'))
            .replace(QLatin1Char('\1'), QLatin1Char('&'));
    };
    for (QGroupBox *frame : window.findChildren<QGroupBox *>())
        phrases << shown(frame->title());
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>())
        if (!button->text().isEmpty())
            phrases << shown(button->text());

    const QString text = document.toPlainText();
    for (const QString &phrase : phrases)
        EXPECT_TRUE(text.contains(phrase)) << phrase.toStdString();
}
