#pragma once

#include "shell/Services.h"

#include <QString>

#include <memory>

class HelpAbout;
class HelpViewer;
class QWidget;

// The Help menu: help contents, the web site and the About box.
class HelpService {
public:
    // The context number and scale are read when the help or the box is shown.
    HelpService(QWidget &owner, const Services &services, const int &helpContextId, const double &pixelsPerTwip);
    ~HelpService();

    void MnuHelpContext_Click();
    void MnuHelpWebsite_Click();
    void MnuHelpAbout_Click();

    // Both are made on first use and kept; null before.
    HelpViewer *Viewer() const { return m_viewer.get(); }
    HelpAbout *AboutBox() const { return m_about.get(); }

    // The folder the help is looked for from; the program's own by default.
    QString ProgramFolder;

private:
    void OfferHelpDownload();

    QWidget &m_owner;
    const Services &m_services;
    const int &m_helpContextId;
    const double &m_pixelsPerTwip;
    std::unique_ptr<HelpViewer> m_viewer;
    std::unique_ptr<HelpAbout> m_about;
};
