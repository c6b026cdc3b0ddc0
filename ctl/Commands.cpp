#include "ctl/Commands.h"
#include "ctl/Context.h"

#include "Common/Ansi.h"
#include "app/BatchPrompter.h"
#include "app/ChangePreview.h"
#include "app/QuibrelApp.h"
#include "app/Strings.h"
#include "Common/TextFile.h"
#include "pages/AccountDialogs.h"
#include "pages/AddressTrace.h"
#include "pages/ConfigCheck.h"
#include "pages/KeyOwners.h"
#include "pages/PageDomains.h"
#include "pages/PageFolders.h"
#include "pages/TransportRules.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/HostIdentity.h"
#include "platform/Security.h"
#include "platform/ServiceManager.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <thread>

namespace ctl {

bool TakeFilled(CDialogModel& dialog, CPrompter& prompter) {
    for (const CFieldSpec& field : dialog.Fields()) {
        if (field.flags & kFieldReadOnly)
            continue;
        const auto refusal = CFieldModel::Refusal(field, dialog.Value(field.id));
        if (!refusal)
            continue;
        // The label names the field as the window does.
        const std::string label = LabelText(field);
        prompter.ShowText(label.empty() ? *refusal : label + ": " + *refusal, MessageKind::Error);
        return false;
    }
    return true;
}

void SetCheckedFiller(Context& c, std::function<void(CDialogModel&)> fill) {
    c.prompter.SetDialogFiller([&c, fill = std::move(fill)](CDialogModel& dialog) {
        fill(dialog);
        return TakeFilled(dialog, c.prompter);
    });
}

bool WantsJson(Context& c, bool& failed) {
    const auto format = c.call.Value("format").value_or("text");
    failed = format != "text" && format != "json";
    if (failed)
        Refuse(c, "Unbekanntes Format \"" + format + "\" (text oder json).");
    return format == "json";
}

void PrintJson(Context& c, const nlohmann::ordered_json& document) {
    // The texts are UTF-8 already; a byte that is not would be replaced rather than throw.
    c.io.out << document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

namespace {

// --- Handlers ----------------------------------------------------------------------------------

int DomainList(Context& c) {
    bool failed = false;
    const bool json = WantsJson(c, failed);
    if (failed)
        return kFailed;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const auto each = [&](const CDomainList& domains, const char* kind, const char* text) {
        for (CStringListEx::POSITION p = domains.GetHeadPosition(); p;) {
            const std::string domain = Utf8(domains.GetNext(p));
            if (json)
                list.push_back({{"domain", domain}, {"kind", kind}});
            else
                c.io.out << domain << '\t' << text << '\n';
        }
    };
    each(c.set.domains, "local", "lokal");
    each(c.set.backupDomains, "backup-mx", "Backup-MX");
    if (json)
        PrintJson(c, list);
    return kOk;
}

int DomainAdd(Context& c) {
    const auto name = FromArgument(c, c.call.args[0]);
    if (!name)
        return kFailed;
    if (c.call.Has("backup"))
        c.done = "Backup-MX-Domain \"" + c.call.args[0] + "\" angelegt.";
    DomainsPage domains(c);
    SetCheckedFiller(c, [&](CDialogModel& dialog) {
        dialog.SetValue(CAddDomainDlg::kDomainName, *name);
        dialog.SetValue(CAddDomainDlg::kSecondaryMx, c.call.Has("backup") ? "1" : "0");
    });
    return domains.Run(CPageDomains::kAddDomain);
}

// A command that deletes is confirmed by --yes, or by the user on a terminal; a script that
// gave neither is refused before anything is deleted. The page's own question is then answered
// with what was confirmed.
bool Confirmed(Context& c, unsigned question) {
    // A dry run deletes nothing, so it needs no confirmation.
    bool yes = c.call.Has("yes") || c.set.dryRun;
    if (!yes && c.io.interactive) {
        c.io.err << Utf8(strings::Text(question)) << " [j/N] " << std::flush;
        std::string answer;
        std::getline(c.io.in, answer);
        answer = ansi::ToLower(std::string(textfile::Trim(answer)));
        yes = answer == "j" || answer == "ja" || answer == "y" || answer == "yes";
        if (!yes) {
            c.io.err << "Abgebrochen; es wurde nichts geändert.\n";
            return false;
        }
    }
    if (!yes) {
        Refuse(c, "Der Befehl löscht. Bestätigen Sie ihn mit --yes (oder rufen Sie ihn in einem "
                  "Terminal auf). Es wurde nichts geändert.");
        return false;
    }
    c.prompter.Answer(question, Answer::Yes);
    return true;
}

int DomainRemove(Context& c) {
    const auto name = FromArgument(c, c.call.args[0]);
    if (!name)
        return kFailed;
    DomainsPage domains(c);
    if (name->empty() || !domains.SelectDomain(*name))
        return NoSuchDomain(c, *name);
    if (!Confirmed(c, 166))
        return kFailed;
    return domains.Run(CPageDomains::kDeleteDomain);
}

// Lists the address rows of domain (the root for none) whose icon is one of icons; second
// names the second column in JSON.
int ListRows(Context& c, const std::vector<int>& icons, const char* second) {
    bool failed = false;
    const bool json = WantsJson(c, failed);
    if (failed)
        return kFailed;
    std::optional<std::string> domain;
    if (!c.call.args.empty() && !(domain = FromArgument(c, c.call.args[0])))
        return kFailed;
    DomainsPage domains(c);
    if (!domains.SelectDomain(domain.value_or("")))
        return NoSuchDomain(c, *domain);
    const CAddressRows& rows = domains.page.Rows();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t row = 0; row < rows.RowCount(); ++row) {
        if (std::find(icons.begin(), icons.end(), rows.RowIcon(row)) == icons.end())
            continue;
        const std::string address = Utf8(rows.Address(row));
        const std::string target = Utf8(rows.Target(row));
        if (json)
            list.push_back({{"address", address}, {second, target}});
        else
            c.io.out << address << '\t' << target << '\n';
    }
    if (c.prompter.HadError())
        return kFailed;
    if (json)
        PrintJson(c, list);
    return kOk;
}

int AccountList(Context& c) {
    return ListRows(c, {CAddressRows::kAccount}, "account");
}

int AliasList(Context& c) {
    return ListRows(c, {CAddressRows::kForward, CAddressRows::kCatchAll}, "target");
}

// The address argument (in the code page) with its domain selected on domains; nothing after
// the message when it cannot be converted or its domain does not exist.
std::optional<std::string> SelectDomainOf(Context& c, DomainsPage& domains,
                                          const std::string& argument) {
    auto text = FromArgument(c, argument);
    if (!text)
        return std::nullopt;
    const Address address = SplitAddress(*text);
    if (address.hasAt && address.domain.empty()) {
        Refuse(c, "\"" + argument + "\" ist keine gültige E-Mail-Adresse: nach dem \"@\" fehlt "
                  "die Domain.");
        return std::nullopt;
    }
    if (domains.SelectDomain(address.domain))
        return text;
    NoSuchDomain(c, address.domain);
    return std::nullopt;
}

int AccountAdd(Context& c) {
    DomainsPage domains(c);
    const auto text = SelectDomainOf(c, domains, c.call.args[0]);
    if (!text)
        return kFailed;
    SetCheckedFiller(c, [&](CDialogModel& dialog) {
        dialog.SetValue(CAddAccountDlg::kLocalPart, SplitAddress(*text).local);
        dialog.SetValue(CAccountDlgBase::kPassword, c.password);
    });
    return domains.Run(CPageDomains::kAddAccount);
}

// Adds the forward of the first argument to the second; change: only in place of the target of
// an existing forward.
int PutAlias(Context& c, bool change) {
    DomainsPage domains(c);
    const auto text = SelectDomainOf(c, domains, c.call.args[0]);
    const auto target = text ? FromArgument(c, c.call.args[1]) : std::nullopt;
    if (!target)
        return kFailed;
    if (change) {
        const auto icon = domains.SelectRow(ansi::ToLower(*text));
        if (!icon)
            return Refuse(c, "Die Weiterleitung \"" + c.call.args[0] +
                                 "\" ist nicht vorhanden (alias add legt sie an).");
        if (*icon != CAddressRows::kForward && *icon != CAddressRows::kCatchAll)
            return Refuse(c, "\"" + c.call.args[0] +
                                 "\" ist eine Adresse eines Mailkontos, keine Weiterleitung.");
    }
    const Address address = SplitAddress(*text);
    CAddAliasDlg dialog(address.domain.empty() ? std::string("*") : domains.page.SelectedName());
    dialog.SetValue(CAddAliasDlg::kLocalPart, address.local);
    dialog.SetValue(CAddAliasDlg::kTarget, *target);
    if (!TakeFilled(dialog, c.prompter) || !dialog.OnOk(c.prompter))
        return kFailed;
    // The page asks before an address is led elsewhere; a script has said so beforehand or
    // changes nothing.
    if (!domains.page.AddAliasFrom(dialog, c.prompter, false, change || c.call.Has("replace"))) {
        if (c.prompter.HadError())
            return kFailed;
        return Refuse(c, "Die Adresse führt bereits zu einem anderen Ziel (siehe oben). "
                         "--replace ersetzt es. Es wurde nichts geändert.");
    }
    return c.prompter.HadError() ? kFailed : kOk;
}

// Removes the row of address when its icon is one of icons; otherwise says what it is.
int RemoveRow(Context& c, const std::vector<int>& icons, unsigned question, const char* wrongKind) {
    DomainsPage domains(c);
    const auto text = SelectDomainOf(c, domains, c.call.args[0]);
    if (!text)
        return kFailed;
    const auto icon = domains.SelectRow(ansi::ToLower(*text));
    if (!icon)
        return Refuse(c, "Die Adresse \"" + Utf8(*text) + "\" ist nicht vorhanden.");
    if (std::find(icons.begin(), icons.end(), *icon) == icons.end())
        return Refuse(c, "\"" + Utf8(*text) + "\" " + wrongKind);
    if (!Confirmed(c, question))
        return kFailed;
    return domains.Run(CPageDomains::kDeleteEntry);
}

int AccountRemove(Context& c) {
    return RemoveRow(c, {CAddressRows::kAccount}, 144,
                     "ist kein Mailkonto, sondern eine Weiterleitung (alias remove).");
}

int AliasAdd(Context& c) {
    return PutAlias(c, false);
}

int AliasChange(Context& c) {
    return PutAlias(c, true);
}

int AliasRemove(Context& c) {
    return RemoveRow(c, {CAddressRows::kForward, CAddressRows::kCatchAll}, 145,
                     "ist eine Adresse eines Mailkontos, keine Weiterleitung (account remove).");
}

// The key-value files of the set by name; the lists and "aliases" have their own commands.
CConfigMap* MapFile(CConfigSet& set, const std::string& name) {
    for (const CConfigSet::File& file : set.Files())
        if (ansi::EqualNoCase(name, file.name))
            return dynamic_cast<CConfigMap*>(file.map); // "aliases" is no CConfigMap
    return nullptr;
}

int NoMapFile(Context& c) {
    return Refuse(c, "\"" + c.call.args[0] +
                         "\" ist keine Schlüssel-Wert-Datei der Konfiguration (smtpd.cfg, "
                         "pop3d.cfg, imap4d.cfg, syslogd.cfg, mdad.cfg, smarthosts); Domains und "
                         "Adressen ändern die Befehle domain, account und alias.");
}

int Get(Context& c) {
    CConfigMap* map = MapFile(c.set, c.call.args[0]);
    if (!map)
        return NoMapFile(c);
    const auto key = FromArgument(c, c.call.args[1]);
    if (!key)
        return kFailed;
    const auto value = map->FindView(*key);
    if (!value)
        return Refuse(c, "Der Schlüssel \"" + c.call.args[1] + "\" ist in \"" + c.call.args[0] +
                             "\" nicht gesetzt.");
    c.io.out << Utf8(*value) << '\n';
    return kOk;
}

// The report keeps to the plug-in convention of the common monitors: one summary line, then
// one line per finding; the exit status says the worst.
int Check(Context& c) {
    bool failed = false;
    const bool json = WantsJson(c, failed);
    if (failed)
        return kFailed;
    CheckEnvironment environment;
    if (const auto host = c.call.Value("host-name"))
        environment.hostName = *host;
    else
        environment.hostName = platform::QueryHostIdentity().name;
    environment.configDir = platform::GetEnvironment("MAILCONFIGDIR").value_or("");
    environment.now = platform::CurrentTime();
    // The machine's own addresses and delivery times, as the window sees them.
    environment.localAddresses = &platform::QueryLocalAddresses;
    environment.scheduler = &platform::CreateTaskScheduler;
    const std::vector<CFinding> findings = CheckConfiguration(c.set, environment);
    std::size_t critical = 0;
    for (const CFinding& finding : findings)
        critical += finding.severity == Severity::Critical ? 1 : 0;
    const std::size_t warnings = findings.size() - critical;
    const int status = critical ? 2 : warnings ? 1 : 0;
    const char* const kStates[] = {"OK", "WARNUNG", "KRITISCH"};
    if (json) {
        const char* const kJsonStates[] = {"ok", "warning", "critical"};
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const CFinding& f : findings)
            list.push_back({{"severity", f.severity == Severity::Critical ? "critical" : "warning"},
                            {"code", f.code},
                            {"file", f.file},
                            {"key", f.key},
                            {"text", f.text}});
        PrintJson(c, {{"status", kJsonStates[status]},
                      {"critical", critical},
                      {"warnings", warnings},
                      {"findings", std::move(list)}});
        return status;
    }
    c.io.out << "KORVANE " << kStates[status] << " - " << critical << " kritisch, " << warnings
             << (warnings == 1 ? " Warnung" : " Warnungen") << '\n';
    for (const CFinding& f : findings)
        c.io.out << kStates[static_cast<int>(f.severity)] << "\t" << f.file
                 << (f.key.empty() ? "" : " [" + f.key + "]") << ": " << f.text << '\n';
    return status;
}

int Trace(Context& c) {
    const auto address = FromArgument(c, c.call.args[0]);
    if (!address)
        return kFailed;
    if (const auto refusal = TraceAddressRefusal(*address))
        return Refuse(c, Utf8(*refusal));
    bool failed = false;
    const bool json = WantsJson(c, failed);
    if (failed)
        return kFailed;
    const CTrace trace = TraceAddress(c.set, *address);
    const bool arrives = trace.end == CTrace::End::Account || trace.end == CTrace::End::Outgoing;
    if (json) {
        const char* const kEnds[] = {"account", "outgoing", "refused", "loop"};
        nlohmann::ordered_json steps = nlohmann::ordered_json::array();
        for (const CTraceStep& step : trace.steps)
            steps.push_back({{"text", step.text}, {"decidedBy", step.decidedBy}});
        nlohmann::ordered_json document = {{"address", c.call.args[0]},
                                   {"end", kEnds[static_cast<int>(trace.end)]},
                                   {"steps", std::move(steps)}};
        if (trace.end == CTrace::End::Account)
            document["account"] = Utf8(trace.account);
        PrintJson(c, document);
        return arrives ? kOk : kFailed;
    }
    for (std::size_t i = 0; i < trace.steps.size(); ++i)
        c.io.out << i + 1 << ". " << trace.steps[i].text << "\n   (" << trace.steps[i].decidedBy
                 << ")\n";
    return arrives ? kOk : kFailed;
}

// A folder goes into every file that keeps a copy of it, as the folders page writes it; a
// copy that disagrees with the others stays as it is there, so the command refuses it.
int SetFolder(Context& c, const std::string& key, const std::string& value) {
    CPageFolders folders(c.set);
    folders.OnFirstShow(c.prompter);
    const CFieldSpec* field = folders.FindField(key);
    const bool locked = (key == CPageFolders::kQueueDir && folders.QueueLocked()) ||
                        (key == CPageFolders::kSpoolDir && folders.SpoolLocked());
    if (!field || locked)
        return Refuse(c, "Die Kopien von \"" + key +
                             "\" in den Konfigurationsdateien unterscheiden sich; bitte im "
                             "Konfigurationsprogramm bereinigen.");
    if (const auto refusal = CFieldModel::Refusal(*field, value))
        return Refuse(c, Utf8(*refusal));
    folders.SetValue(key, value);
    folders.OnApply(c.prompter);
    return c.prompter.HadError() ? kFailed : kOk;
}

// A rule goes through the rule editor, which refuses and writes it as the delivery page does.
int SetRule(Context& c, const std::string& key, const std::string& value) {
    if (value.empty()) {
        if (!c.set.smarthosts.RemoveKey(key))
            return Refuse(c, "Die Regel \"" + Utf8(key) + "\" gibt es nicht.");
        c.set.smarthosts.SetModified();
        return kOk;
    }
    CTransportRuleDlg rule(&c.set.domains, key, value);
    rule.OnOpen(c.prompter);
    if (!rule.OnOk(c.prompter) || c.prompter.HadError())
        return kFailed;
    rule.StoreRule(c.set.smarthosts);
    return kOk;
}

int Set(Context& c) {
    CConfigMap* map = MapFile(c.set, c.call.args[0]);
    if (!map)
        return NoMapFile(c);
    const auto key = FromArgument(c, c.call.args[1]);
    const auto value = key ? FromArgument(c, c.call.args[2]) : std::nullopt;
    if (!value)
        return kFailed;
    // Also a key no page owns (--force) is one line of its file.
    const auto control = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(), [](char ch) {
            return static_cast<unsigned char>(ch) < 0x20 || ch == '\x7F';
        });
    };
    if (key->empty() || key->find_first_of(":#") != std::string::npos || control(*key) ||
        control(*value))
        return Refuse(c, "Ein Schlüssel darf weder leer sein noch \":\", \"#\" oder "
                         "Steuerzeichen (Zeilenumbruch, Tabulator) enthalten, ein Wert keine "
                         "Steuerzeichen.");
    c.done = value->empty() ? "\"" + c.call.args[1] + "\" aus \"" + c.call.args[0] + "\" entfernt."
                            : "\"" + c.call.args[1] + "\" in \"" + c.call.args[0] + "\" ist jetzt \"" +
                                  c.call.args[2] + "\".";
    if (map == &c.set.smarthosts)
        return SetRule(c, *key, *value);
    if (const char* folder = keyowners::FolderKey(*key); folder && map != &c.set.syslogd)
        return SetFolder(c, folder, *value);
    if (const auto refusal =
            keyowners::Refusal(c.set, c.call.args[0], *key, *value, c.call.Has("force")))
        return Refuse(c, Utf8(*refusal));
    map->SetString(*key, *value); // an empty value removes the key
    return kOk;
}

