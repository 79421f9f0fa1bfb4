#include "shell/HelpViewer.h"

#include "shell/Services.h"

#include <QFile>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

HelpViewer::HelpViewer(UrlOpener *opener, QWidget *owner) : QWidget(owner, Qt::Window), m_opener(opener)
{
    setWindowTitle(QStringLiteral("Wren Syslog Message Generator Help"));
    setObjectName(QStringLiteral("HelpViewer"));
    // Help left open must not keep the program running once its window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);

    CmdBack = new QToolButton(this);
    CmdBack->setText(QStringLiteral("&Back"));
    CmdForward = new QToolButton(this);
    CmdForward->setText(QStringLiteral("&Forward"));
    CmdContents = new QToolButton(this);
    CmdContents->setText(QStringLiteral("&Contents"));
    CmdBack->setEnabled(false);
    CmdForward->setEnabled(false);

    Browser = new QTextBrowser(this);
    Browser->setObjectName(QStringLiteral("HelpBrowser"));
    // Links are followed here so that web links pass through the opener.
    Browser->setOpenLinks(false);
    Browser->setOpenExternalLinks(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CmdBack);
    buttons->addWidget(CmdForward);
    buttons->addWidget(CmdContents);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(Browser);

    connect(CmdBack, &QToolButton::clicked, Browser, &QTextBrowser::backward);
    connect(CmdForward, &QToolButton::clicked, Browser, &QTextBrowser::forward);
    connect(CmdContents, &QToolButton::clicked, this, &HelpViewer::ShowContents);
    connect(Browser, &QTextBrowser::backwardAvailable, CmdBack, &QToolButton::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, CmdForward, &QToolButton::setEnabled);
    connect(Browser, &QTextBrowser::anchorClicked, this, &HelpViewer::FollowLink);
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

    resize(760, 600);
}

bool HelpViewer::ShowTopic(const QString &helpFile, int topicId)
{
    QFile file(helpFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.close();

    QUrl topic = QUrl::fromLocalFile(helpFile);
    topic.setFragment(QString::number(topicId));
    Browser->setSource(topic, QTextDocument::HtmlResource);
    // Asking for the topic already shown scrolls back to it.
    Browser->scrollToAnchor(topic.fragment());

    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    return true;
}

// The top of the file holds the contents; the first page shown may be a topic.
void HelpViewer::ShowContents()
{
    QUrl contents = Browser->source();
    if (contents.isEmpty())
        return;
    contents.setFragment(QString());
    Browser->setSource(contents);
    Browser->verticalScrollBar()->setValue(0);
}

void HelpViewer::FollowLink(const QUrl &url)
{
    const QUrl target = Browser->source().resolved(url);
    if (target.isLocalFile() || target.scheme().isEmpty()) {
        Browser->setSource(target);
        return;
    }
    if (m_opener)
        m_opener->Open(target.toString());
}
