#include "pages/KeyOwners.h"

#include "Common/Ansi.h"
#include "pages/MdaAdvanced.h"
#include "pages/PageDelivery.h"
#include "pages/PageFolders.h"
#include "pages/PageListener.h"
#include "pages/PageSyslog.h"
#include "pages/ServerAdvanced.h"

#include <memory>
#include <vector>

namespace keyowners {

const char* FolderKey(std::string_view key) {
    for (const char* folder :
         {CPageFolders::kSpoolDir, CPageFolders::kQueueDir, CPageFolders::kOutgoingDir,
          CPageFolders::kErrorDir, CPageFolders::kFilterDir})
        if (ansi::EqualNoCase(key, folder))
            return folder;
    return nullptr;
}

// The choices a refusal names at most.
constexpr std::size_t kChoicesNamed = 12;

std::optional<std::string> Refusal(CConfigSet& set, std::string_view file, std::string_view key,
                                   std::string_view value) {
    // The models that show keys of file, made as the sheet makes them (no store is opened and
    // no address asked for: only their tables are read).
    const auto noAddresses = [] { return platform::LocalAddresses{}; };
    struct Model {
        std::unique_ptr<CFieldModel> model;
        const char* caption; // UTF-8
    };
    std::vector<Model> models;
    const auto add = [&](std::unique_ptr<CFieldModel> model, const char* caption) {
        models.push_back({std::move(model), caption});
    };
    if (ansi::EqualNoCase(file, "smtpd.cfg")) {
        add(std::make_unique<CPageConfigSMTP>(set, AdvancedDialogFactory{}, noAddresses),
            "SMTP-Server");
        add(std::make_unique<CSmtpAdvancedDlg>(set, nullptr), "SMTP-Server, Erweitert");
    } else if (ansi::EqualNoCase(file, "pop3d.cfg")) {
        add(std::make_unique<CPageConfigPOP3>(set, AdvancedDialogFactory{}, noAddresses),
            "POP3-Server");
        add(std::make_unique<CPop3AdvancedDlg>(set, nullptr), "POP3-Server, Erweitert");
    } else if (ansi::EqualNoCase(file, "imap4d.cfg")) {
        add(std::make_unique<CPageConfigIMAP4>(set, AdvancedDialogFactory{}, noAddresses),
            "IMAP4-Server");
        add(std::make_unique<CImap4AdvancedDlg>(set, nullptr), "IMAP4-Server, Erweitert");
    } else if (ansi::EqualNoCase(file, "mdad.cfg")) {
        add(std::make_unique<CPageConfigMDA>(set), "Mail-Delivery-Agent");
        add(std::make_unique<CMDAAdvancedDlg>(set), "Mail-Delivery-Agent, Erweitert");
    } else if (ansi::EqualNoCase(file, "syslogd.cfg")) {
        add(std::make_unique<CPageConfigSyslog>(set, noAddresses), "Syslog-Server");
    }
    const auto quoted = [](std::string_view text) { return "\"" + std::string(text) + "\""; };
    for (const Model& owner : models) {
        for (const CFieldSpec& field : owner.model->Fields()) {
            if (field.olderKey && ansi::EqualNoCase(key, field.olderKey) && field.key)
                return ansi::FromUtf8("Der Schlüssel ") + quoted(key) +
                       ansi::FromUtf8(" heißt jetzt ") + quoted(field.key) + ".";
            if (!field.key || !ansi::EqualNoCase(key, field.key))
                continue;
            std::optional<std::string> refusal;
            if (field.type == FieldType::Check && value != "0" && value != "1")
                refusal = "Erlaubt sind 0 (aus) und 1 (ein).";
            // Choices filled from the set or the machine at run time are not in the table;
            // their values are taken as written, as the services read them.
            else if (field.type != FieldType::Choice || !field.choices.empty())
                refusal = CFieldModel::Refusal(field, value);
            // On the command line there is no list to pick from: the choices are named.
            if (refusal && field.type == FieldType::Choice) {
                std::string allowed;
                for (std::size_t i = 0; i < field.choices.size() && i < kChoicesNamed; ++i)
                    allowed += (i == 0 ? "" : ", ") + quoted(field.choices[i].value);
                refusal = (field.choices.size() == 1 ? "Erlaubt ist " : "Erlaubt sind ") + allowed +
                          (field.choices.size() > kChoicesNamed ? ", ..." : ".");
            }
            if (!refusal)
                return std::nullopt;
            return quoted(value) + ansi::FromUtf8(" ist kein gültiger Wert für ") +
                   quoted(field.key) + " (" + ansi::FromUtf8(owner.caption) + "): " + *refusal;
        }
    }
    return std::nullopt;
}

} // namespace keyowners