// --- The table ---------------------------------------------------------------------------------

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {.words = "domain list",
         .usage = "",
         .help = "Zeigt die lokalen Domains und die Backup-MX-Domains.",
         .example = "domain list --format=json",
         .options = {"format"},
         .handler = DomainList},
        {.words = "domain add",
         .usage = "DOMAIN",
         .help = "Legt eine lokale Domain an, mit --backup eine Backup-MX-Domain.",
         .example = "domain add neu.example.com",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"backup"},
         .changes = true,
         .handler = DomainAdd,
         .done = "Domain \"%1\" angelegt."},
        {.words = "domain remove",
         .usage = "DOMAIN",
         .help = "Entfernt eine Domain. Ihre Adressen bleiben in \"aliases\" und entfallen beim "
                 "nächsten Laden. Ohne --yes wird in einem Terminal nachgefragt, sonst nichts "
                 "gelöscht.",
         .example = "domain remove alt.example.com --yes",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"yes"},
         .changes = true,
         .handler = DomainRemove,
         .done = "Domain \"%1\" entfernt.",
         .completes = "@domain"},
        {.words = "account list",
         .usage = "[DOMAIN]",
         .help = "Zeigt die Adressen der Mailkonten einer Domain, ohne DOMAIN die Konten ohne "
                 "Adresse in einer Domain.",
         .example = "account list example.com",
         .maxArgs = 1,
         .options = {"format"},
         .handler = AccountList,
         .completes = "@domain"},
        {.words = "account add",
         .usage = "ADRESSE",
         .help = "Legt ein Mailkonto an. Das Kennwort steht in der ersten Zeile der Datei "
                 "(--password-file) oder der Standardeingabe; in einem Terminal wird es zweimal "
                 "verdeckt abgefragt. Auf der Befehlszeile sähen es andere Benutzer. Gibt es den "
                 "Ordner des Kontos schon, ohne dass eine Adresse dorthin führt (was ein "
                 "abgebrochener Lauf hinterlässt), wird er übernommen: Kennwort und "
                 "Einstellungen neu, die Mails bleiben. Führt die Adresse schon woandershin "
                 "(eine Weiterleitung), wird nichts angelegt.",
         .example = "account add max@example.com --password-file /root/kennwort",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"password-file"},
         .changes = true,
         .password = Command::kPassword,
         .handler = AccountAdd,
         .done = "Mailkonto \"%1\" angelegt."},
        {.words = "account change",
         .usage = "ADRESSE",
         .help = "Ändert ein Mailkonto: das Kennwort (aus der Datei oder der Standardeingabe, "
                 "in einem Terminal zweimal verdeckt abgefragt), das Speicherplatzlimit in MB, "
                 "die größte Mail in KB (0 schaltet ein Limit ab) und ob die Envelope-Header "
                 "erhalten bleiben. Was nicht angegeben ist, bleibt.",
         .example = "account change max@example.com --quota-mb 500",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"password-file", "password-stdin", "quota-mb", "maxsize-kb", "save-envelope"},
         .changes = true,
         .password = Command::kPasswordIfAsked,
         .handler = AccountChange,
         .done = "Mailkonto \"%1\" geändert."},
        {.words = "account remove",
         .usage = "ADRESSE",
         .help = "Löscht ein Mailkonto mit seinem Postfach. Das Postfach wird erst gelöscht, "
                 "wenn die Konfiguration ohne das Konto gespeichert ist; scheitert das "
                 "Speichern, bleibt es, wo es war. Ohne --yes wird in einem Terminal "
                 "nachgefragt, sonst nichts gelöscht.",
         .example = "account remove max@example.com --yes",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"yes"},
         .changes = true,
         .handler = AccountRemove,
         .done = "Mailkonto \"%1\" mit seinem Postfach gelöscht."},
        {.words = "alias list",
         .usage = "[DOMAIN]",
         .help = "Zeigt die Weiterleitungen einer Domain, ohne DOMAIN die ohne Domain.",
         .example = "alias list example.com",
         .maxArgs = 1,
         .options = {"format"},
         .handler = AliasList,
         .completes = "@domain"},
        {.words = "alias add",
         .usage = "ADRESSE ZIEL",
         .help = "Legt eine Weiterleitung oder ein Alias an. Führt die Adresse schon woandershin "
                 "(zu einem Mailkonto oder einer anderen Weiterleitung), wird nichts geändert, "
                 "außer mit --replace: dann führt sie nur noch zum neuen Ziel.",
         .example = "alias add info@example.com max@example.com",
         .minArgs = 2,
         .maxArgs = 2,
         .options = {"replace"},
         .changes = true,
         .handler = AliasAdd,
         .done = "Weiterleitung \"%1\" an \"%2\" angelegt."},
        {.words = "alias change",
         .usage = "ADRESSE ZIEL",
         .help = "Gibt einer vorhandenen Weiterleitung ein neues Ziel. Ist die Adresse keine "
                 "Weiterleitung (nicht vorhanden oder ein Mailkonto), wird nichts geändert.",
         .example = "alias change info@example.com eva@example.com",
         .minArgs = 2,
         .maxArgs = 2,
         .changes = true,
         .handler = AliasChange,
         .done = "Weiterleitung \"%1\" führt jetzt an \"%2\"."},
        {.words = "alias remove",
         .usage = "ADRESSE",
         .help = "Löscht eine Weiterleitung. Ohne --yes wird in einem Terminal nachgefragt, "
                 "sonst nichts gelöscht.",
         .example = "alias remove info@example.com --yes",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"yes"},
         .changes = true,
         .handler = AliasRemove,
         .done = "Weiterleitung \"%1\" gelöscht."},
        {.words = "check",
         .usage = "",
         .help = "Prüft die Konfiguration auf Fehler und Gefahren (offenes Relay, Ports doppelt "
                 "belegt, fehlende oder abgelaufene Zertifikate, fehlende Verzeichnisse, "
                 "Listendateien in zwei Rollen, Schleifen von Weiterleitungen und mehr). Ende "
                 "mit 0 ohne Befund, 1 bei Warnungen, 2 bei kritischen Befunden.",
         .example = "check --format=json",
         .options = {"format", "host-name"},
         .handler = Check},
        {.words = "set",
         .usage = "DATEI SCHLÜSSEL WERT",
         .help = "Setzt einen Schlüssel einer Konfigurationsdatei, ein leerer WERT entfernt ihn. "
                 "Zeigt eine Seite des Konfigurationsprogramms den Schlüssel, gelten ihre "
                 "Grenzen; ein Verzeichnis wird in alle Dateien geschrieben, die es kennen, "
                 "eine Regel von \"smarthosts\" (Schlüssel Domain oder <Domain) wie im "
                 "Regel-Dialog geprüft. Einen Schlüssel, den keine Seite kennt, setzt nur "
                 "--force.",
         .example = "set smtpd.cfg MaxThreads 12",
         .minArgs = 3,
         .maxArgs = 3,
         .options = {"force"},
         .changes = true,
         .handler = Set,
         .completes = "@setfile"},
        {.words = "trace",
         .usage = "ADRESSE",
         .help = "Zeigt Schritt für Schritt, wohin eine Mail an die Adresse geht, und welcher "
                 "Eintrag jeden Schritt entscheidet. Ende mit 1, wenn die Mail abgewiesen würde "
                 "oder in einer Schleife kreist.",
         .example = "trace info@example.com",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"format"},
         .handler = Trace},
        {.words = "export",
         .usage = "accounts|aliases",
         .help = "Schreibt die Mailkonten (Adresse, Quota in MB, größte Mail in KB, "
                 "Envelope-Header; nie das Kennwort) oder die Weiterleitungen als CSV (UTF-8) "
                 "auf die Standardausgabe oder in die Datei; --bom setzt die Markierung, an der "
                 "Tabellenprogramme UTF-8 erkennen.",
         .example = "export accounts --output konten.csv --bom",
         .minArgs = 1,
         .maxArgs = 1,
         .options = {"format", "output", "bom"},
         .handler = Export,
         .completes = "accounts|aliases"},
        {.words = "import",
         .usage = "accounts|aliases DATEI.csv",
         .help = "Legt Mailkonten (Spalten address, password, quota_mb, maxsize_kb, "
                 "save_envelope) oder Weiterleitungen (Spalten alias, target) aus einer "
                 "CSV-Datei an; ein vorhandenes Konto wird geändert, ein leeres Kennwort lässt "
                 "seines. Jede Zeile wird wie im Konfigurationsprogramm geprüft; eine abgelehnte "
                 "Zeile hält die anderen nicht auf, außer mit --all-or-nothing. --dry-run zeigt "
                 "nur, was geschähe, mit --diff auch die Unterschiede der Dateien. "
                 "Trennzeichen Komma oder Semikolon, Text in UTF-8 oder Windows-1252.",
         .example = "import accounts neu.csv --dry-run",
         .minArgs = 2,
         .maxArgs = 2,
         .options = {"diff", "all-or-nothing"},
         .changes = true,
         .handler = Import,
         .completes = "accounts|aliases @files"},
        {.words = "get",
         .usage = "DATEI SCHLÜSSEL",
         .help = "Zeigt den Wert eines Schlüssels einer Konfigurationsdatei.",
         .example = "get smtpd.cfg Interface",
         .minArgs = 2,
         .maxArgs = 2,
         .handler = Get,
         .completes = "@setfile"},
        {.words = "backup list",
         .usage = "",
         .help = "Zeigt die Sicherungen im Ordner \"backup.cfg\", die neueste zuerst: je "
                 "Speichern einen Zeitpunkt (die ID, mit der die anderen backup-Befehle ihn "
                 "nennen) mit den gesicherten Dateien und ihren Größen. Jede Kopie zeigt eine "
                 "Datei, wie sie vor dem Speichern war.",
         .example = "backup list --format=json",
         .options = {"format"},
         .handler = BackupList,
         .withoutSet = true},
        {.words = "backup show",
         .usage = "ID [DATEI]",
         .help = "Zeigt, was sich an den heutigen Dateien ändern würde, wenn die Sicherung ID "
                 "wiederhergestellt würde (als Unified Diff), für alle ihre Dateien oder eine.",
         .example = "backup show 261209-101500 smtpd.cfg",
         .minArgs = 1,
         .maxArgs = 2,
         .handler = BackupShow,
         .withoutSet = true},
        {.words = "backup restore",
         .usage = "ID [DATEI...]",
         .help = "Stellt die Dateien der Sicherung ID wieder her, alle oder die genannten, wie "
                 "ein Speichern: zuerst werden die heutigen Dateien gesichert (als neuer "
                 "Zeitpunkt, so dass sich die Wiederherstellung rückgängig machen lässt), dann "
                 "werden alle ersetzt oder, wenn eine nicht geschrieben werden kann, keine; "
                 "danach werden die laufenden Dienste neu gestartet, außer mit --no-restart. "
                 "--dry-run zeigt nur die Unterschiede.",
         .example = "backup restore 261209-101500 smtpd.cfg",
         .minArgs = 1,
         .maxArgs = 20,
         .changes = true,
         .handler = BackupRestore,
         .withoutSet = true},
        {.words = "backup prune",
         .usage = "",
         .help = "Löscht alte Sicherungen: mit --keep alle außer den ANZAHL neuesten, mit "
                 "--older-than die älter als TAGE Tage, mit beiden nur die, auf die beides "
                 "zutrifft. Die neueste Sicherung bleibt immer. --dry-run zeigt nur, was "
                 "gelöscht würde.",
         .example = "backup prune --keep 60 --older-than 30",
         .options = {"keep", "older-than"},
         .changes = true,
         .handler = BackupPrune,
         .withoutSet = true},
    };
    return commands;
}

