#include "pages/ConfigCheck.h"

#include "Common/Ansi.h"
#include "Common/FileChangeMonitor.h"
#include "Common/Message.h"
#include "accounts/AccountStore.h"
#include "app/BatchPrompter.h"
#include "pages/InterfaceDlg.h"
#include "pages/MdaAdvanced.h"
#include "pages/PageDelivery.h"
#include "pages/PageDomains.h"
#include "pages/PageFolders.h"
#include "pages/PageListener.h"
#include "pages/PageSyslog.h"
#include "pages/TransportRules.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
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
        const std::string_view entry = relay.GetNext(position);
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

// The machine's addresses, asked for once and only when an entry names an address. A list that
// could not be read completely (the query failed, or only the host name's addresses were found)
// judges nothing: an address missing from it may still be the machine's.
class CLocalAddresses {
public:
    explicit CLocalAddresses(const std::function<platform::LocalAddresses()>& source)
        : m_source(source) {}

    // Whether address is known not to be one of this machine's. "*" is every address, and so is
    // "0.0.0.0", which a socket takes the same way; an empty address is the default, every one.
    bool IsForeign(std::string_view address) {
        if (address.empty() || address == "*" || address == "0.0.0.0")
            return false;
        if (!m_asked) {
            m_asked = true;
            if (m_source) {
                platform::LocalAddresses found = m_source();
                m_known = found.outcome == platform::AddressQueryOutcome::Success;
                m_addresses = std::move(found.addresses);
            }
        }
        return m_known &&
               std::find(m_addresses.begin(), m_addresses.end(), address) == m_addresses.end();
    }

private:
    const std::function<platform::LocalAddresses()>& m_source;
    bool m_asked = false;
    bool m_known = false;
    std::vector<std::string> m_addresses;
};

constexpr long kHighestPort = 65535;

struct Listener {
    const char* file;
    const char* service;
    CPageConfigListener* page;
    CConfigMap* map;
};

// A certificate that ends within this many days is worth a warning: time to renew it.
constexpr std::int64_t kExpiryWarningDays = 21;

