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

namespace {

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// The page writes a number as bare digits, whatever blanks were typed around it; a value from
// the command line is held to the same, so that the file holds what the page would write.
bool IsBareNumber(std::string_view value) {
    const std::size_t first = value.starts_with('-') ? 1 : 0;
    return value.size() > first &&
           value.find_first_not_of("0123456789", first) == std::string_view::npos;
}

// The entries of a list value, split and trimmed as the pages read it.
CStringListEx Entries(std::string_view value) {
    CStringListEx entries;
    entries.AddTokens(value, ",");
    return entries;
}

// What is written in place of a whole list; an entry the file holds already passes as it is, as
// the pages keep what the file has.
template <class Check>
std::optional<std::string> EntriesRefusal(std::string_view value, std::string_view stored,
                                          Check check) {
    const CStringListEx kept = Entries(stored);
    const CStringListEx entries = Entries(value);
    for (auto position = entries.GetHeadPosition(); position;) {
        const std::string_view entry = entries.GetNext(position);
        if (entry.empty())
            return std::string("Ein Eintrag der Liste ist leer.");
        if (!kept.Find(entry))
            if (auto refusal = check(entry, kept))
                return refusal;
    }
    return std::nullopt;
}

// An interface entry as the interface dialog makes it: address, ":", the port, "s" for SSL/TLS.
std::optional<std::string> InterfaceRefusal(std::string_view entry, const CStringListEx& kept) {
    const std::size_t colon = entry.find(':');
    const std::string_view address = entry.substr(0, colon);
    if (colon != std::string_view::npos) {
        std::string_view port = entry.substr(colon + 1);
        if (port.ends_with('s'))
            port.remove_suffix(1);
        if (port.empty() || !IsBareNumber(port) || port.starts_with('-'))
            return Quoted(entry) + ansi::FromUtf8(" ist keine Schnittstelle der Form Adresse:Port "
                                                  "(\"s\" dahinter für SSL/TLS), etwa *:25 oder "
                                                  "192.168.0.1:465s.");
        const CInterfaceDlg dialog(0, {});
        if (auto refusal = CFieldModel::Refusal(*dialog.FindField(CInterfaceDlg::kPort), port))
            return Quoted(entry) + ": " + *refusal;
    }
    // On screen "<alle>" stands for all addresses; the file and the services know only "*".
    if (ansi::EqualNoCase(address, listener::kAllAddresses))
        return Quoted(entry) + ansi::FromUtf8(": Alle Adressen schreibt man \"*\".");
    if (address == "*")
        return std::nullopt;
    // The dialog keeps the address of an entry it edits, whatever it is.
    for (auto position = kept.GetHeadPosition(); position;)
        if (listener::ReadInterface(kept.GetNext(position), 0, 0).address == address)
            return std::nullopt;
    return listener::AddressRefusal(address);
}

// An access entry as the list editors add it: address "/" mask.
std::optional<std::string> AccessEntryRefusal(std::string_view entry, const CStringListEx&) {
    const std::size_t slash = entry.find('/');
    if (slash == std::string_view::npos)
        return Quoted(entry) + ansi::FromUtf8(" ist kein Eintrag der Form Adresse/Maske, etwa "
                                              "192.168.0.0/255.255.255.0.");
    return listener::AccessRefusal(entry.substr(0, slash), entry.substr(slash + 1));
}

} // namespace

