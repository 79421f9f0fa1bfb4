#include "shell/HelpFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(HelpFile, FoundBesideTheProgramFirstThenInTheDataFolder)
{
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("bin"));
    const QStringList candidates = HelpFileCandidates(program);
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(candidates.at(0), HelpFilePath(program));
    for (const QString &path : {candidates.at(1), candidates.at(0)}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
        EXPECT_EQ(LocateHelpFile(program), path);
    }
}