// The first line of text, without its line end.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// "%1", "%2", "%3" of text replaced by the arguments.
std::string DoneText(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size() && i < 9; ++i) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), args[i]);
    }
    return text;
}

// What a command changed in the set, so that its exit status can say whether its change reached
// the disk: the maps by their version, the domain lists by their entries, and "aliases" also
// when the command set account folders aside, whose deletion waits for its save.
class CChangeProbe {
public:
    void Before(CConfigSet& set) {
        m_versions.clear();
        for (const CConfigSet::File& file : set.Files())
            m_versions.push_back(file.map ? file.map->GetVersion() : 0);
        m_domains = set.domains;
        m_backupDomains = set.backupDomains;
    }
    void After(CConfigSet& set) {
        const auto files = set.Files();
        m_changed.clear();
        for (std::size_t i = 0; i < files.size(); ++i) {
            const CConfigSet::File& file = files[i];
            bool changed = false;
            if (file.map)
                changed = file.map->GetVersion() != m_versions[i] ||
                          (file.map == &set.aliases && !set.pendingRemovals.empty());
            else
                changed = !SameEntries(*file.list, file.list == &set.domains ? m_domains
                                                                              : m_backupDomains);
            if (changed)
                m_changed.push_back(file.Object());
        }
    }
    bool Changed(const void* object) const {
        return std::find(m_changed.begin(), m_changed.end(), object) != m_changed.end();
    }

private:
    static bool SameEntries(const CStringListEx& a, const CStringListEx& b) {
        if (a.GetCount() != b.GetCount())
            return false;
        for (auto pa = a.GetHeadPosition(), pb = b.GetHeadPosition(); pa && pb;)
            if (a.GetNext(pa) != b.GetNext(pb))
                return false;
        return true;
    }

