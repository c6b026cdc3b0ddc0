#include "pages/ConfigCheck.h"

#include "Common/Ansi.h"
#include "Common/FileChangeMonitor.h"
#include "accounts/AccountStore.h"
#include "app/BatchPrompter.h"
#include "pages/InterfaceDlg.h"
#include "pages/MdaAdvanced.h"
#include "pages/PageDelivery.h"
#include "pages/PageDomains.h"
#include "pages/PageFolders.h"
#include "pages/PageListener.h"
#include "pages/TransportRules.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

namespace {

// Texts are put together in UTF-8; what comes from the files is converted on the way in.
std::string U(std::string_view ansiText) {
    return ansi::ToUtf8(ansiText);
}

class CFindings {
public:
    void Add(Severity severity, const char* code, std::string file, std::string_view key,
             std::string text) {
        m_list.push_back({severity, code, std::move(file), U(key), std::move(text)});
    }
    std::vector<CFinding> Take() { return std::move(m_list); }

private:
    std::vector<CFinding> m_list;
};

// The pages' messages are only collected here; nobody reads the stream.
struct CQuietPrompter {
    std::ostringstream sink;
    CBatchPrompter prompter{sink};
};

// --- The host name -------------------------------------------------------------------------

void CheckHost(const CConfigSet& set, const CheckEnvironment& env, CFindings& findings) {
    const CPageDomains::HostCheck check = CPageDomains::CheckHost(set, env.hostName);
    if (check.incomplete)
        findings.Add(Severity::Warning, "host-name-incomplete", "domains", "",
                     "Der DNS-Name dieses Rechners \"" + env.hostName +
                         "\" ist unvollständig; von außen ist er per E-Mail nicht erreichbar.");
    if (check.notADomain)
        findings.Add(Severity::Warning, "host-not-local", "domains", "",
                     "Der DNS-Name dieses Rechners \"" + env.hostName +
                         "\" steht nicht in der Liste der lokalen Domains.");
    if (check.noPostmaster)
        findings.Add(Severity::Critical, "no-postmaster", "aliases", "postmaster",
                     "Es gibt weder ein Konto noch eine Adresse \"postmaster\"; RfC 2821 "
                     "verlangt sie.");
}

// --- Relay, VRFY, interfaces and certificates ------------------------------------------------

std::optional<std::uint32_t> ReadIpv4(std::string_view text) {
    if (!listener::IsDottedIPv4(text))
        return std::nullopt;
    std::uint32_t value = 0;
    std::uint32_t part = 0;
    for (char c : text) {
        if (c == '.') {
            value = value << 8 | part;
            part = 0;
        } else {
            part = part * 10 + static_cast<std::uint32_t>(c - '0');
        }
    }
    return value << 8 | part;
}

// Whether the network lies inside the private or loopback ranges, where a relay entry lets
// only the own machines and offices send through the server.
bool IsPrivateNetwork(std::uint32_t address, std::uint32_t mask) {
    struct Range {
        std::uint32_t network;
        std::uint32_t mask;
    };
    constexpr Range kPrivate[] = {
        {0x0A000000u, 0xFF000000u}, // 10.0.0.0/8
        {0xAC100000u, 0xFFF00000u}, // 172.16.0.0/12
        {0xC0A80000u, 0xFFFF0000u}, // 192.168.0.0/16
        {0x7F000000u, 0xFF000000u}, // 127.0.0.0/8
    };
    for (const Range& range : kPrivate)
        if ((mask & range.mask) == range.mask && (address & range.mask) == range.network)
            return true;
    return false;
}

void CheckRelay(CPageConfigSMTP& smtp, CFindings& findings) {
    const std::string path = smtp.PathOf("AccessRelayFile");
    const std::string file = U(platform::BaseName(path));
    const CStorableList& relay = smtp.ListOf("AccessRelayFile");
    for (auto position = relay.GetHeadPosition(); position;) {
        const std::string& entry = relay.GetNext(position);
        const std::size_t slash = entry.find('/');
        const auto address = ReadIpv4(std::string_view(entry).substr(0, slash));
        const auto mask = slash == std::string::npos
                              ? std::nullopt
                              : ReadIpv4(std::string_view(entry).substr(slash + 1));
        if (!address || !mask) {
            findings.Add(Severity::Warning, "relay-entry-unreadable", file, entry,
                         "Der Relay-Eintrag \"" + U(entry) +
                             "\" ist keine Adresse mit Maske der Form 192.168.0.0/255.255.0.0.");
        } else if (*mask == 0) {
            findings.Add(Severity::Critical, "open-relay", file, entry,
                         "Der Relay-Eintrag \"" + U(entry) +
                             "\" erlaubt jedem Rechner im Internet, Mails über diesen Server "
                             "weiterzuleiten (offenes Relay).");
        } else if (!IsPrivateNetwork(*address, *mask)) {
            findings.Add(Severity::Warning, "relay-public-network", file, entry,
                         "Der Relay-Eintrag \"" + U(entry) +
                             "\" erlaubt ein Netz außerhalb der privaten Adressbereiche, Mails "
                             "über diesen Server weiterzuleiten.");
        }
    }
}

struct Listener {
    const char* file;
    const char* service;
    CPageConfigListener* page;
    CConfigMap* map;
};

// A certificate that ends within this many days is worth a warning: time to renew it.
constexpr std::int64_t kExpiryWarningDays = 21;

void CheckInterfaces(const std::vector<Listener>& listeners, const CheckEnvironment& env,
                     CFindings& findings) {
    struct Bound {
        const Listener* listener;
        std::string entry;
        listener::InterfaceEntry at;
    };
    std::vector<Bound> bound;
    CQuietPrompter quiet;
    CCertificateChoice choice(env.certificates);
    bool storeRead = false;
    for (const Listener& service : listeners) {
        bool ssl = false;
        const CStringListEx& entries = service.page->Interfaces();
        for (auto position = entries.GetHeadPosition(); position;) {
            const std::string& entry = entries.GetNext(position);
            bound.push_back({&service, entry,
                             listener::ReadInterface(entry, service.page->DefaultPort(),
                                                     service.page->SslPort())});
            ssl = ssl || bound.back().at.ssl;
        }
        if (!ssl)
            continue;
        const std::string stored = service.map->GetString(CCertificateChoice::kKey, "");
        if (stored.empty()) {
            findings.Add(Severity::Critical, "ssl-without-certificate", service.file,
                         CCertificateChoice::kKey,
                         std::string("Der ") + service.service +
                             " nimmt SSL/TLS-Verbindungen an, aber es ist kein Zertifikat "
                             "gewählt.");
            continue;
        }
        // The store is read once, for the first service that needs it.
        if (!storeRead) {
            choice.Fill(quiet.prompter, *service.map);
            storeRead = true;
        }
        const std::string chosen = choice.List().EntryBeginningWith(stored);
        if (chosen.empty()) {
            findings.Add(Severity::Critical, "certificate-missing", service.file,
                         CCertificateChoice::kKey,
                         "Das Zertifikat \"" + U(stored) + "\" des " + service.service +
                             "s ist nicht im Zertifikatsspeicher.");
            continue;
        }
        const auto expiry = choice.ExpiryOf(chosen);
        if (!expiry)
            continue;
        if (*expiry <= env.now)
            findings.Add(Severity::Critical, "certificate-expired", service.file,
                         CCertificateChoice::kKey,
                         "Das Zertifikat \"" + U(chosen) + "\" des " + service.service +
                             "s ist abgelaufen; Clients lehnen SSL/TLS-Verbindungen ab.");
        else if (const std::int64_t days = (*expiry - env.now) / 86400 + 1;
                 days <= kExpiryWarningDays)
            findings.Add(
                Severity::Warning, "certificate-expiring", service.file, CCertificateChoice::kKey,
                "Das Zertifikat \"" + U(chosen) + "\" des " + service.service + "s läuft " +
                    (days == 1 ? std::string("innerhalb eines Tages")
                               : "in " + std::to_string(days) + " Tagen") +
                    " ab; es sollte erneuert werden.");
    }
    // "*" takes the port on every address, so it clashes with any other entry on that port.
    for (std::size_t i = 0; i < bound.size(); ++i) {
        for (std::size_t j = i + 1; j < bound.size(); ++j) {
            const Bound& a = bound[i];
            const Bound& b = bound[j];
            if (a.at.port != b.at.port || !(a.at.address == "*" || b.at.address == "*" ||
                                            ansi::EqualNoCase(a.at.address, b.at.address)))
                continue;
            const std::string where =
                a.listener == b.listener
                    ? std::string("zweimal im ") + a.listener->service
                    : std::string("im ") + a.listener->service + " und im " + b.listener->service;
            findings.Add(Severity::Critical, "port-clash", b.listener->file, "Interface",
                         "Die Adressen \"" + U(a.entry) + "\" und \"" + U(b.entry) +
                             "\" belegen denselben Port " + std::to_string(a.at.port) + " " +
                             where + ".");
        }
    }
}

// A list file may serve several pages in the same role (one allow list for all three servers);
// in two roles, or as a file of the set itself, each writes its own entries over the other's,
// and the services read one file as both.
void CheckListFiles(CConfigSet& set, const std::vector<Listener>& listeners,
                    const CheckEnvironment& env, CFindings& findings) {
    struct Binding {
        std::string path;
        std::string file;  // the file of the set that names it
        std::string key;   // its role; for a file of the set, its name
        std::string owner; // empty for a file of the set
    };
    std::vector<Binding> bindings;
    for (const CConfigSet::File& own : set.Files())
        bindings.push_back(
            {NormalizePath(PathJoin(env.configDir, own.name)), own.name, own.name, ""});
    for (const Listener& service : listeners)
        for (const listener::ListFile& list : service.page->ListFiles())
            bindings.push_back({NormalizePath(service.page->PathOf(list.fileKey)), service.file,
                                list.fileKey,
                                std::string("dem ") + service.service + " (" + list.fileKey + ")"});
    std::set<std::string> reported;
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        for (std::size_t j = i + 1; j < bindings.size(); ++j) {
            const Binding& a = bindings[i];
            const Binding& b = bindings[j];
            if (a.path != b.path || a.key == b.key ||
                !reported.insert(b.path + '\n' + b.key).second)
                continue;
            findings.Add(Severity::Critical, "list-file-shared", b.file, b.key,
                         "Die Datei \"" + U(platform::BaseName(b.path)) + "\" " +
                             (a.owner.empty() ? "gehört zur Konfiguration selbst und dient"
                                              : "dient " + a.owner + " und") +
                             " zugleich " + b.owner +
                             " als Liste; beim Speichern überschreibt das eine das andere.");
        }
    }
}

