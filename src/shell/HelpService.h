#pragma once

#include <QString>

#include <memory>

class HelpAbout;
class HelpViewer;
class Quillon;

// The Help menu: help contents, the web site and the About box.
class HelpService {
public:
    explicit HelpService(Quillon &window);
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

    Quillon &w;
    std::unique_ptr<HelpViewer> m_viewer;
    std::unique_ptr<HelpAbout> m_about;
};