    std::vector<std::uint64_t> m_versions;
    CStringListEx m_domains;
    CStringListEx m_backupDomains;
    std::vector<const void*> m_changed;
};

// Runs the handler on the loaded set: the sheet of the command line.
class CCommandSheet : public CSheet {
public:
    CCommandSheet(const Command& command, const Invocation& call, Streams& io,
                  CBatchPrompter& prompter, std::string password)
        : m_command(command), m_call(call), m_io(io), m_prompter(prompter),
          m_password(std::move(password)) {}

    bool Run(CConfigSet& set, CPrompter&) override {
        // What the load said has been said; a command fails for what goes wrong in it.
        m_prompter.ClearError();
        Context context{set, m_prompter, m_call, m_io, m_password};
        const bool dryRun = m_command.changes && m_call.Has("dry-run");
        set.dryRun = dryRun;
        if (m_command.changes)
            m_probe.Before(set);
        m_status = m_command.handler(context);
        m_done = context.done.empty() && m_command.done
                     ? DoneText(m_command.done, m_call.args)
                     : context.done;
        if (m_prompter.HadError())
            m_status = kFailed;
        if (m_command.changes)
            m_probe.After(set);
        const bool wouldSave = context.save || dryRun;
        if (dryRun && wouldSave && (m_status == kOk || context.saveAnyway) &&
            (m_call.Has("diff") || m_command.handler != Import)) {
            // What the save would write, from the same bytes it would write.
            const auto changes = preview::OfSet(set);
            const std::string report = preview::Report(changes, set.journal);
            m_io.out << (report.empty() ? std::string("Keine Änderung.\n") : Utf8(report));
        }
        if (dryRun) {
            // The diff first, whole, then the note, even when both go to one file.
            m_io.out << std::flush;
            if (m_command.handler != Import)
                m_io.err << "Probelauf, nichts geschrieben.\n";
            return false;
        }
        return m_command.changes && context.save && (m_status == kOk || context.saveAnyway);
    }
    int Status() const { return m_status; }
    // The line that says what the command did, once it is on disk (UTF-8), or nothing.
    const std::string& Done() const { return m_done; }
    // Whether the handler changed the object of a file of the set.
    bool Changed(const void* object) const { return m_probe.Changed(object); }

private:
    const Command& m_command;
    const Invocation& m_call;
    Streams& m_io;
    CBatchPrompter& m_prompter;
    std::string m_password;
    int m_status = kFailed;
    std::string m_done;
    CChangeProbe m_probe;
};