// A list file the page cannot read is kept as it is on apply, so the page can change nothing in
// it; the services cannot read it either. A missing file is none: the page makes it.
void CheckListFilesReadable(const std::vector<Listener>& listeners, CFindings& findings) {
    std::set<std::string> seen;
    for (const Listener& service : listeners) {
        for (const listener::ListFile& list : service.page->ListFiles()) {
            const std::string path = service.page->PathOf(list.fileKey);
            if (!seen.insert(NormalizePath(path)).second)
                continue;
            const auto status = platform::StatPath(path); // through a link
            const platform::PathKind kind = platform::QueryPathKind(path);
            std::string what;
            std::string content;
            // A link that leads nowhere counts as a missing file, as it does for the page.
            if (kind == platform::PathKind::Missing || !status)
                continue;
            if (status->isDirectory)
                what = "ist ein Verzeichnis";
            else if (kind == platform::PathKind::Other)
                what = "ist keine gewöhnliche Datei";
            else if (!platform::ReadWholeFile(path, content))
                what = "kann nicht gelesen werden";
            else
                continue;
            findings.Add(Severity::Critical, "list-file-unreadable", service.file, list.fileKey,
                         "Die Zugriffsliste \"" + U(path) + "\" des " + service.service + "s (" +
                             list.fileKey + ") " + what +
                             "; weder der Dienst noch das Konfigurationsprogramm können ihre "
                             "Einträge lesen oder ändern.");
        }
    }
}

