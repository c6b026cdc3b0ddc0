#include "gui/FormRegistry.h"

#include "ui_AddAccountDlg.h"
#include "ui_AddAliasDlg.h"
#include "ui_AddDomainDlg.h"
#include "ui_ChangeAccountDlg.h"
#include "ui_PageDelivery.h"
#include "ui_PageDomains.h"

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
    {"PageDelivery", &Setup<Ui::PageDelivery>},
};

} // namespace

FormSetup FindForm(std::string_view name) {
    for (const Entry& entry : kForms)
        if (entry.name == name)
            return entry.setup;
    return nullptr;
}
