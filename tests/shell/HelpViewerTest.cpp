#include "shell/HelpViewer.h"

#include "support/AnsweringServices.h"

#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <gtest/gtest.h>

TEST(HelpViewer, ShowsTheTopicAndHandsWebLinksToTheOpener)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Wren_Quillon.html"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray filler = QByteArray("<p>filler line</p>").repeated(80);
    file.write("<html><body>" + filler + "<h2><a name=\"1000\"></a>Main topic</h2>" + filler +
               "<h2><a name=\"other\"></a>Other topic</h2>" + filler + "</body></html>");
    file.close();
    RecordingUrlOpener opener;
    opener.succeed = false;
    HelpViewer viewer(&opener);

    EXPECT_FALSE(viewer.ShowTopic(folder.filePath(QStringLiteral("missing.html")), 1000));
    EXPECT_FALSE(viewer.isVisible());
    ASSERT_TRUE(viewer.ShowTopic(path, 1000));
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_GT(viewer.Browser->verticalScrollBar()->value(), 0);

    // A web address goes to the opener and the viewer stays; a topic link moves it.
    emit viewer.Browser->anchorClicked(QUrl(QStringLiteral("https://www.example.com/page")));
    EXPECT_EQ(opener.opened, std::vector<QString>{QStringLiteral("https://www.example.com/page")});
    EXPECT_EQ(viewer.Browser->source().fragment(), QStringLiteral("1000"));
    emit viewer.Browser->anchorClicked(QUrl(QStringLiteral("#other")));
    EXPECT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(viewer.Browser->source().fragment(), QStringLiteral("other"));
}