// --- Folders ----------------------------------------------------------------------------------

void CheckFolders(CConfigSet& set, CFindings& findings) {
    CPageFolders folders(set);
    CQuietPrompter quiet;
    folders.OnFirstShow(quiet.prompter);
    for (const PromptMessage& message : quiet.prompter.Shown()) {
        const bool clash = message.kind == MessageKind::Error;
        findings.Add(clash ? Severity::Critical : Severity::Warning,
                     clash ? "folder-clash" : "folder-copies-differ", "mdad.cfg", "",
                     U(message.text));
    }
    struct Folder {
        const char* key;
        Severity missing;
    };
    const Folder kFolders[] = {{CPageFolders::kSpoolDir, Severity::Critical},
                               {CPageFolders::kQueueDir, Severity::Critical},
                               {CPageFolders::kOutgoingDir, Severity::Warning},
                               {CPageFolders::kErrorDir, Severity::Warning},
                               {CPageFolders::kFilterDir, Severity::Warning}};
    for (const Folder& folder : kFolders) {
        const std::string& path = folders.Value(folder.key);
        const auto status = platform::StatPath(path);
        if (status && status->isDirectory)
            continue;
        findings.Add(folder.missing, "folder-missing", "mdad.cfg", folder.key,
                     "Das Verzeichnis \"" + U(path) + "\" (" + folder.key +
                         ") ist nicht vorhanden.");
    }
}

