#include "gui/FormRegistry.h"

#include "ui_AddAccountDlg.h"
#include "ui_AddAliasDlg.h"
#include "ui_AddDomainDlg.h"
#include "ui_CheckDlg.h"
#include "ui_ChangeAccountDlg.h"
#include "ui_InterfaceDlg.h"
#include "ui_MdaAdvancedDlg.h"
#include "ui_PageDelivery.h"
#include "ui_PageDomains.h"
#include "ui_PageListener.h"
#include "ui_PageSmtp.h"
#include "ui_PageSyslog.h"
#include "ui_ServerCertificateDlg.h"
#include "ui_SmtpAdvancedDlg.h"
#include "ui_TraceDlg.h"
#include "ui_TransportRuleDlg.h"
#include "ui_TransportRulesDlg.h"

namespace {

// The view finds every control by its object name, so the generated pointers are not kept.
template <class Form> void Setup(QWidget* form) {
    Form ui;
    ui.setupUi(form);
}

struct Entry {
    std::string_view name;
    FormSetup setup;
};

const Entry kForms[] = {
    {"PageDomains", &Setup<Ui::PageDomains>},
    {"AddDomainDlg", &Setup<Ui::AddDomainDlg>},
    {"AddAliasDlg", &Setup<Ui::AddAliasDlg>},
    {"AddAccountDlg", &Setup<Ui::AddAccountDlg>},
    {"ChangeAccountDlg", &Setup<Ui::ChangeAccountDlg>},
    {"TransportRulesDlg", &Setup<Ui::TransportRulesDlg>},
    {"TransportRuleDlg", &Setup<Ui::TransportRuleDlg>},
    {"MdaAdvancedDlg", &Setup<Ui::MdaAdvancedDlg>},
    {"PageSmtp", &Setup<Ui::PageSmtp>},
    {"PageListener", &Setup<Ui::PageListener>},
    {"InterfaceDlg", &Setup<Ui::InterfaceDlg>},
    {"PageSyslog", &Setup<Ui::PageSyslog>},
    {"SmtpAdvancedDlg", &Setup<Ui::SmtpAdvancedDlg>},
    {"ServerCertificateDlg", &Setup<Ui::ServerCertificateDlg>},
    {"PageDelivery", &Setup<Ui::PageDelivery>},
    {"TraceDlg", &Setup<Ui::TraceDlg>},
    {"CheckDlg", &Setup<Ui::CheckDlg>},
};

} // namespace

FormSetup FindForm(std::string_view name) {
    for (const Entry& entry : kForms)
        if (entry.name == name)
            return entry.setup;
    return nullptr;
}
