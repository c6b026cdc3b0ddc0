// Accounts and aliases to and from CSV files. Every row of an import goes through the dialogs
// and operations of the domains page, so a row is refused exactly where the page would refuse
// it; the page's list is not rebuilt per row, which keeps large imports linear.
#include "ctl/Context.h"
#include "ctl/Csv.h"

#include "accounts/AccountStore.h"
#include "pages/AccountDialogs.h"
#include "platform/FileSystem.h"

#include <set>
#include <sstream>

namespace ctl {
namespace {

enum Column : std::size_t { kAddress = 0, kPassword, kQuota, kMaxSize, kSaveEnvelope };
const std::vector<csv::Column> kAccountColumns = {{"address", true},
                                                  {"password", false},
                                                  {"quota_mb", false},
                                                  {"maxsize_kb", false},
                                                  {"save_envelope", false}};
enum AliasColumn : std::size_t { kAlias = 0, kTarget };
const std::vector<csv::Column> kAliasColumns = {{"alias", true}, {"target", true}};

bool IsKind(const std::string& kind) {
    return kind == "accounts" || kind == "aliases";
}

int WrongKind(Context& c) {
    c.io.err << "Fehler: Erlaubt sind \"accounts\" und \"aliases\", nicht \"" << c.call.args[0]
             << "\".\n";
    return kUsage;
}

// --- Export ------------------------------------------------------------------------------------

struct AccountRow {
    std::string address;
    std::string account;
};

void CollectRows(Context& c, std::vector<std::vector<std::string>>& rows) {
    const bool accounts = c.call.args[0] == "accounts";
    if (accounts)
        rows.push_back({"address", "quota_mb", "maxsize_kb", "save_envelope"});
    else
        rows.push_back({"alias", "target"});
    std::vector<AccountRow> reached;
    std::set<std::string> withAddress;
    for (auto position = c.set.aliases.GetStartPosition(); position;) {
        std::string key;
        std::string target;
        c.set.aliases.GetNextAssoc(position, key, target);
        const bool forward = target.find('@') != std::string::npos;
        const bool account = !forward && key.find('@') != std::string::npos &&
                             key.find('*') == std::string::npos &&
                             c.set.users.Contains(ansi::ToLower(target));
        if (accounts && account) {
            reached.push_back({key, ansi::ToLower(target)});
            withAddress.insert(ansi::ToLower(target));
        } else if (!accounts && !account) {
            rows.push_back({key, target});
        }
    }
    if (!accounts)
        return;
    // An account no address reaches is listed by its name, as the page's root lists it.
    for (const std::string& name : c.set.users.GetNames())
        if (!withAddress.count(name))
            reached.push_back({name, name});
    CAccountStore store(c.set.mdad);
    for (const AccountRow& row : reached) {
        CConfigMap config; // left empty when the account has none
        (void)store.LoadAccountConfig(row.account, config);
        rows.push_back({row.address, std::to_string(config.GetInt("Quota", 0)),
                        std::to_string(config.GetInt("MaxSize", 0)),
                        std::to_string(config.GetInt("SaveEnvelope", 0) != 0 ? 1 : 0)});
    }
}

// --- Import ------------------------------------------------------------------------------------

// What one row came to.
enum class Outcome { Created, Changed, Refused };

// A number cell for a limit of the account dialog: empty leaves it alone, 0 switches it off.
bool TakeLimit(CAccountDlgBase& dialog, const char* onId, const char* numberId,
               const std::string& cell, CBatchPrompter& prompter) {
    if (cell.empty())
        return true;
    if (const auto refusal = CFieldModel::Refusal(*dialog.FindField(numberId), cell)) {
        prompter.ShowText(*refusal, MessageKind::Error);
        return false;
    }
    const long value = std::atol(cell.c_str());
    dialog.SetChecked(onId, value != 0);
    dialog.SetNumber(numberId, value);
    return true;
}

bool TakeSwitch(CAccountDlgBase& dialog, const char* id, const std::string& cell,
                CBatchPrompter& prompter) {
    if (cell.empty())
        return true;
    if (cell != "0" && cell != "1") {
        prompter.ShowText(ansi::FromUtf8("Erlaubt sind 0 (aus) und 1 (ein)."), MessageKind::Error);
        return false;
    }
    dialog.SetChecked(id, cell == "1");
    return true;
}

bool TakeSettings(CAccountDlgBase& dialog, const std::vector<std::string>& cells,
                  const std::vector<std::size_t>& index, CBatchPrompter& prompter) {
    const auto cell = [&](Column column) {
        return index[column] == csv::kAbsent ? std::string() : cells[index[column]];
    };
    return TakeLimit(dialog, CAccountDlgBase::kQuotaOn, CAccountDlgBase::kQuota, cell(kQuota),
                     prompter) &&
           TakeLimit(dialog, CAccountDlgBase::kSizeOn, CAccountDlgBase::kSize, cell(kMaxSize),
                     prompter) &&
           TakeSwitch(dialog, CAccountDlgBase::kSaveEnvelope, cell(kSaveEnvelope), prompter);
}

// The domain of address must be one of the lists (the page offers no other); a backup domain
// is refused by the operation itself, with the page's message.
bool DomainKnown(Context& c, const Address& address, CBatchPrompter& prompter) {
    if (address.hasAt && address.domain.empty()) {
        prompter.ShowText(ansi::FromUtf8("Nach dem \"@\" fehlt die Domain."), MessageKind::Error);
        return false;
    }
    if (address.domain.empty() || c.set.domains.Contains(address.domain) ||
        c.set.backupDomains.Contains(address.domain))
        return true;
    prompter.ShowText(ansi::FromUtf8("Die Domain \"") + address.domain +
                          ansi::FromUtf8("\" ist nicht vorhanden."),
                      MessageKind::Error);
    return false;
}

Outcome ImportAccount(Context& c, CPageDomains& page, const std::vector<std::string>& cells,
                      const std::vector<std::size_t>& index, bool dryRun,
                      CBatchPrompter& prompter) {
    const Address address = SplitAddress(cells[index[kAddress]]);
    const std::string password = index[kPassword] == csv::kAbsent ? "" : cells[index[kPassword]];
    if (!DomainKnown(c, address, prompter))
        return Outcome::Refused;
    CAddAccountDlg added(address.domain.empty() ? std::string("*") : address.domain, address.local);
    // A folder that no alias names (left by a run that was stopped) is made an account again
    // by the page, like a new one.
    std::string named;
    const bool orphan = !address.domain.empty() && c.set.users.Contains(added.AccountName()) &&
                        !c.set.aliases.FindAddressOf(added.AccountName(), named);
    if (orphan || !c.set.users.Contains(added.AccountName())) {
        added.SetValue(CAccountDlgBase::kPassword, password);
        if (!TakeSettings(added, cells, index, prompter) || !TakeFilled(added, prompter) ||
            !added.OnOk(prompter))
            return Outcome::Refused;
        return page.CreateAccountFrom(added, prompter, dryRun) ? Outcome::Created
                                                               : Outcome::Refused;
    }
    // An account that is there is changed; an empty password keeps its own.
    const std::string name =
        address.domain.empty() ? added.AccountName() : ansi::ToLower(cells[index[kAddress]]);
    const auto changed = page.OpenChange(name, prompter);
    if (!changed)
        return Outcome::Refused;
    if (!password.empty())
        changed->SetValue(CAccountDlgBase::kPassword, password);
    if (!TakeSettings(*changed, cells, index, prompter) || !TakeFilled(*changed, prompter) ||
        !changed->OnOk(prompter))
        return Outcome::Refused;
    return page.ChangeAccountFrom(*changed, prompter, dryRun) ? Outcome::Changed : Outcome::Refused;
}

Outcome ImportAlias(Context& c, CPageDomains& page, const std::vector<std::string>& cells,
                    const std::vector<std::size_t>& index, bool dryRun, CBatchPrompter& prompter) {
    const Address address = SplitAddress(cells[index[kAlias]]);
    if (!DomainKnown(c, address, prompter))
        return Outcome::Refused;
    CAddAliasDlg dialog(address.domain.empty() ? std::string("*") : address.domain);
    dialog.SetValue(CAddAliasDlg::kLocalPart, address.local);
    dialog.SetValue(CAddAliasDlg::kTarget, cells[index[kTarget]]);
    if (!TakeFilled(dialog, prompter) || !dialog.OnOk(prompter))
        return Outcome::Refused;
    const std::string key = ansi::ToLower(cells[index[kAlias]]);
    const bool existed = c.set.aliases.FindView(key).has_value();
    // An import is a deliberate change of many addresses at once: an existing address takes
    // the target of its row without a question and is reported as changed.
    if (!page.AddAliasFrom(dialog, prompter, dryRun, true))
        return Outcome::Refused;
    return existed ? Outcome::Changed : Outcome::Created;
}

struct Tally {
    std::size_t created = 0;
    std::size_t changed = 0;
    std::size_t refused = 0;
};

// One pass over the rows; each row's outcome and messages are printed to report.
Tally RunRows(Context& c, const csv::ParseResult& file, const std::vector<std::size_t>& index,
              bool dryRun, std::ostream& report) {
    const bool accounts = c.call.args[0] == "accounts";
    CPageDomains page(c.set);
    Tally tally;
    std::map<std::string, std::size_t> seen; // key -> the line that had it first
    const char* const kDone[] = {"angelegt", "geändert"};
    const char* const kWouldBe[] = {"würde angelegt", "würde geändert"};
    for (const csv::Record& row : file.rows) {
        std::ostringstream messages;
        CBatchPrompter prompter(messages);
        const std::string key = ansi::ToLower(row.cells[index[0]]);
        Outcome outcome = Outcome::Refused;
        if (const auto first = seen.find(key); first != seen.end()) {
            messages << "Fehler: \"" << Utf8(row.cells[index[0]]) << "\" steht schon in Zeile "
                     << first->second << ".\n";
        } else {
            seen.emplace(key, row.line);
            // A dry run of the whole command changes the set in memory (the page journals the
            // folders instead of writing them), so that its diff shows the rows; the check
            // before --all-or-nothing only looks.
            const bool onlyCheck = dryRun && !c.set.dryRun;
            outcome = accounts ? ImportAccount(c, page, row.cells, index, onlyCheck, prompter)
                               : ImportAlias(c, page, row.cells, index, onlyCheck, prompter);
            if (prompter.HadError())
                outcome = Outcome::Refused;
        }
        ++(outcome == Outcome::Created   ? tally.created
           : outcome == Outcome::Changed ? tally.changed
                                         : tally.refused);
        report << "Zeile " << row.line << ": " << Utf8(row.cells[index[0]]) << ": "
               << (outcome == Outcome::Refused
                       ? "abgelehnt"
                       : (dryRun ? kWouldBe : kDone)[outcome == Outcome::Changed ? 1 : 0])
               << '\n';
        std::istringstream lines(messages.str());
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                report << "  " << line << '\n';
    }
    return tally;
}

} // namespace

int AccountChange(Context& c) {
    const auto text = FromArgument(c, c.call.args[0]);
    if (!text)
        return kFailed;
    CPageDomains page(c.set);
    const std::string name = ansi::ToLower(*text);
    const auto dialog = page.OpenChange(name, c.prompter);
    if (!dialog)
        return kFailed;
    if (c.call.Has("password-file") || c.call.Has("password-stdin"))
        dialog->SetValue(CAccountDlgBase::kPassword, c.password);
    std::vector<std::string> cells(5);
    const std::vector<std::size_t> index{0, 1, 2, 3, 4};
    for (const auto& [option, column] : {std::pair<const char*, Column>{"quota-mb", kQuota},
                                         {"maxsize-kb", kMaxSize},
                                         {"save-envelope", kSaveEnvelope}}) {
        if (const auto value = c.call.Value(option))
            cells[column] = *value;
    }
    if (!TakeSettings(*dialog, cells, index, c.prompter) || !TakeFilled(*dialog, c.prompter) ||
        !dialog->OnOk(c.prompter) || !page.ChangeAccountFrom(*dialog, c.prompter))
        return kFailed;
    return kOk;
}

int Export(Context& c) {
    if (!IsKind(c.call.args[0]))
        return WrongKind(c);
    if (c.call.Value("format").value_or("csv") != "csv")
        return Refuse(c, "Das einzige Format ist csv (--format=csv).");
    std::vector<std::vector<std::string>> rows;
    CollectRows(c, rows);
    std::string text = c.call.Has("bom") ? std::string(csv::kUtf8Bom) : std::string();
    for (const auto& row : rows)
        text += csv::WriteRecord(row);
    const auto output = c.call.Value("output");
    if (!output) {
        c.io.out << text;
        return kOk;
    }
    if (!platform::WriteFileAtomic(*output, text))
        return Refuse(c, "Die Datei \"" + *output + "\" konnte nicht geschrieben werden.");
    return kOk;
}

int Import(Context& c) {
    if (!IsKind(c.call.args[0]))
        return WrongKind(c);
    const bool dryRun = c.call.Has("dry-run");
    c.save = !dryRun;
    std::string bytes;
    if (!platform::ReadWholeFile(c.call.args[1], bytes))
        return Refuse(c, "Die Datei \"" + c.call.args[1] + "\" kann nicht gelesen werden.");
    const csv::ParseResult file = csv::Parse(bytes);
    const auto& columns = c.call.args[0] == "accounts" ? kAccountColumns : kAliasColumns;
    const csv::HeaderMap header = csv::MapHeader(file.header, columns);
    // A file that cannot be read as a whole, or whose columns are wrong, imports nothing.
    if (file.fatal || !header.errors.empty()) {
        for (const csv::Error& error : file.fatal ? file.errors : header.errors)
            c.io.err << "Fehler: " << error.message << '\n';
        return kFailed;
    }
    for (const csv::Error& error : file.errors)
        c.io.out << error.message << " Die Zeile wird abgelehnt.\n";
    const std::size_t badRows = file.errors.size();

    if (c.call.Has("all-or-nothing") && !dryRun) {
        std::ostringstream rows;
        const Tally check = RunRows(c, file, header.index, true, rows);
        if (check.refused + badRows > 0) {
            c.io.out << rows.str();
            c.io.out << "Nichts importiert: " << check.refused + badRows
                     << " Zeilen würden abgelehnt (--all-or-nothing).\n";
            c.save = false;
            return kFailed;
        }
    }
    // The new account folders are flushed to the disk together, once, before the set that
    // names them is saved: a crash may then cost folders nobody refers to, never an alias
    // whose folder is lost.
    platform::SyncBatch newFolders;
    const Tally tally = RunRows(c, file, header.index, dryRun, c.io.out);
    if (!newFolders.Commit()) {
        c.save = false;
        return Refuse(c, "Die neuen Kontoordner konnten nicht vollständig auf den Datenträger "
                         "geschrieben werden. Die Konfiguration wurde nicht gespeichert.");
    }
    const std::size_t refused = tally.refused + badRows;
    const auto count = [dryRun](std::size_t n, const char* done) {
        return std::to_string(n) + (dryRun ? (n == 1 ? " würde " : " würden ") : " ") + done;
    };
    c.io.out << (dryRun ? "Probelauf, nichts geschrieben: " : "")
             << count(tally.created, "angelegt") << ", " << count(tally.changed, "geändert") << ", "
             << refused << " abgelehnt.\n";
    c.saveAnyway = tally.created + tally.changed > 0;
    return refused > 0 ? kFailed : kOk;
}

} // namespace ctl