// --- Account folders -------------------------------------------------------------------------

// Folders of one kind are named one by one up to this many; the rest are counted in one more
// finding, so that a spool full of them still gives a report one can read.
constexpr std::size_t kFoldersNamed = 50;

void AddFolderFindings(const std::vector<std::string>& folders, const char* code, const char* file,
                       const std::function<std::string(const std::string&)>& text,
                       const std::string& rest, CFindings& findings) {
    for (std::size_t i = 0; i < folders.size() && i < kFoldersNamed; ++i)
        findings.Add(Severity::Warning, code, file, folders[i], text(folders[i]));
    if (folders.size() > kFoldersNamed)
        findings.Add(Severity::Warning, code, file, "",
                     "Und " + std::to_string(folders.size() - kFoldersNamed) + " " + rest);
}

// The address "account add" gives an account folder back: the folder of L@D is named L.D, and
// of the local domains that end the name after a dot, the longest is the one meant.
std::optional<std::string> AddressOfFolder(const CDomainList& domains, std::string_view account) {
    for (std::size_t dot = account.find('.'); dot != std::string_view::npos;
         dot = account.find('.', dot + 1))
        if (dot > 0 && domains.Contains(account.substr(dot + 1)))
            return std::string(account.substr(0, dot)) + "@" + std::string(account.substr(dot + 1));
    return std::nullopt;
}

// An account folder that no entry of "aliases" names is what an account add or an import that
// stopped half-way leaves behind: the folder was made, the address never saved.
void CheckAccountsWithoutAddress(CConfigSet& set, CFindings& findings) {
    // Without the aliases every account would seem to have no address.
    if (set.LoadFailed(&set.aliases))
        return;
    // Accounts with an address of a domain are the rule; only the others are looked up again,
    // for a key without a domain.
    std::vector<std::string> orphans;
    std::string key;
    for (std::string& account : set.aliases.AccountsWithoutDomainAddress(set.users))
        if (!set.aliases.FindAddressOf(account, key))
            orphans.push_back(std::move(account));
    std::sort(orphans.begin(), orphans.end());
    AddFolderFindings(
        orphans, "account-without-address", "aliases",
        [&](const std::string& account) {
            const auto address = AddressOfFolder(set.domains, account);
            if (!address)
                return "Den Kontoordner \"" + U(account) +
                       "\" erreicht keine Adresse, und sein Name endet auf keine lokale Domain; "
                       "Mails an ihn kommen nicht an.";
            return "Den Kontoordner \"" + U(account) +
                   "\" erreicht keine Adresse (ein abgebrochenes Anlegen oder Importieren?); "
                   "\"korvanectl account add " +
                   U(*address) + "\" gibt ihm seine Adresse wieder, seine Mails bleiben erhalten.";
        },
        "weitere Kontoordner erreicht keine Adresse.", findings);
}