// The status of a command whose set was saved: 0 when everything it changed reached the disk
// and nothing else went wrong, 1 when some of its change did not, 3 when its change is on disk
// but another file could not be written or a service not restarted.
int SavedStatus(const CCommandSheet& sheet, CQuibrelApp& app, CBatchPrompter& prompter,
                Streams& io) {
    if (sheet.Status() != kOk)
        return sheet.Status();
    const auto files = app.set().Files();
    const auto& results = app.SaveResults();
    bool othersFailed = prompter.HadError();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool written = results[i] == CQuibrelApp::FileSave::Saved;
        if (sheet.Changed(files[i].Object()) && !written) {
            io.err << "Fehler: Die Änderung ist nicht gespeichert (" << files[i].name
                   << "); ein erneuter Aufruf ist richtig.\n";
            return kFailed;
        }
        othersFailed = othersFailed || results[i] == CQuibrelApp::FileSave::Failed ||
                       results[i] == CQuibrelApp::FileSave::Kept;
    }
    if (!othersFailed)
        return kOk;
    io.err << "Warnung: Die Änderung ist gespeichert, aber nicht alles ist gelungen (siehe "
              "oben); ein erneuter Aufruf ist nicht nötig.\n";
    return kSavedWithErrors;
}


// The domains of the set for the shell's completion: the folder named on the command line, or
// MAILCONFIGDIR. Only the two small domain lists are read.
std::vector<std::string> CompletionDomains(const std::vector<std::string>& words) {
    std::optional<std::string> directory = platform::GetEnvironment("MAILCONFIGDIR");
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i].starts_with("--config-dir="))
            directory = words[i].substr(13);
        else if ((words[i] == "--config-dir" || words[i] == "-c") && i + 2 < words.size())
            directory = words[i + 1];
    }
    std::vector<std::string> domains;
    if (!directory)
        return domains;
    for (const char* name : {"domains", "backupdomains"}) {
        CStorableList list;
        if (!list.Load(PathJoin(*directory, name)))
            continue;
        for (CStringListEx::POSITION p = list.GetHeadPosition(); p;)
            domains.push_back(Utf8(list.GetNext(p)));
    }
    return domains;
}

