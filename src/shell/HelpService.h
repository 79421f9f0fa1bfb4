#pragma once

class Quillon;

// The Help menu: help contents, the web site and the About box.
class HelpService {
public:
    explicit HelpService(Quillon &window);
    ~HelpService();

    void MnuHelpContext_Click();
    void MnuHelpWebsite_Click();
    void MnuHelpAbout_Click();

private:
    Quillon &w;
};
