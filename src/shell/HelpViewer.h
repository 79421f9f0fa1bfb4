#pragma once

#include <QWidget>

class QTextBrowser;
class QToolButton;
class QUrl;
class UrlOpener;

// The program's own help window, so help works without a browser. Web links
// inside the help go to the desktop's browser.
class HelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit HelpViewer(UrlOpener *opener, QWidget *owner = nullptr);

    // Shows the file at the topic's anchor; false when the file cannot be read.
    bool ShowTopic(const QString &helpFile, int topicId);

    QTextBrowser *Browser = nullptr;
    QToolButton *CmdBack = nullptr;
    QToolButton *CmdForward = nullptr;
    QToolButton *CmdContents = nullptr;

private:
    void ShowContents();
    void FollowLink(const QUrl &url);
    UrlOpener *m_opener;
};