// The password of a command that takes one: from the file named, from a terminal without
// echo (a new one twice), or the first line of standard input. Nothing after the message.
std::optional<std::string> ReadPassword(const Invocation& call, Streams& io) {
    std::string text;
    if (const auto file = call.Value("password-file")) {
        if (!platform::ReadWholeFile(*file, text)) {
            io.err << "Fehler: Die Kennwortdatei \"" << *file << "\" kann nicht gelesen werden.\n";
            return std::nullopt;
        }
    } else if (io.interactive) {
        const auto first = platform::ReadHiddenLine("Kennwort: ");
        const auto again = first ? platform::ReadHiddenLine("Kennwort wiederholen: ") : first;
        if (!again) {
            io.err << "Fehler: Es wurde kein Kennwort eingegeben; es wurde nichts geändert.\n";
            return std::nullopt;
        }
        if (*first != *again) {
            io.err << "Fehler: Die beiden Kennwörter stimmen nicht überein; es wurde nichts "
                      "geändert.\n";
            return std::nullopt;
        }
        text = *first;
    } else {
        std::getline(io.in, text);
    }
    bool representable = true;
    std::string password = ansi::FromUtf8(FirstLine(text), &representable);
    if (!representable) {
        io.err << "Fehler: Das Kennwort enthält Zeichen, die nicht in Windows-1252 "
                  "darstellbar sind.\n";
        return std::nullopt;
    }
    return password;
}

} // namespace