void CheckInterfaces(const std::vector<Listener>& listeners, const CheckEnvironment& env,
                     CLocalAddresses& local, CFindings& findings) {
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
            const std::string_view entry = entries.GetNext(position);
            bound.push_back({&service, std::string(entry),
                             listener::ReadInterface(entry, service.page->DefaultPort(),
                                                     service.page->SslPort())});
            const listener::InterfaceEntry& at = bound.back().at;
            ssl = ssl || at.ssl;
            // The digits of a port are read as far as they go, so a typo in the file gives a
            // port no socket can have: the service cannot open it and does not start.
            if (at.port > kHighestPort)
                findings.Add(Severity::Critical, "port-out-of-range", service.file, "Interface",
                             "Die Schnittstelle \"" + U(entry) + "\" des " + service.service +
                                 "s nennt den Port " + std::to_string(at.port) +
                                 "; Ports reichen nur bis 65535, der Dienst kann ihn nicht "
                                 "öffnen.");
            // A service bound to an address the machine does not have cannot open that socket.
            if (local.IsForeign(at.address))
                findings.Add(Severity::Critical, "interface-not-local", service.file, "Interface",
                             "Die Schnittstelle \"" + U(entry) + "\" des " + service.service +
                                 "s nennt die Adresse \"" + U(at.address) +
                                 "\", die dieser Rechner nicht hat; der Dienst kann dort keine "
                                 "Verbindungen annehmen. Bitte wählen Sie eine Adresse dieses "
                                 "Rechners oder <alle>.");
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

// The Syslog server listens on one address; empty and "<alle>" are every address.
void CheckSyslogInterface(const CConfigSet& set, CLocalAddresses& local, CFindings& findings) {
    const std::string address = set.syslogd.GetString("Interface", "");
    if (ansi::EqualNoCase(address, listener::kAllAddresses) || !local.IsForeign(address))
        return;
    findings.Add(Severity::Critical, "interface-not-local", "syslogd.cfg", "Interface",
                 "Der Syslog-Server soll Meldungen auf der Adresse \"" + U(address) +
                     "\" annehmen, doch diese Adresse hat dieser Rechner nicht; dort kommen "
                     "keine Meldungen an. Bitte wählen Sie eine Adresse dieses Rechners oder "
                     "<alle>.");
}

struct PortOwner {
    const char* file;
    const CConfigMap* map;
    const CFieldModel* model;
};

// The keys the field tables declare as a port, a number field whose accepted range is exactly
// 0..65535, as the file holds them: a page would refuse such a value only once it is shown and
// applied, the service cannot open it at all.
void CheckPortKeys(const std::vector<PortOwner>& owners, CFindings& findings) {
    std::set<std::string> seen;
    for (const PortOwner& owner : owners) {
        for (const CFieldSpec& field : owner.model->Fields()) {
            if (field.type != FieldType::Number || !field.key || field.minimum != 0 ||
                field.maximum != kHighestPort || !owner.map->FindView(field.key) ||
                !seen.insert(std::string(owner.file) + '\n' + field.key).second)
                continue;
            const int port = owner.map->GetInt(field.key, 0);
            if (port >= 0 && port <= kHighestPort)
                continue;
            findings.Add(Severity::Critical, "port-out-of-range", owner.file, field.key,
                         "Der Port " + std::to_string(port) + " unter \"" + field.key +
                             "\" liegt nicht zwischen 0 und 65535; der Dienst kann ihn nicht "
                             "öffnen.");
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
void CheckRemovalsPending(CConfigSet& set, const std::string& spool, std::vector<std::string> aside,
                          CFindings& findings) {
    // This program's own removals wait for its save.
    std::erase_if(aside, [&](const std::string& name) {
        const std::string path = PathJoin(spool, name);
        return std::any_of(set.pendingRemovals.begin(), set.pendingRemovals.end(),
                           [&](const CConfigSet::PendingRemoval& p) { return p.aside == path; });
    });
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
        const std::string_view domain = set.backupDomains.GetNext(position);
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
    // to an address already passed loops until the services give up on the mail, and one whose
    // address no entry takes (exact, placeholder or catch-all) is refused there. A refused mail
    // goes back to its sender and harms nothing else, as with an alias whose account is gone:
    // a warning.
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
            if (!set.aliases.ResolveAddress(next, resolved)) {
                // Only the entry's own target: one further along the chain is reported from
                // the entry that names it.
                if (step == 0 && next.find_first_of("*?") == std::string::npos &&
                    !set.users.Contains(next))
                    findings.Add(Severity::Warning, "alias-target-unknown", "aliases", key,
                                 "Der Alias \"" + U(key) + "\" leitet an \"" + U(next) +
                                     "\" weiter, doch für diese lokale Adresse gibt es weder "
                                     "ein Konto noch einen Eintrag; Mails an den Alias werden "
                                     "abgewiesen. Bitte legen Sie die Adresse an oder ändern "
                                     "Sie das Ziel.");
                break;
            }
            next = ansi::ToLower(resolved);
        }
    }
}

// --- Smart hosts, delivery, SRS ----------------------------------------------------------------

void CheckSmartHosts(const CConfigSet& set, const CheckEnvironment& env, CFindings& findings) {
    bool passwords = false;
    for (auto position = set.smarthosts.GetStartPosition(); position;) {
        std::string key;
        std::string value;
        set.smarthosts.GetNextAssoc(position, key, value);
        const transport::RuleValue rule = transport::ReadValue(value);
        passwords = passwords || (rule.logsIn && !rule.password.empty());
        // A server that asks for a login refuses one without a name or a password: the mail of
        // the rule stays in the queue until its time runs out.
        if (rule.logsIn && (rule.login.empty() || rule.password.empty()))
            findings.Add(Severity::Critical, "smarthost-login-incomplete", "smarthosts", key,
                         "Die Transportregel \"" + U(key) + "\" meldet sich am Server \"" +
                             U(rule.server) + "\" an, aber " +
                             (rule.login.empty() && rule.password.empty()
                                  ? "Login und Passwort sind"
                              : rule.login.empty() ? "der Login ist"
                                                   : "das Passwort ist") +
                             " leer; der Server lehnt die Anmeldung ab, und die Mails dieser "
                             "Regel werden nicht versandt.");
    }
    if (env.configDir.empty())
        return;
    const auto status = platform::StatPath(PathJoin(env.configDir, "smarthosts"));
    if (passwords && status && (status->permissions & 0004) != 0)
        findings.Add(Severity::Critical, "smarthosts-readable", "smarthosts", "",
                     "\"smarthosts\" enthält Kennwörter für Smarthosts und ist für alle "
                     "Benutzer lesbar.");
}

// Which rule the delivery agent takes is not written down in the files. The address trace reads
// it as: the rule for the recipient's domain, then, for mail sent on for a local sender, the
// rule for the sender's domain, and last the recipient rule "*"; among rules for the same
// domain and side the first in the file wins. This check keeps to that reading, so a rule
// behind "*" still applies, and the ones that never do are: a rule whose domain and side an
// earlier rule already has ("dom", ">dom" and "Dom" are one), a sender rule for "*" (only the
// recipient side has a catch-all), a rule without a domain, and a recipient rule for a local
// domain, whose mail goes into the mailboxes and never reaches a rule. All of them leave the
// mail to another rule, not lost: warnings.
void CheckTransportRules(const CConfigSet& set, CFindings& findings) {
    struct Seen {
        std::string key;
        transport::Dependency dependency;
        std::string domain; // lower case
    };
    std::vector<Seen> seen;
    for (auto position = set.smarthosts.GetStartPosition(); position;) {
        std::string key;
        std::string value;
        set.smarthosts.GetNextAssoc(position, key, value);
        const transport::Dependency dependency = transport::DependencyOf(key);
        const std::string domain = ansi::ToLower(transport::DomainOf(key));
        const auto earlier = std::find_if(seen.begin(), seen.end(), [&](const Seen& other) {
            return other.dependency == dependency && other.domain == domain;
        });
        std::string why;
        if (domain.empty())
            why = "sie nennt keine Domain.";
        else if (earlier != seen.end())
            why = "die Regel \"" + U(earlier->key) +
                  "\" davor gilt für dieselbe Domain und wird zuerst gefunden. Bitte entfernen "
                  "Sie eine der beiden.";
        else if (dependency == transport::kSender && domain == "*")
            why = "\"*\" steht nur auf der Seite des Empfängers für alle übrigen Mails; eine "
                  "Absenderregel gilt für eine bestimmte Domain.";
        seen.push_back({key, dependency, domain});
        if (!why.empty()) {
            findings.Add(Severity::Warning, "transport-rule-unreachable", "smarthosts", key,
                         "Die Transportregel \"" + U(key) + "\" greift nie: " + why);
        } else if (dependency == transport::kRecipient && domain != "*" &&
                   set.domains.Contains(domain)) {
            findings.Add(Severity::Warning, "transport-rule-local-domain", "smarthosts", key,
                         "Die Transportregel \"" + U(key) + "\" greift nie: \"" + U(domain) +
                             "\" ist eine lokale Domain, Mails an sie werden in die Postfächer "
                             "zugestellt und verlassen den Server nicht.");
        }
    }
}

// A delivery time runs its script by its path. On a system where scripts are made without the
// execute bits (they run by their name's type) only a plain file is asked for.
void CheckDeliveryTimes(const CPageConfigMDA& delivery, const CheckEnvironment& env,
                        CFindings& findings) {
    const std::unique_ptr<platform::TaskScheduler> store =
        env.scheduler ? env.scheduler() : nullptr;
    std::vector<platform::ScheduledJob> jobs;
    if (!store || !store->List(jobs))
        return;
    // Without scripts of its own the delivery agent still sends in automatic mode; in manual
    // mode the delivery times are the only way out.
    const Severity severity = delivery.Automatic() ? Severity::Warning : Severity::Critical;
    constexpr bool kNeedsExecuteBit = (platform::kScriptMode & 0111) != 0;
    for (const platform::ScheduledJob& job : jobs) {
        if (!delivery.IsOwnJob(job.command))
            continue;
        CDeliveryTimeRows row;
        row.Add(job.id, job.jobTime);
        const std::string& shown = row.Text(0);
        const auto status = platform::StatPath(job.command); // through a link
        const platform::PathKind kind = platform::QueryPathKind(job.command);
        const char* code = nullptr;
        std::string what;
        if (!status) {
            code = "delivery-time-script-missing";
            what = "das nicht vorhanden ist";
        } else if (status->isDirectory || kind == platform::PathKind::Other ||
                   (kNeedsExecuteBit && (status->permissions & 0111) == 0)) {
            code = "delivery-time-script-not-executable";
            what = status->isDirectory || kind == platform::PathKind::Other
                       ? "das keine gewöhnliche Datei ist und nicht ausgeführt werden kann"
                       : "das nicht ausführbar ist";
        } else {
            continue;
        }
        findings.Add(severity, code, "mdad.cfg", shown,
                     "Der Versandzeitpunkt \"" + U(shown) + "\" startet das Skript \"" +
                         U(job.command) + "\", " + what +
                         "; zu diesem Zeitpunkt wird keine Mail versandt. Bitte legen Sie das "
                         "Skript an (die Seite \"Zustellung\" bietet es im manuellen Modus "
                         "an) oder entfernen Sie den Versandzeitpunkt.");
    }
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
    CheckDeliveryTimes(delivery, env, findings);
}

// --- Automatic replies ---------------------------------------------------------------------------

// Whether text holds nothing but blanks and line breaks.
bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// An automatic reply that is on answers from its template, read as the change-account dialog
// reads it: the name "RunReplyTemplate" without a default, a plain file of the account folder.
// One without subject and text sends an empty answer, or none. content is the caller's buffer,
// kept from folder to folder; "config" is read once, with a plain read, and parsed only when it
// names "RunReply" at all; the confined reading and the template follow for the few whose reply
// is on.
bool ReplyIsEmpty(const CAccountStore& store, const std::string& folder, std::string& content) {
    const std::string path = PathJoin(folder, "config");
    if (!platform::ReadWholeFile(path, content) || content.find("RunReply") == std::string::npos)
        return false;
    CConfigMap config;
    if (!config.LoadFromText(
            std::make_shared<const platform::LargeString>(content.begin(), content.end())) ||
        config.GetInt("RunReply", 0) == 0)
        return false;
    // A "config" that leads out of the spool is none, as for the store.
    if (!store.MayReadAccountFile(path))
        return false;
    const std::string templateName = config.GetString("RunReplyTemplate", "");
    CMail reply;
    if (IsValidAccountName(templateName) && !(templateName.size() > 1 && templateName[1] == ':')) {
        const std::string templatePath = PathJoin(folder, templateName);
        if (store.MayReadAccountFile(templatePath))
            (void)reply.Load(templatePath); // one that cannot be read counts as empty
    }
    return IsBlank(reply.GetSubject()) && IsBlank(reply.GetBody());
}

void AddEmptyReplyFindings(std::vector<std::string> empty, CFindings& findings) {
    // Named as the account's own file and key; many are counted as the account folders are.
    std::sort(empty.begin(), empty.end());
    for (std::size_t i = 0; i < empty.size() && i < kFoldersNamed; ++i)
        findings.Add(Severity::Warning, "auto-reply-empty", U(PathJoin(empty[i], "config")),
                     "RunReply",
                     "Die automatische Antwort des Kontos \"" + U(empty[i]) +
                         "\" ist eingeschaltet, aber ihre Vorlage hat weder Betreff noch Text; "
                         "wer dem Konto schreibt, erhält eine leere Antwort. Bitte füllen Sie "
                         "beides auf der Seite \"Domains & Accounts\" aus oder schalten Sie die "
                         "Antwort ab.");
    if (empty.size() > kFoldersNamed)
        findings.Add(Severity::Warning, "auto-reply-empty", "", "",
                     "Und " + std::to_string(empty.size() - kFoldersNamed) +
                         " weitere Konten haben eine eingeschaltete automatische Antwort ohne "
                         "Betreff und Text.");
}

// The folders of the spool, listed once for every check that looks at them: a hundred thousand
// account folders are walked through one time.
void CheckSpoolFolders(CConfigSet& set, CFindings& findings) {
    const CAccountStore store(set.mdad);
    const std::string spool = store.GetSpoolDir();
    std::vector<std::string> aside;
    std::vector<std::string> emptyReplies;
    std::string content;
    CDirectoryScan scan(PathJoin(spool, "*"));
    while (scan.Next()) {
        const std::string& name = scan.GetName();
        if (!scan.IsDirectory())
            continue;
        if (name.starts_with(kRemovedFolderPrefix))
            aside.push_back(name);
        else if (!name.starts_with('.') && IsValidAccountName(name) &&
                 ReplyIsEmpty(store, PathJoin(spool, name), content))
            emptyReplies.push_back(name);
    }
    CheckRemovalsPending(set, spool, std::move(aside), findings);
    AddEmptyReplyFindings(std::move(emptyReplies), findings);
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
    CLocalAddresses local(env.localAddresses);
    if (advanced.Value(CSmtpAdvancedDlg::kVrfy) == "1")
        findings.Add(Severity::Warning, "vrfy-enabled", "smtpd.cfg", "Vrfy.Enable",
                     "VRFY ist eingeschaltet: Jeder kann damit prüfen, welche Adressen es auf "
                     "diesem Server gibt.");
    const std::vector<Listener> listeners{{"smtpd.cfg", "SMTP-Server", &smtp, &set.smtpd},
                                          {"pop3d.cfg", "POP3-Server", &pop3, &set.pop3d},
                                          {"imap4d.cfg", "IMAP4-Server", &imap4, &set.imap4d}};
    CheckInterfaces(listeners, env, local, findings);
    CheckSyslogInterface(set, local, findings);
    {
        // The models that hold the keys of the services' files, made as the sheet makes them;
        // only their tables are read.
        const CPop3AdvancedDlg pop3Advanced(set, nullptr);
        const CImap4AdvancedDlg imap4Advanced(set, nullptr);
        const CMDAAdvancedDlg mdaAdvanced(set);
        const CPageConfigSyslog syslog(set, noAddresses);
        CheckPortKeys({{"smtpd.cfg", &set.smtpd, &smtp},
                       {"smtpd.cfg", &set.smtpd, &advanced},
                       {"pop3d.cfg", &set.pop3d, &pop3},
                       {"pop3d.cfg", &set.pop3d, &pop3Advanced},
                       {"imap4d.cfg", &set.imap4d, &imap4},
                       {"imap4d.cfg", &set.imap4d, &imap4Advanced},
                       {"mdad.cfg", &set.mdad, &mdaAdvanced},
                       {"syslogd.cfg", &set.syslogd, &syslog}},
                      findings);
    }
    CheckListFiles(set, listeners, env, findings);
    CheckListFilesReadable(listeners, findings);
    CheckFolders(set, findings);
    CheckAccountsWithoutAddress(set, findings);
    CheckSpoolFolders(set, findings);
    CheckSmartHosts(set, env, findings);
    CheckTransportRules(set, findings);
    CheckDelivery(set, env, findings);
    return findings.Take();
}
