#include "shell/HelpViewer.h"

#include "support/AnsweringServices.h"

#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {
QString WriteHelp(const QTemporaryDir &folder)
{
    const QString path = folder.filePath(QStringLiteral("Wren_Quillon.html"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray filler;
    for (int i = 0; i < 80; ++i)
        filler += "<p>filler line</p>";
    file.write("<html><body><h1>Contents</h1>" + filler +
               "<h2><a name=\"1000\"></a>Main topic</h2>"
               "<p><a href=\"https://www.example.com/page\">web</a> <a href=\"#other\">other</a></p>" +
               filler + "<h2><a name=\"other\"></a>Other topic</h2>" + filler + "</body></html>");
    return path;
}
} // namespace

TEST(HelpViewer, ShowsTheFileAtTheTopic)
{
    QTemporaryDir folder;
    const QString path = WriteHelp(folder);
    RecordingUrlOpener opener;
    HelpViewer viewer(&opener);

    ASSERT_TRUE(viewer.ShowTopic(path, 1000));
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.Browser->source().fragment(), QStringLiteral("1000"));
    EXPECT_TRUE(viewer.Browser->toPlainText().contains(QStringLiteral("Main topic")));
    // The topic sits far below the top, so showing it must have scrolled.
    EXPECT_GT(viewer.Browser->verticalScrollBar()->value(), 0);

    // Scrolled away by the reader, a second request brings the topic back.
    const int topicPosition = viewer.Browser->verticalScrollBar()->value();
    viewer.Browser->verticalScrollBar()->setValue(0);
    ASSERT_TRUE(viewer.ShowTopic(path, 1000));
    EXPECT_EQ(viewer.Browser->verticalScrollBar()->value(), topicPosition);
}

TEST(HelpViewer, AFileThatCannotBeReadShowsNothing)
{
    QTemporaryDir folder;
    RecordingUrlOpener opener;
    HelpViewer viewer(&opener);
    EXPECT_FALSE(viewer.ShowTopic(folder.filePath(QStringLiteral("missing.html")), 1000));
    EXPECT_FALSE(viewer.isVisible());
}

TEST(HelpViewer, WebLinksGoToTheOpenerAndTopicLinksStayInside)
{
    QTemporaryDir folder;
    const QString path = WriteHelp(folder);
    RecordingUrlOpener opener;
    opener.succeed = false;
    HelpViewer viewer(&opener);
    ASSERT_TRUE(viewer.ShowTopic(path, 1000));

    emit viewer.Browser->anchorClicked(QUrl(QStringLiteral("https://www.example.com/page")));
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened.front(), QStringLiteral("https://www.example.com/page"));
    EXPECT_EQ(viewer.Browser->source().fragment(), QStringLiteral("1000"));

    emit viewer.Browser->anchorClicked(QUrl(QStringLiteral("#other")));
    EXPECT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(viewer.Browser->source().fragment(), QStringLiteral("other"));
    EXPECT_TRUE(viewer.CmdBack->isEnabled());

    viewer.CmdContents->click();
    EXPECT_EQ(viewer.Browser->source().fragment(), QString());
    EXPECT_EQ(viewer.Browser->verticalScrollBar()->value(), 0);
    viewer.CmdBack->click();
    EXPECT_EQ(viewer.Browser->source().fragment(), QStringLiteral("other"));
}
