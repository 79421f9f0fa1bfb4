#include "shell/HelpService.h"

#include "shell/HelpAbout.h"
#include "shell/HelpFile.h"
#include "shell/HelpViewer.h"
#include "shell/WebAddresses.h"
#include "window/Quillon.h"

#include <QCoreApplication>

HelpService::HelpService(Quillon &window) : ProgramFolder(QCoreApplication::applicationDirPath()), w(window)
{}

HelpService::~HelpService() = default;

void HelpService::MnuHelpContext_Click()
{
    const std::optional<QString> helpFile = LocateHelpFile(ProgramFolder);
    if (helpFile) {
        if (!m_viewer)
            m_viewer = std::make_unique<HelpViewer>(w.services.urlOpener, &w);
        if (m_viewer->ShowTopic(*helpFile, w.HelpContextId))
            return;
    }
    OfferHelpDownload();
}

// Without a readable help file there is nothing to show; offer where to get it.
void HelpService::OfferHelpDownload()
{
    if (!w.services.messageBoxes)
        return;
    const MessageBoxes::Answer answer = w.services.messageBoxes->Show(
        &w, MessageBoxes::Icon::Information, QStringLiteral("Unable to view the HTML help file"),
        QStringLiteral("It appears that you do not have the HTML help system installed. Would you like to download "
                       "it now?"),
        MessageBoxes::Buttons::YesNo);
    if (answer == MessageBoxes::Answer::Yes && w.services.urlOpener)
        w.services.urlOpener->Open(HelpRuntimeAddress());
}

void HelpService::MnuHelpWebsite_Click()
{
    if (w.services.urlOpener)
        w.services.urlOpener->Open(WebsiteAddress());
}

void HelpService::MnuHelpAbout_Click()
{
    if (!m_about)
        m_about = std::make_unique<HelpAbout>(w.services.urlOpener, &w, w.PixelsPerTwip);
    m_about->ShowModal();
}
