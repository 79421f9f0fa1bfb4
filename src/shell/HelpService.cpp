#include "shell/HelpService.h"

#include "shell/HelpAbout.h"
#include "shell/HelpFile.h"
#include "shell/HelpViewer.h"
#include "shell/WebAddresses.h"

#include <QCoreApplication>

HelpService::HelpService(QWidget &owner, const Services &services, const int &helpContextId,
                         const double &pixelsPerTwip)
    : ProgramFolder(QCoreApplication::applicationDirPath()), m_owner(owner), m_services(services),
      m_helpContextId(helpContextId), m_pixelsPerTwip(pixelsPerTwip)
{}

HelpService::~HelpService() = default;

void HelpService::MnuHelpContext_Click()
{
    const std::optional<QString> helpFile = LocateHelpFile(ProgramFolder);
    if (helpFile) {
        if (!m_viewer)
            m_viewer = std::make_unique<HelpViewer>(m_services.urlOpener, &m_owner);
        if (m_viewer->ShowTopic(*helpFile, m_helpContextId))
            return;
    }
    OfferHelpDownload();
}

// Without a readable help file there is nothing to show; offer where to get it.
void HelpService::OfferHelpDownload()
{
    if (!m_services.messageBoxes)
        return;
    const MessageBoxes::Answer answer = m_services.messageBoxes->Show(
        &m_owner, MessageBoxes::Icon::Information, QStringLiteral("Unable to view the HTML help file"),
        QStringLiteral("It appears that you do not have the HTML help system installed. Would you like to download "
                       "it now?"),
        MessageBoxes::Buttons::YesNo);
    if (answer == MessageBoxes::Answer::Yes && m_services.urlOpener)
        m_services.urlOpener->Open(HelpRuntimeAddress());
}

void HelpService::MnuHelpWebsite_Click()
{
    if (m_services.urlOpener)
        m_services.urlOpener->Open(WebsiteAddress());
}

void HelpService::MnuHelpAbout_Click()
{
    if (!m_about)
        m_about = std::make_unique<HelpAbout>(m_services.urlOpener, &m_owner, m_pixelsPerTwip);
    m_about->ShowModal();
}