// A removal sets the account folder aside under a hidden name and deletes it once the
// configuration without the account is saved; a folder still set aside is a removal that
// stopped in between.
void CheckRemovalsPending(CConfigSet& set, CFindings& findings) {
    const std::string spool = SpoolDirectory(set.mdad);
    std::vector<std::string> aside;
    // Only the names of the prefix: a spool of a hundred thousand accounts is listed once more,
    // but nothing else is looked at.
    CDirectoryScan scan(PathJoin(spool, std::string(kRemovedFolderPrefix) + "*"));
    while (scan.Next()) {
        if (!scan.IsDirectory() || !scan.GetName().starts_with(kRemovedFolderPrefix))
            continue;
        // This program's own removals wait for its save.
        const std::string path = PathJoin(spool, scan.GetName());
        if (std::none_of(set.pendingRemovals.begin(), set.pendingRemovals.end(),
                         [&](const CConfigSet::PendingRemoval& p) { return p.aside == path; }))
            aside.push_back(scan.GetName());
    }
    std::sort(aside.begin(), aside.end());
    AddFolderFindings(
        aside, "account-removal-pending", "mdad.cfg",
        [&](const std::string& folder) {
            // The name is the prefix, the account and "-" with a number.
            std::string account = folder.substr(kRemovedFolderPrefix.size());
            const std::size_t dash = account.rfind('-');
            if (dash != std::string::npos && dash + 1 < account.size() &&
                account.find_first_not_of("0123456789", dash + 1) == std::string::npos)
                account.resize(dash);
            return "Der Ordner \"" + U(PathJoin(spool, folder)) +
                   "\" stammt von einer Entfernung des Kontos \"" + U(account) +
                   "\", die nicht zu Ende kam; die Mails des Kontos liegen noch darin. Er kann "
                   "von Hand gelöscht oder wieder in \"" +
                   U(account) + "\" umbenannt werden.";
        },
        "weitere Ordner stammen von Entfernungen, die nicht zu Ende kamen.", findings);
}

// --- Domains and aliases ---------------------------------------------------------------------

void CheckDomainsAndAliases(CConfigSet& set, const CheckEnvironment& env, CFindings& findings) {
    for (auto position = set.backupDomains.GetHeadPosition(); position;) {
        const std::string& domain = set.backupDomains.GetNext(position);
        if (set.domains.Contains(domain))
            findings.Add(Severity::Warning, "domain-twice", "backupdomains", domain,
                         "Die Domain \"" + U(domain) +
                             "\" ist zugleich lokal und Backup-MX-Domain.");
    }

    // The load has already dropped the entries whose account is gone; the file still has
    // them, and the next save would drop them for good. Only when it dropped any is the file
    // read again to name them.
    if (set.aliases.GetDroppedCount() > 0 && !env.configDir.empty() &&
        !set.LoadFailed(&set.aliases)) {
        CConfigMap file;
        if (file.Load(PathJoin(env.configDir, "aliases"))) {
            for (auto position = file.GetStartPosition(); position;) {
                std::string key;
                std::string target;
                file.GetNextAssoc(position, key, target);
                const std::string account = ansi::ToLower(target);
                if (target.find('@') != std::string::npos || set.users.Contains(account) ||
                    file.FindView(target) || ansi::EqualNoCase(key, target))
                    continue;
                findings.Add(Severity::Warning, "alias-without-account", "aliases", key,
                             "Der Alias \"" + U(key) + "\" zeigt auf das Konto \"" + U(target) +
                                 "\", dessen Postfach fehlt; der Eintrag entfällt beim "
                                 "nächsten Speichern.");
            }
        }
    }

    // A forward to a local address goes on through that address's entry; one that comes back
    // to an address already passed loops until the services give up on the mail.
    std::set<std::string> inLoop;
    for (auto position = set.aliases.GetStartPosition(); position;) {
        std::string key;
        std::string target;
        set.aliases.GetNextAssoc(position, key, target);
        if (inLoop.count(key) != 0)
            continue;
        std::vector<std::string> chain{key};
        std::string next = ansi::ToLower(target);
        for (int step = 0;
             step < 64 && next.find('@') != std::string::npos && IsLocalAddress(next, set.domains);
             ++step) {
            if (std::find(chain.begin(), chain.end(), next) != chain.end()) {
                if (next != key)
                    break; // a loop further on, reported from one of its own addresses
                std::string path;
                for (const std::string& address : chain) {
                    path += U(address) + " -> ";
                    inLoop.insert(address);
                }
                findings.Add(Severity::Critical, "alias-loop", "aliases", key,
                             "Die Weiterleitungen bilden eine Schleife: " + path + U(key) + ".");
                break;
            }
            chain.push_back(next);
            std::string resolved;
            if (!set.aliases.ResolveAddress(next, resolved))
                break;
            next = ansi::ToLower(resolved);
        }
    }
}

// --- Smart hosts, delivery, SRS ----------------------------------------------------------------

