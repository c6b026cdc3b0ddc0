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

// A string for JSON, from UTF-8.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + '"';
}

namespace {

struct Command {
    const char* words; // "domain add"
    const char* usage; // the arguments after the words
    const char* help;  // UTF-8
    std::size_t minArgs;
    std::size_t maxArgs;
    std::vector<std::string> options; // besides the global ones
    bool changes;                     // saves the set and restarts the services
    enum Password { kNoPassword, kPassword, kPasswordIfAsked } password;
    int (*handler)(Context&);
    // Works on the backup folder alone: the set is not loaded, and the command takes the lock
    // and restarts the services itself where it needs to.
    bool withoutSet = false;
};

// The options every command takes; "dry-run" only the commands that change something.
const char* const kGlobalOptions[] = {"config-dir", "no-restart", "wait", "help"};

// --- Handlers ----------------------------------------------------------------------------------

int DomainList(Context& c) {
    for (CStringListEx::POSITION p = c.set.domains.GetHeadPosition(); p;)
        c.io.out << Utf8(c.set.domains.GetNext(p)) << "\tlokal\n";
    for (CStringListEx::POSITION p = c.set.backupDomains.GetHeadPosition(); p;)
        c.io.out << Utf8(c.set.backupDomains.GetNext(p)) << "\tBackup-MX\n";
    return kOk;
}

int DomainAdd(Context& c) {
    const auto name = FromArgument(c, c.call.args[0]);
    if (!name)
        return kFailed;
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

// Lists the address rows of domain (the root for none) whose icon is one of icons.
int ListRows(Context& c, const std::vector<int>& icons) {
    std::optional<std::string> domain;
    if (!c.call.args.empty() && !(domain = FromArgument(c, c.call.args[0])))
        return kFailed;
    DomainsPage domains(c);
    if (!domains.SelectDomain(domain.value_or("")))
        return NoSuchDomain(c, *domain);
    const CAddressRows& rows = domains.page.Rows();
    for (std::size_t row = 0; row < rows.RowCount(); ++row) {
        if (std::find(icons.begin(), icons.end(), rows.RowIcon(row)) != icons.end())
            c.io.out << Utf8(rows.Address(row)) << '\t' << Utf8(rows.Target(row)) << '\n';
    }
    return c.prompter.HadError() ? kFailed : kOk;
}

int AccountList(Context& c) {
    return ListRows(c, {CAddressRows::kAccount});
}

int AliasList(Context& c) {
    return ListRows(c, {CAddressRows::kForward, CAddressRows::kCatchAll});
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

int AliasAdd(Context& c) {
    DomainsPage domains(c);
    const auto text = SelectDomainOf(c, domains, c.call.args[0]);
    const auto target = text ? FromArgument(c, c.call.args[1]) : std::nullopt;
    if (!target)
        return kFailed;
    const Address address = SplitAddress(*text);
    CAddAliasDlg dialog(address.domain.empty() ? std::string("*") : domains.page.SelectedName());
    dialog.SetValue(CAddAliasDlg::kLocalPart, address.local);
    dialog.SetValue(CAddAliasDlg::kTarget, *target);
    if (!TakeFilled(dialog, c.prompter) || !dialog.OnOk(c.prompter))
        return kFailed;
    // The page asks before an address is led elsewhere; a script has said so beforehand or
    // changes nothing.
    if (!domains.page.AddAliasFrom(dialog, c.prompter, false, c.call.Has("replace"))) {
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
    const auto format = c.call.Value("format").value_or("text");
    if (format != "text" && format != "json")
        return Refuse(c, "Unbekanntes Format \"" + format + "\" (text oder json).");
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
    if (format == "json") {
        const char* const kJsonStates[] = {"ok", "warning", "critical"};
        c.io.out << "{\"status\":\"" << kJsonStates[status] << "\",\"critical\":" << critical
                 << ",\"warnings\":" << warnings << ",\"findings\":[";
        for (std::size_t i = 0; i < findings.size(); ++i) {
            const CFinding& f = findings[i];
            c.io.out << (i ? "," : "") << "{\"severity\":\""
                     << (f.severity == Severity::Critical ? "critical" : "warning")
                     << "\",\"code\":" << JsonString(f.code) << ",\"file\":" << JsonString(f.file)
                     << ",\"key\":" << JsonString(f.key) << ",\"text\":" << JsonString(f.text)
                     << "}";
        }
        c.io.out << "]}\n";
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
    const CTrace trace = TraceAddress(c.set, *address);
    for (std::size_t i = 0; i < trace.steps.size(); ++i)
        c.io.out << i + 1 << ". " << trace.steps[i].text << "\n   (" << trace.steps[i].decidedBy
                 << ")\n";
    return trace.end == CTrace::End::Account || trace.end == CTrace::End::Outgoing ? kOk : kFailed;
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
        {"domain list",
         "",
         "Zeigt die lokalen Domains und die Backup-MX-Domains.",
         0,
         0,
         {},
         false,
         Command::kNoPassword,
         DomainList},
        {"domain add",
         "DOMAIN [--backup]",
         "Legt eine lokale Domain an, mit --backup eine Backup-MX-Domain.",
         1,
         1,
         {"backup"},
         true,
         Command::kNoPassword,
         DomainAdd},
        {"domain remove",
         "DOMAIN --yes",
         "Entfernt eine Domain. Ihre Adressen bleiben in \"aliases\" und entfallen beim "
         "nächsten Laden. Ohne --yes wird in einem Terminal nachgefragt, sonst nichts "
         "gelöscht.",
         1,
         1,
         {"yes"},
         true,
         Command::kNoPassword,
         DomainRemove},
        {"account list",
         "[DOMAIN]",
         "Zeigt die Adressen der Mailkonten einer Domain, ohne DOMAIN die Konten ohne "
         "Adresse in einer Domain.",
         0,
         1,
         {},
         false,
         Command::kNoPassword,
         AccountList},
        {"account add",
         "ADRESSE [--password-file=DATEI]",
         "Legt ein Mailkonto an. Das Kennwort steht in der ersten Zeile der Datei oder, ohne "
         "--password-file, der Standardeingabe; auf der Befehlszeile sähen es andere Benutzer. "
         "Gibt es den Ordner des Kontos schon, ohne dass eine Adresse dorthin führt (was ein "
         "abgebrochener Lauf hinterlässt), wird er übernommen: Kennwort und Einstellungen neu, "
         "die Mails bleiben. Führt die Adresse schon woandershin (eine Weiterleitung), wird "
         "nichts angelegt.",
         1,
         1,
         {"password-file"},
         true,
         Command::kPassword,
         AccountAdd},
        {"account change",
         "ADRESSE [--password-file=DATEI | --password-stdin] [--quota-mb=N] [--maxsize-kb=N] "
         "[--save-envelope=0|1]",
         "Ändert ein Mailkonto: das Kennwort (aus der Datei oder der Standardeingabe), das "
         "Speicherplatzlimit in MB, die größte Mail in KB (0 schaltet ein Limit ab) und ob die "
         "Envelope-Header erhalten bleiben. Was nicht angegeben ist, bleibt.",
         1,
         1,
         {"password-file", "password-stdin", "quota-mb", "maxsize-kb", "save-envelope"},
         true,
         Command::kPasswordIfAsked,
         AccountChange},
        {"account remove",
         "ADRESSE --yes",
         "Löscht ein Mailkonto mit seinem Postfach. Das Postfach wird erst gelöscht, wenn die "
         "Konfiguration ohne das Konto gespeichert ist; scheitert das Speichern, bleibt es, wo "
         "es war. Ohne --yes wird in einem Terminal nachgefragt, sonst nichts gelöscht.",
         1,
         1,
         {"yes"},
         true,
         Command::kNoPassword,
         AccountRemove},
        {"alias list",
         "[DOMAIN]",
         "Zeigt die Weiterleitungen einer Domain, ohne DOMAIN die ohne Domain.",
         0,
         1,
         {},
         false,
         Command::kNoPassword,
         AliasList},
        {"alias add",
         "ADRESSE ZIEL [--replace]",
         "Legt eine Weiterleitung oder ein Alias an. Führt die Adresse schon woandershin (zu "
         "einem Mailkonto oder einer anderen Weiterleitung), wird nichts geändert, außer mit "
         "--replace: dann führt sie nur noch zum neuen Ziel.",
         2,
         2,
         {"replace"},
         true,
         Command::kNoPassword,
         AliasAdd},
        {"alias remove",
         "ADRESSE --yes",
         "Löscht eine Weiterleitung. Ohne --yes wird in einem Terminal nachgefragt, sonst "
         "nichts gelöscht.",
         1,
         1,
         {"yes"},
         true,
         Command::kNoPassword,
         AliasRemove},
        {"check",
         "[--format=text|json] [--host-name=NAME]",
         "Prüft die Konfiguration auf Fehler und Gefahren (offenes Relay, Ports doppelt belegt, "
         "fehlende oder abgelaufene Zertifikate, fehlende Verzeichnisse, Listendateien in zwei "
         "Rollen, Schleifen von Weiterleitungen und mehr). Ende "
         "mit 0 ohne Befund, 1 bei Warnungen, 2 bei kritischen Befunden.",
         0,
         0,
         {"format", "host-name"},
         false,
         Command::kNoPassword,
         Check},
        {"set",
         "DATEI SCHLÜSSEL WERT [--force]",
         "Setzt einen Schlüssel einer Konfigurationsdatei, ein leerer WERT entfernt ihn. Zeigt "
         "eine Seite des Konfigurationsprogramms den Schlüssel, gelten ihre Grenzen; ein "
         "Verzeichnis wird in alle Dateien geschrieben, die es kennen, eine Regel von "
         "\"smarthosts\" (Schlüssel Domain oder <Domain) wie im Regel-Dialog geprüft. Einen "
         "Schlüssel, den keine Seite kennt, setzt nur --force.",
         3,
         3,
         {"force"},
         true,
         Command::kNoPassword,
         Set},
        {"trace",
         "ADRESSE",
         "Zeigt Schritt für Schritt, wohin eine Mail an die Adresse geht, und welcher Eintrag "
         "jeden Schritt entscheidet. Ende mit 1, wenn die Mail abgewiesen würde oder in einer "
         "Schleife kreist.",
         1,
         1,
         {},
         false,
         Command::kNoPassword,
         Trace},
        {"export",
         "accounts|aliases [--output=DATEI] [--bom]",
         "Schreibt die Mailkonten (Adresse, Quota in MB, größte Mail in KB, Envelope-Header; nie "
         "das Kennwort) oder die Weiterleitungen als CSV (UTF-8) auf die Standardausgabe oder "
         "in die Datei; --bom setzt die Markierung, an der Tabellenprogramme UTF-8 erkennen.",
         1,
         1,
         {"format", "output", "bom"},
         false,
         Command::kNoPassword,
         Export},
        {"import",
         "accounts|aliases DATEI.csv [--dry-run [--diff]] [--all-or-nothing]",
         "Legt Mailkonten (Spalten address, password, quota_mb, maxsize_kb, save_envelope) "
         "oder Weiterleitungen (Spalten alias, target) aus einer CSV-Datei an; ein vorhandenes "
         "Konto wird geändert, ein leeres Kennwort lässt seines. Jede Zeile wird wie im "
         "Konfigurationsprogramm geprüft; eine abgelehnte Zeile hält die anderen nicht auf, "
         "außer mit --all-or-nothing. --dry-run zeigt nur, was geschähe, mit --diff auch die "
         "Unterschiede der Dateien. Trennzeichen Komma "
         "oder Semikolon, Text in UTF-8 oder Windows-1252.",
         2,
         2,
         {"diff", "all-or-nothing"},
         true,
         Command::kNoPassword,
         Import},
        {"get",
         "DATEI SCHLÜSSEL",
         "Zeigt den Wert eines Schlüssels einer Konfigurationsdatei.",
         2,
         2,
         {},
         false,
         Command::kNoPassword,
         Get},
        {"backup list",
         "[--format=text|json]",
         "Zeigt die Sicherungen im Ordner \"backup.cfg\", die neueste zuerst: je Speichern "
         "einen Zeitpunkt (die ID, mit der die anderen backup-Befehle ihn nennen) mit den "
         "gesicherten Dateien und ihren Größen. Jede Kopie zeigt eine Datei, wie sie vor dem "
         "Speichern war.",
         0,
         0,
         {"format"},
         false,
         Command::kNoPassword,
         BackupList,
         true},
        {"backup show",
         "ID [DATEI]",
         "Zeigt, was sich an den heutigen Dateien ändern würde, wenn die Sicherung ID "
         "wiederhergestellt würde (als Unified Diff), für alle ihre Dateien oder eine.",
         1,
         2,
         {},
         false,
         Command::kNoPassword,
         BackupShow,
         true},
        {"backup restore",
         "ID [DATEI...] [--dry-run]",
         "Stellt die Dateien der Sicherung ID wieder her, alle oder die genannten, wie ein "
         "Speichern: zuerst werden die heutigen Dateien gesichert (als neuer Zeitpunkt, so dass "
         "sich die Wiederherstellung rückgängig machen lässt), dann werden alle ersetzt oder, "
         "wenn eine nicht geschrieben werden kann, keine; danach werden die laufenden Dienste "
         "neu gestartet, außer mit --no-restart. --dry-run zeigt nur die Unterschiede.",
         1,
         20,
         {},
         true,
         Command::kNoPassword,
         BackupRestore,
         true},
        {"backup prune",
         "[--keep=ANZAHL] [--older-than=TAGE] [--dry-run]",
         "Löscht alte Sicherungen: mit --keep alle außer den ANZAHL neuesten, mit --older-than "
         "die älter als TAGE Tage, mit beiden nur die, auf die beides zutrifft. Die neueste "
         "Sicherung bleibt immer. --dry-run zeigt nur, was gelöscht würde.",
         0,
         0,
         {"keep", "older-than"},
         true,
         Command::kNoPassword,
         BackupPrune,
         true},
    };
    return commands;
}

void PrintOverview(std::ostream& out) {
    out << "Aufruf: korvanectl [--config-dir=VERZEICHNIS] [--no-restart] [--wait=SEKUNDEN] BEFEHL "
           "[ARGUMENTE]\n\n"
           "Bearbeitet die Konfiguration des Korvane MailServer 4.0 im Verzeichnis aus "
           "MAILCONFIGDIR\n(oder --config-dir) mit denselben Regeln wie das "
           "Konfigurationsprogramm.\n\nBefehle:\n";
    for (const Command& command : Commands())
        out << "  " << command.words << (*command.usage ? " " : "") << command.usage << '\n';
    out << "\nJeder Befehl, der etwas ändert, zeigt mit --dry-run nur, was er ändern würde (als "
           "Unified Diff), und schreibt nichts.\n";
    out << "\n\"korvanectl BEFEHL --help\" beschreibt einen Befehl. Ende mit 0 bei Erfolg, 1 "
           "bei einer Ablehnung oder einem Fehler (die Änderung ist dann nicht gespeichert), 2 "
           "bei falschem Aufruf, 3 wenn die Änderung gespeichert ist, aber eine andere Datei "
           "nicht geschrieben werden konnte oder ein Dienst nicht neu startete.\n";
}

void PrintHelp(std::ostream& out, const Command& command) {
    out << "Aufruf: korvanectl " << command.words << (*command.usage ? " " : "") << command.usage
        << "\n\n"
        << command.help << "\n";
    if (command.changes && command.withoutSet)
        out << "\nMit --dry-run wird nichts geschrieben.\n";
    if (command.changes && !command.withoutSet)
        out << "\nMit --dry-run wird nichts geschrieben: der Befehl zeigt als Unified Diff, was "
               "er an den Dateien ändern würde, und welche Kontoordner er anlegen, ändern oder "
               "löschen würde.\n"
               "\nDie Konfiguration wird wie mit \"OK\" gespeichert (mit Sicherungskopien), "
               "danach werden die laufenden Dienste neu gestartet, außer mit --no-restart. "
               "Speichert gerade ein anderes Programm, wird bis zu 10 Sekunden (--wait) "
               "gewartet, bevor etwas geändert wird; bis zum Speichern kann dann kein anderes "
               "Programm speichern. Hat ein Programm, das nicht wartet, seit dem Laden eine "
               "Datei geändert, wird nichts gespeichert. Ende mit 0, wenn die Änderung "
               "gespeichert ist; mit 1, wenn nicht (ein erneuter Aufruf ist dann richtig); mit 3, "
               "wenn sie gespeichert ist, aber eine andere Datei der Konfiguration nicht "
               "geschrieben werden konnte oder ein Dienst den Neustart nicht annahm (die Meldungen "
               "nennen sie).\n";
}

int Usage(Streams& io, const std::string& text, const Command* command = nullptr) {
    io.err << "Fehler: " << text << '\n';
    if (command)
        io.err << "Aufruf: korvanectl " << command->words << (*command->usage ? " " : "")
               << command->usage << '\n';
    else
        io.err << "\"korvanectl --help\" zeigt die Befehle.\n";
    return kUsage;
}

// The command the words at the start of arguments name; how many words it took.
const Command* FindCommand(const std::vector<std::string>& words, std::size_t& taken) {
    for (const Command& command : Commands()) {
        const std::string name = command.words;
        const std::size_t space = name.find(' ');
        if (space == std::string::npos) {
            if (!words.empty() && words[0] == name) {
                taken = 1;
                return &command;
            }
        } else if (words.size() >= 2 && words[0] == name.substr(0, space) &&
                   words[1] == name.substr(space + 1)) {
            taken = 2;
            return &command;
        }
    }
    return nullptr;
}

// The first line of text, without its line end.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
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
    // Whether the handler changed the object of a file of the set.
    bool Changed(const void* object) const { return m_probe.Changed(object); }

private:
    const Command& m_command;
    const Invocation& m_call;
    Streams& m_io;
    CBatchPrompter& m_prompter;
    std::string m_password;
    int m_status = kFailed;
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

} // namespace

int Run(const std::vector<std::string>& arguments, Streams io) {
    Invocation call;
    std::vector<std::string> words;
    bool optionsEnd = false;
    for (const std::string& argument : arguments) {
        if (!optionsEnd && argument == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && argument.size() > 2 && argument.starts_with("--")) {
            const std::size_t equals = argument.find('=');
            const std::string name = argument.substr(2, equals - 2);
            call.options[name] = equals == std::string::npos
                                     ? std::nullopt
                                     : std::optional<std::string>(argument.substr(equals + 1));
        } else {
            words.push_back(argument);
        }
    }
    if (words.empty() || (words.size() == 1 && words[0] == "help")) {
        if (words.empty() && !call.Has("help"))
            return Usage(io, "Kein Befehl angegeben.");
        PrintOverview(io.out);
        return kOk;
    }
    std::size_t taken = 0;
    const Command* command = FindCommand(words, taken);
    if (!command)
        return Usage(io, "Unbekannter Befehl \"" + words[0] +
                             (words.size() > 1 && (words[0] == "domain" || words[0] == "account" ||
                                                   words[0] == "alias" || words[0] == "backup")
                                  ? " " + words[1]
                                  : std::string()) +
                             "\".");
    for (const auto& [name, value] : call.options) {
        const bool global = std::find(std::begin(kGlobalOptions), std::end(kGlobalOptions), name) !=
                            std::end(kGlobalOptions);
        if (!global && !(name == "dry-run" && command->changes) &&
            std::find(command->options.begin(), command->options.end(), name) ==
                command->options.end())
            return Usage(io, "Unbekannte Option \"--" + name + "\".", command);
    }
    if (call.Has("help")) {
        PrintHelp(io.out, *command);
        return kOk;
    }
    call.args.assign(words.begin() + static_cast<std::ptrdiff_t>(taken), words.end());
    if (call.args.size() < command->minArgs)
        return Usage(io, "Zu wenige Argumente.", command);
    if (call.args.size() > command->maxArgs)
        return Usage(io, "Zu viele Argumente.", command);
    for (const char* valued : {"config-dir", "password-file", "format", "host-name", "wait",
                               "output", "quota-mb", "maxsize-kb", "save-envelope", "keep",
                               "older-than"})
        if (call.Has(valued) && !call.Value(valued))
            return Usage(io,
                         std::string("Die Option \"--") + valued + "\" braucht einen Wert (--" +
                             valued + "=...).",
                         command);

    if (const auto wait = call.Value("wait");
        wait && (wait->empty() || wait->size() > 4 ||
                 wait->find_first_not_of("0123456789") != std::string::npos))
        return Usage(io, "--wait braucht eine Zahl von Sekunden (--wait=10).", command);
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
        std::string text;
        if (const auto file = call.Value("password-file")) {
            if (!platform::ReadWholeFile(*file, text)) {
                io.err << "Fehler: Die Kennwortdatei \"" << *file
                       << "\" kann nicht gelesen werden.\n";
                return kFailed;
            }
        } else {
            std::getline(io.in, text);
        }
        bool representable = true;
        password = ansi::FromUtf8(FirstLine(text), &representable);
        if (!representable) {
            io.err << "Fehler: Das Kennwort enthält Zeichen, die nicht in Windows-1252 "
                      "darstellbar sind.\n";
            return kFailed;
        }
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
    case AppOutcome::Saved:
        return SavedStatus(sheet, app, prompter, io);
    case AppOutcome::Cancelled:
        return sheet.Status();
    default: // no rights, or a save refused for another program's sake
        return kFailed;
    }
}

} // namespace ctl
