#include "pages/Pages.h"

#include "pages/PageDelivery.h"
#include "pages/PageDomains.h"
#include "pages/PageFolders.h"

std::vector<std::unique_ptr<CPageModel>> CreatePages(CConfigSet& set) {
    // Tab order: Domains and accounts, Folders, SMTP, POP3, IMAP4, Delivery, Syslog. A tab
    // appears once its page exists.
    std::vector<std::unique_ptr<CPageModel>> pages;
    pages.push_back(std::make_unique<CPageDomains>(set));
    pages.push_back(std::make_unique<CPageFolders>(set));
    // The transport-rule and advanced dialogs are not part of this build yet: their buttons
    // do nothing until factories are given here.
    pages.push_back(std::make_unique<CPageConfigMDA>(set));
    return pages;
}
