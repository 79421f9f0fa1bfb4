#include "shell/HelpService.h"

#include "window/Quillon.h"

HelpService::HelpService(Quillon &window) : w(window) {}

HelpService::~HelpService() = default;

void HelpService::MnuHelpContext_Click() {}

void HelpService::MnuHelpWebsite_Click() {}

void HelpService::MnuHelpAbout_Click() {}
