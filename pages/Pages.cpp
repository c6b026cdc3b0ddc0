#include "pages/Pages.h"

#include "pages/MdaAdvanced.h"
#include "pages/PageDelivery.h"
#include "pages/PageDomains.h"
#include "pages/PageFolders.h"
#include "pages/PageListener.h"
#include "pages/PageSyslog.h"
#include "pages/ServerAdvanced.h"
#include "pages/TransportRules.h"

namespace {

// The dialog behind a page's button, made from the set when the user opens it.
template <class Dialog> std::unique_ptr<CDialogModel> Make(CConfigSet& set) {
    return std::make_unique<Dialog>(set);
}

} // namespace

std::vector<std::unique_ptr<CPageModel>> CreatePages(CConfigSet& set) {
    // Tab order: Domains and accounts, Folders, SMTP, POP3, IMAP4, Delivery, Syslog.
    std::vector<std::unique_ptr<CPageModel>> pages;
    pages.push_back(std::make_unique<CPageDomains>(set));
    pages.push_back(std::make_unique<CPageFolders>(set));
    pages.push_back(std::make_unique<CPageConfigSMTP>(set, &Make<CSmtpAdvancedDlg>));
    pages.push_back(std::make_unique<CPageConfigPOP3>(set, &Make<CPop3AdvancedDlg>));
    pages.push_back(std::make_unique<CPageConfigIMAP4>(set, &Make<CImap4AdvancedDlg>));
    pages.push_back(std::make_unique<CPageConfigMDA>(set, &Make<CTransportRulesDlg>,
                                                     &Make<CMDAAdvancedDlg>));
    pages.push_back(std::make_unique<CPageConfigSyslog>(set));
    return pages;
}