int Run(const std::vector<std::string>& arguments, Streams io) {
    if (!arguments.empty() && arguments[0] == "__complete") {
        // For the shell's completion: the words after it, the one being completed last.
        std::vector<std::string> words(arguments.begin() + 1, arguments.end());
        if (!words.empty() && words[0] == "--")
            words.erase(words.begin());
        Complete(io.out, Commands(), words, CompletionDomains);
        return kOk;
    }
    const Parsed parsed = ParseCommandLine(Commands(), arguments);
    switch (parsed.kind) {
    case Parsed::Kind::Version:
        PrintVersion(io.out);
        return kOk;
    case Parsed::Kind::HelpAll:
        PrintAllHelp(io.out, Commands());
        return kOk;
    case Parsed::Kind::Help:
        if (parsed.command)
            PrintHelp(io.out, *parsed.command);
        else
            PrintOverview(io.out, Commands());
        return kOk;
    case Parsed::Kind::Usage:
        io.err << "Fehler: " << parsed.error << '\n';
        if (parsed.command)
            io.err << "Aufruf: " << UsageLine(*parsed.command) << "\n\"korvanectl "
                   << parsed.command->words << " --help\" beschreibt den Befehl.\n";
        else
            io.err << "\"korvanectl --help\" zeigt die Befehle.\n";
        return kUsage;
    case Parsed::Kind::Run:
        break;
    }
    const Command* command = parsed.command;
    const Invocation& call = parsed.call;
    if (const auto wait = call.Value("wait");
        wait && (wait->empty() || wait->size() > 4 ||
                 wait->find_first_not_of("0123456789") != std::string::npos)) {
        io.err << "Fehler: --wait braucht eine Zahl von Sekunden (--wait=10).\n";
        return kUsage;
    }
    if (const auto directory = call.Value("config-dir"))
        (void)platform::SetEnvironment("MAILCONFIGDIR", *directory);
    const auto directory = platform::GetEnvironment("MAILCONFIGDIR");
    const auto status = directory ? platform::StatPath(*directory) : std::nullopt;
    if (!status || !status->isDirectory) {
        io.err << "Fehler: Kein Konfigurationsverzeichnis. Setzen Sie MAILCONFIGDIR oder geben "
                  "Sie --config-dir=VERZEICHNIS an"
               << (directory ? " (\"" + *directory + "\" ist kein Verzeichnis)" : std::string())
               << ".\n";
        return kFailed;
    }

    std::string password;
    const bool wantsPassword = command->password == Command::kPassword ||
                               (command->password == Command::kPasswordIfAsked &&
                                (call.Has("password-file") || call.Has("password-stdin")));
    if (wantsPassword) {
        const auto read = ReadPassword(call, io);
        if (!read)
            return kFailed;
        password = *read;
    }

    const bool dryRun = command->changes && call.Has("dry-run");
    if (command->withoutSet) {
        if (command->changes && !dryRun && !platform::IsAdministrator()) {
            io.err << "Fehler: Nur ein Administrator darf die Konfiguration ändern.\n";
            return kFailed;
        }
        CBatchPrompter prompter(io.err);
        CConfigSet none;
        Context context{none, prompter, call, io, {}};
        const int status = command->handler(context);
        return status == kOk && prompter.HadError() ? kFailed : status;
    }

    CBatchPrompter prompter(io.err);
    CCommandSheet sheet(*command, call, io, prompter, std::move(password));
    auto services = platform::CreateServiceManager();
    CAppEnvironment environment{
        prompter,
        *services,
        sheet,
        command->changes && !dryRun ? std::function<bool()>(platform::IsAdministrator)
                                    : std::function<bool()>([] { return true; }),
        [] { return 0; },
        [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }};
    environment.restartServices = !call.Has("no-restart");
    // A script must not overwrite what another program saved meanwhile, nor wait for ever.
    environment.changedFiles = CAppEnvironment::ChangedFiles::Refuse;
    // Account folders are written while the command runs, before the set is saved; a save of
    // another program in between would make ours refuse and leave them without their aliases.
    environment.lockThroughout = command->changes && !dryRun;
    if (const auto wait = call.Value("wait"))
        environment.lockTimeout = std::chrono::seconds(std::atoi(wait->c_str()));
    CQuibrelApp app(std::move(environment));
    switch (app.Run("")) {
    case AppOutcome::Saved: {
        const int saved = SavedStatus(sheet, app, prompter, io);
        if ((saved == kOk || saved == kSavedWithErrors) && !sheet.Done().empty())
            io.out << sheet.Done() << '\n';
        return saved;
    }
    case AppOutcome::Cancelled:
        return sheet.Status();
    default: // no rights, or a save refused for another program's sake
        return kFailed;
    }
}

} // namespace ctl