std::optional<std::string> Refusal(CConfigSet& set, std::string_view file, std::string_view key,
                                   std::string_view value, bool force) {
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
    const char* name = nullptr;
    CPageConfigListener* listenerPage = nullptr;
    CPageConfigSyslog* syslogPage = nullptr;
    CConfigMap* map = nullptr;
    const auto addListener = [&](std::unique_ptr<CPageConfigListener> page, const char* caption) {
        listenerPage = page.get();
        add(std::move(page), caption);
    };
    if (ansi::EqualNoCase(file, "smtpd.cfg")) {
        name = "smtpd.cfg";
        map = &set.smtpd;
        addListener(std::make_unique<CPageConfigSMTP>(set, AdvancedDialogFactory{}, noAddresses),
                    "SMTP-Server");
        add(std::make_unique<CSmtpAdvancedDlg>(set, nullptr), "SMTP-Server, Erweitert");
    } else if (ansi::EqualNoCase(file, "pop3d.cfg")) {
        name = "pop3d.cfg";
        map = &set.pop3d;
        addListener(std::make_unique<CPageConfigPOP3>(set, AdvancedDialogFactory{}, noAddresses),
                    "POP3-Server");
        add(std::make_unique<CPop3AdvancedDlg>(set, nullptr), "POP3-Server, Erweitert");
    } else if (ansi::EqualNoCase(file, "imap4d.cfg")) {
        name = "imap4d.cfg";
        map = &set.imap4d;
        addListener(std::make_unique<CPageConfigIMAP4>(set, AdvancedDialogFactory{}, noAddresses),
                    "IMAP4-Server");
        add(std::make_unique<CImap4AdvancedDlg>(set, nullptr), "IMAP4-Server, Erweitert");
    } else if (ansi::EqualNoCase(file, "mdad.cfg")) {
        name = "mdad.cfg";
        map = &set.mdad;
        add(std::make_unique<CPageConfigMDA>(set), "Mail-Delivery-Agent");
        add(std::make_unique<CMDAAdvancedDlg>(set), "Mail-Delivery-Agent, Erweitert");
    } else if (ansi::EqualNoCase(file, "syslogd.cfg")) {
        name = "syslogd.cfg";
        map = &set.syslogd;
        auto page = std::make_unique<CPageConfigSyslog>(set, noAddresses);
        syslogPage = page.get();
        add(std::move(page), "Syslog-Server");
    }
    if (!name)
        return std::nullopt;
    const auto invalid = [&](std::string_view shownKey, const char* caption,
                             const std::string& refusal) {
        return Quoted(value) + ansi::FromUtf8(" ist kein gültiger Wert für ") + Quoted(shownKey) +
               " (" + ansi::FromUtf8(caption) + "): " + refusal;
    };

    for (const Model& owner : models) {
        for (const CFieldSpec& field : owner.model->Fields()) {
            if (field.olderKey && ansi::EqualNoCase(key, field.olderKey) && field.key)
                return ansi::FromUtf8("Der Schlüssel ") + Quoted(key) +
                       ansi::FromUtf8(" heißt jetzt ") + Quoted(field.key) + ".";
            if (!field.key || !ansi::EqualNoCase(key, field.key))
                continue;
            std::optional<std::string> refusal;
            if (field.type == FieldType::Check && value != "0" && value != "1")
                refusal = "Erlaubt sind 0 (aus) und 1 (ein).";
            // An empty text is no number either, so the table's own refusal names the range.
            else if (field.type == FieldType::Number && !IsBareNumber(value))
                refusal = CFieldModel::Refusal(field, "");
            // Choices filled from the set or the machine at run time are not in the table;
            // their values are taken as written, as the services read them.
            else if (field.type != FieldType::Choice || !field.choices.empty())
                refusal = CFieldModel::Refusal(field, value);
            // On the command line there is no list to pick from: the choices are named.
            if (refusal && field.type == FieldType::Choice) {
                std::string allowed;
                for (std::size_t i = 0; i < field.choices.size() && i < kChoicesNamed; ++i)
                    allowed += (i == 0 ? "" : ", ") + Quoted(field.choices[i].value);
                refusal = (field.choices.size() == 1 ? "Erlaubt ist " : "Erlaubt sind ") + allowed +
                          (field.choices.size() > kChoicesNamed ? ", ..." : ".");
            }
            // The Syslog page listens on one address; empty or "<alle>" is every address, and
            // what the file holds is written back as it is.
            if (!refusal && owner.model.get() == syslogPage &&
                field.id == std::string_view(CPageConfigSyslog::kInterface) && !value.empty() &&
                value != map->GetString(field.key, field.defaultValue))
                refusal = listener::AddressRefusal(value);
            if (!refusal)
                return std::nullopt;
            return invalid(field.key, owner.caption, *refusal);
        }
    }

    // Keys the pages' code reads and writes beside their tables.
    if (listenerPage) {
        const char* caption = models.front().caption;
        if (ansi::EqualNoCase(key, "Interface")) {
            if (auto refusal =
                    EntriesRefusal(value, map->GetString("Interface", ""), InterfaceRefusal))
                return invalid("Interface", caption, *refusal);
            return std::nullopt;
        }
        for (const listener::ListFile& list : listenerPage->ListFiles()) {
            if (ansi::EqualNoCase(key, list.fileKey))
                return std::nullopt; // the name of a list file
            // The older key a list is seeded from; the lists with an editor hold access
            // entries.
            if (list.seedKey && ansi::EqualNoCase(key, list.seedKey)) {
                if (list.editor.list)
                    if (auto refusal = EntriesRefusal(value, map->GetString(list.seedKey, ""),
                                                      AccessEntryRefusal))
                        return invalid(list.seedKey, caption, *refusal);
                return std::nullopt;
            }
        }
    }
    if (syslogPage && ansi::EqualNoCase(key, "AllowAccess")) {
        if (auto refusal =
                EntriesRefusal(value, map->GetString("AllowAccess", ""), AccessEntryRefusal))
            return invalid("AllowAccess", models.front().caption, *refusal);
        return std::nullopt;
    }
    if (FolderKey(key) && !syslogPage)
        return std::nullopt;
    if (force || value.empty())
        return std::nullopt;
    return ansi::FromUtf8("Den Schlüssel ") + Quoted(key) +
           ansi::FromUtf8(" kennt keine Seite des Konfigurationsprogramms für ") + name +
           "; mit --force wird er trotzdem gesetzt.";
}

} // namespace keyowners
