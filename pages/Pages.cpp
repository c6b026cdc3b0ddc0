#include "pages/Pages.h"

#include "pages/PageDomains.h"
#include "pages/PageFolders.h"
#include "pages/PageListener.h"
#include "pages/PageSyslog.h"

std::vector<std::unique_ptr<CPageModel>> CreatePages(CConfigSet& set) {
    // Tab order: Domains and accounts, Folders, SMTP, POP3, IMAP4, Delivery, Syslog. A tab
    // appears once its page exists.
    std::vector<std::unique_ptr<CPageModel>> pages;
    pages.push_back(std::make_unique<CPageDomains>(set));
    pages.push_back(std::make_unique<CPageFolders>(set));
    // The advanced dialogs of the three listener pages are given by their factories.
    pages.push_back(std::make_unique<CPageConfigSMTP>(set, AdvancedDialogFactory{}));
    pages.push_back(std::make_unique<CPageConfigPOP3>(set, AdvancedDialogFactory{}));
    pages.push_back(std::make_unique<CPageConfigIMAP4>(set, AdvancedDialogFactory{}));
    // The delivery page comes here.
    pages.push_back(std::make_unique<CPageConfigSyslog>(set));
    return pages;
}