void CheckSmartHosts(const CConfigSet& set, const CheckEnvironment& env, CFindings& findings) {
    if (env.configDir.empty())
        return;
    bool passwords = false;
    for (auto position = set.smarthosts.GetStartPosition(); position && !passwords;) {
        std::string key;
        std::string value;
        set.smarthosts.GetNextAssoc(position, key, value);
        const transport::RuleValue rule = transport::ReadValue(value);
        passwords = rule.logsIn && !rule.password.empty();
    }
    const auto status = platform::StatPath(PathJoin(env.configDir, "smarthosts"));
    if (passwords && status && (status->permissions & 0004) != 0)
        findings.Add(Severity::Critical, "smarthosts-readable", "smarthosts", "",
                     "\"smarthosts\" enthält Kennwörter für Smarthosts und ist für alle "
                     "Benutzer lesbar.");
}

void CheckDelivery(CConfigSet& set, const CheckEnvironment& env, CFindings& findings) {
    CPageConfigMDA::Environment environment;
    environment.configDir = env.configDir;
    CPageConfigMDA delivery(set, {}, {}, environment);
    const auto script = platform::StatPath(delivery.SendmailScript());
    if (!delivery.Automatic() && !script)
        findings.Add(Severity::Critical, "manual-delivery-without-script", "mdad.cfg", "",
                     "Die Zustellung ist auf \"manuell\" gestellt, aber das Skript \"" +
                         U(delivery.SendmailScript()) + "\" fehlt.");
    for (auto [file, map] : {std::pair<const char*, const CConfigMap*>{"smtpd.cfg", &set.smtpd},
                             {"mdad.cfg", &set.mdad}}) {
        const std::string domain = map->GetString(CMDAAdvancedDlg::kDomainKey, "");
        if (!domain.empty() && !set.domains.Contains(domain))
            findings.Add(Severity::Warning, "srs-domain-not-local", file,
                         CMDAAdvancedDlg::kDomainKey,
                         "Die SRS-Domain \"" + U(domain) + "\" ist keine lokale Domain.");
    }
}

} // namespace

std::vector<CFinding> CheckConfiguration(CConfigSet& set, const CheckEnvironment& env) {
    CFindings findings;
    // A file whose load failed is a finding when the load complained about it, or when it is
    // there but could not be read; a missing optional file is none.
    for (const CConfigSet::File& file : set.Files())
        if (set.LoadFailed(file.Object()) &&
            (file.loadFailed != 0 || platform::StatPath(PathJoin(env.configDir, file.name))))
            findings.Add(Severity::Critical, "load-failed", file.name, "",
                         "Die Datei \"" + U(file.name) +
                             "\" konnte nicht geladen werden; ihre Einstellungen fehlen.");
    CheckHost(set, env, findings);
    CheckDomainsAndAliases(set, env, findings);

    const auto noAddresses = [] { return platform::LocalAddresses{}; };
    CPageConfigSMTP smtp(set, {}, noAddresses);
    CPageConfigPOP3 pop3(set, {}, noAddresses);
    CPageConfigIMAP4 imap4(set, {}, noAddresses);
    CheckRelay(smtp, findings);
    CSmtpAdvancedDlg advanced(set, env.certificates);
    if (advanced.Value(CSmtpAdvancedDlg::kVrfy) == "1")
        findings.Add(Severity::Warning, "vrfy-enabled", "smtpd.cfg", "Vrfy.Enable",
                     "VRFY ist eingeschaltet: Jeder kann damit prüfen, welche Adressen es auf "
                     "diesem Server gibt.");
    const std::vector<Listener> listeners{{"smtpd.cfg", "SMTP-Server", &smtp, &set.smtpd},
                                          {"pop3d.cfg", "POP3-Server", &pop3, &set.pop3d},
                                          {"imap4d.cfg", "IMAP4-Server", &imap4, &set.imap4d}};
    CheckInterfaces(listeners, env, findings);
    CheckListFiles(set, listeners, env, findings);
    CheckListFilesReadable(listeners, findings);
    CheckFolders(set, findings);
    CheckAccountsWithoutAddress(set, findings);
    CheckRemovalsPending(set, findings);
    CheckSmartHosts(set, env, findings);
    CheckDelivery(set, env, findings);
    return findings.Take();
}
