#include "pages/PageDomains.h"

#include "Common/Ansi.h"
#include "Common/Message.h"
#include "app/QuibrelApp.h"
#include "app/Strings.h"
#include "pages/TraceDlg.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>

namespace {

using Rows = CAddressRows;

constexpr std::array<CColumnSpec, 2> kColumns{{
    {.heading = "Adresse", .widthShare = 0},
    {.heading = "Konto/Benutzername", .widthShare = 500},
}};
constexpr std::array<const char*, 4> kRowIcons{"account", "unused", "forward", "catchall"};

// The menus list the commands in table order: "Domains" on the tree, "Konten" on the list.
constexpr std::array<CCommandSpec, 7> kCommands{{
    {.id = CPageDomains::kAddDomain,
     .label = "&Hinzufügen...",
     .places = kPlaceToolbar | kPlaceMenu,
     .listId = CPageDomains::kDomainTree,
     .icon = "add-domain",
     .toolTip = "Domain hinzufügen"},
    {.id = CPageDomains::kDeleteDomain,
     .label = "&Löschen",
     .places = kPlaceToolbar | kPlaceMenu | kPlaceDeleteKey,
     .listId = CPageDomains::kDomainTree,
     .icon = "delete-domain",
     .toolTip = "Domain löschen"},
    {.id = CPageDomains::kAddAccount,
     .label = "&Konto hinzufügen...",
     .places = kPlaceToolbar | kPlaceMenu,
     .listId = CPageDomains::kAddressList,
     .icon = "add-account",
     .toolTip = "Konto hinzufügen"},
    {.id = CPageDomains::kAddAlias,
     .label = "&Alias hinzufügen...",
     .places = kPlaceToolbar | kPlaceMenu,
     .listId = CPageDomains::kAddressList,
     .icon = "add-alias",
     .toolTip = "Alias hinzufügen"},
    {.id = CPageDomains::kChangeAccount,
     .label = "Konto ä&ndern...",
     .places = kPlaceToolbar | kPlaceMenu,
     .listId = CPageDomains::kAddressList,
     .doubleClick = true,
     .icon = "change-account",
     .toolTip = "Konto ändern"},
    {.id = CPageDomains::kDeleteEntry,
     .label = "Konto/Alias &löschen",
     .places = kPlaceToolbar | kPlaceMenu | kPlaceDeleteKey,
     .listId = CPageDomains::kAddressList,
     .icon = "delete-entry",
     .toolTip = "Konto oder Alias löschen"},
    {.id = CPageDomains::kTraceAddress,
     .label = "&Zustellweg anzeigen...",
     .places = kPlaceToolbar | kPlaceMenu,
     .listId = CPageDomains::kAddressList,
     .icon = "trace",
     .toolTip = "Zustellweg einer Adresse anzeigen"},
}};

// The searches are no settings: they never make the page applicable (kFieldSearch).
constexpr std::array<CFieldSpec, 3> kFields{{
    {.id = CPageDomains::kAddressFilter,
     .type = FieldType::Text,
     .label = "Suchen...",
     .flags = kFieldSearch},
    {.id = CPageDomains::kDomainFilter,
     .type = FieldType::Text,
     .label = "Domain suchen...",
     .flags = kFieldSearch},
    {.id = CPageDomains::kRowCount, .type = FieldType::Text, .label = "", .flags = kFieldReadOnly},
}};

constexpr std::array<CListSpec, 2> kLists{{
    {.id = CPageDomains::kDomainTree, .kind = CListSpec::Kind::Tree, .menuTitle = "Domains"},
    {.id = CPageDomains::kAddressList, .kind = CListSpec::Kind::List, .menuTitle = "Konten"},
}};

// null: a separator. One line per group, as the toolbar shows them.
// clang-format off
constexpr std::array<const char*, 10> kToolbar{
    CPageDomains::kAddDomain, CPageDomains::kDeleteDomain, nullptr,
    CPageDomains::kAddAccount, CPageDomains::kChangeAccount, CPageDomains::kDeleteEntry, nullptr,
    CPageDomains::kAddAlias, nullptr,
    CPageDomains::kTraceAddress,
};
// clang-format on

// Messages of the page, by number.
constexpr unsigned kDomainNotRemoved = 141;
constexpr unsigned kDomainExists = 142;
constexpr unsigned kAccountNotRemoved = 143;
constexpr unsigned kReallyDeleteAccount = 144;
constexpr unsigned kReallyDeleteForward = 145;
constexpr unsigned kSelectEntryToDelete = 146;
constexpr unsigned kPasswordForCreate = 147;
constexpr unsigned kAccountNotCreated = 148;
constexpr unsigned kForwardNeedsAddress = 149;
constexpr unsigned kPasswordForChange = 150;
constexpr unsigned kAccountNotChanged = 151;
constexpr unsigned kNotAnAccount = 152;
constexpr unsigned kSelectAccountToChange = 153;
constexpr unsigned kReallyDeleteDomain = 166;
constexpr unsigned kBackupDomainAccount = 167;
constexpr unsigned kLowerCased = 57345;
constexpr unsigned kOnlyAddressRemoved = 57346;
constexpr unsigned kUserListFailed = 108;

constexpr const char* kConfigNotSaved =
    "Fehler: Konnte die Konfiguration des Mailkontos nicht speichern.";
// Names where the host name is set, so the platform's own text.
constexpr const char* kHostNameIncomplete = strings::kHostNameIncomplete;
constexpr const char* kHostNotADomain =
    "Der vollständig qualifizierte DNS-Name Ihres Servers '%s' ist nicht in der Liste der "
    "Domains, für die der Server E-Mail-Verkehr abwickeln soll. Im Zweifelsfall sollte dies "
    "korrigiert werden.\n\nSoll er hinzugefügt werden?";
constexpr const char* kNoPostmaster =
    "Auf Ihrem System ist bisher keine universelle Postmaster-Adresse eingerichtet. Diese ist "
    "gemäß RfC 2821 zwingend vorgesehen.\n\nSoll jetzt eine universelle Postmaster-Adresse "
    "angelegt werden?";

constexpr const char* kDefaultReplyTemplate = "reply.emt";

// A search with a control character can match no row: no name or address holds one, and the
// view puts one in place of what the code page cannot hold.
bool MatchesNothing(std::string_view needle) {
    return std::any_of(needle.begin(), needle.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool HasAt(std::string_view text) {
    return text.find('@') != std::string_view::npos;
}

// Mail clients and the services take names in lower case: at the first capital the whole text
// is lowered. Whether it was; the user is told (TellLowered) only once the value is taken, not
// before a refusal that sends them back to what they typed.
bool LowerCaseRule(std::string& text) {
    const std::string lowered = ansi::ToLower(text);
    const bool changed = lowered != text;
    text = lowered;
    return changed;
}

void TellLowered(bool lowered, CPrompter& prompter) {
    if (lowered)
        prompter.Show(kLowerCased, MessageKind::Warning);
}

// The question before address, which leads to old, is led to target instead.
std::string ReplaceQuestion(const std::string& address, const std::string& old,
                            const std::string& target) {
    std::string question = strings::Literal("Die Adresse \"%s\" führt bereits zu \"%s\".\n\nSoll sie "
                                     "stattdessen zu \"%s\" führen?",
                                     {address, old, target});
    if (!HasAt(old))
        question += strings::Literal("\n\nDas Konto \"%s\" bleibt mit seinen Mails bestehen, ist über "
                              "diese Adresse aber nicht mehr erreichbar.",
                              {old});
    return question;
}

} // namespace

// --- The address list ------------------------------------------------------------------------

std::span<const CColumnSpec> CAddressRows::Columns() const {
    return kColumns;
}

std::span<const char* const> CAddressRows::Icons() const {
    return kRowIcons;
}

void CAddressRows::Clear() {
    m_text.clear();
    m_folded.clear();
    m_rows.clear();
    m_sorted.clear();
    m_order.clear();
}

void CAddressRows::Add(std::string_view address, std::string_view target, Icon icon) {
    m_rows.push_back({static_cast<std::uint32_t>(m_text.size()),
                      static_cast<std::uint32_t>(address.size()),
                      static_cast<std::uint32_t>(target.size()), icon});
    m_text.append(address);
    m_text.append(target);
}

std::string_view CAddressRows::AddressOf(const Row& row) const {
    return std::string_view(m_text).substr(row.at, row.addressLength);
}

void CAddressRows::Sort() {
    m_sorted.resize(m_rows.size());
    for (std::uint32_t i = 0; i < m_sorted.size(); ++i)
        m_sorted[i] = i;
    // Byte-wise by the address; rows of one address keep the order they were added in.
    std::stable_sort(m_sorted.begin(), m_sorted.end(), [this](std::uint32_t a, std::uint32_t b) {
        return AddressOf(m_rows[a]) < AddressOf(m_rows[b]);
    });
    m_folded.clear();
    ApplyFilter();
    Reset();
}

void CAddressRows::SetFilter(std::string_view needle) {
    std::string folded = ansi::ToLower(needle);
    if (folded == m_filter)
        return;
    const auto selected = Selected();
    const std::uint32_t entry = selected ? m_order[*selected] : 0;
    m_filter = std::move(folded);
    ApplyFilter();
    Reset();
    if (!selected)
        return;
    // The shown rows keep the order of m_sorted: the entry is found by its address.
    const std::string_view address = AddressOf(m_rows[entry]);
    auto it = std::lower_bound(m_order.begin(), m_order.end(), address,
                               [this](std::uint32_t e, std::string_view text) {
                                   return AddressOf(m_rows[e]) < text;
                               });
    for (; it != m_order.end() && AddressOf(m_rows[*it]) == address; ++it)
        if (*it == entry)
            Select(static_cast<std::size_t>(it - m_order.begin()));
}

void CAddressRows::ApplyFilter() {
    if (m_filter.empty()) {
        m_order = m_sorted;
        return;
    }
    m_order.clear();
    if (MatchesNothing(m_filter))
        return;
    // Row i starts at its offset in m_text plus the two line breaks of each row before it.
    const auto start = [this](std::size_t i) { return std::size_t{m_rows[i].at} + 2 * i; };
    if (m_folded.empty() && !m_rows.empty()) {
        m_folded.reserve(m_text.size() + 2 * m_rows.size());
        for (const Row& row : m_rows) {
            for (std::size_t i = 0; i < row.addressLength + row.targetLength; ++i) {
                if (i == row.addressLength)
                    m_folded.push_back('\n');
                m_folded.push_back(ansi::ToLower(m_text[row.at + i]));
            }
            if (row.targetLength == 0)
                m_folded.push_back('\n');
            m_folded.push_back('\n');
        }
    }
    // One pass over all texts; a row with a match is skipped to its end.
    std::vector<std::uint8_t> matches(m_rows.size(), 0);
    const std::boyer_moore_horspool_searcher searcher(m_filter.begin(), m_filter.end());
    const char* const begin = m_folded.data();
    const char* const end = begin + m_folded.size();
    std::size_t row = 0;
    for (const char* from = begin; from < end;) {
        const char* hit = std::search(from, end, searcher);
        if (hit == end)
            break;
        const auto offset = static_cast<std::size_t>(hit - begin);
        while (row + 1 < m_rows.size() && start(row + 1) <= offset)
            ++row;
        matches[row] = 1;
        if (row + 1 == m_rows.size())
            break;
        from = begin + start(row + 1);
    }
    for (std::uint32_t entry : m_sorted)
        if (matches[entry])
            m_order.push_back(entry);
}

std::string_view CAddressRows::Address(std::size_t row) const {
    return AddressOf(m_rows[m_order[row]]);
}

std::string_view CAddressRows::Target(std::size_t row) const {
    const Row& entry = m_rows[m_order[row]];
    return std::string_view(m_text).substr(entry.at + entry.addressLength, entry.targetLength);
}

std::string CAddressRows::CellText(std::size_t row, std::size_t column) const {
    if (row >= m_order.size())
        return {};
    return std::string(column == 0 ? Address(row) : column == 1 ? Target(row) : "");
}

int CAddressRows::RowIcon(std::size_t row) const {
    return row < m_order.size() ? m_rows[m_order[row]].icon : -1;
}

std::optional<std::size_t> CAddressRows::Find(std::string_view address) const {
    const auto it = std::lower_bound(m_order.begin(), m_order.end(), address,
                                     [this](std::uint32_t entry, std::string_view text) {
                                         return AddressOf(m_rows[entry]) < text;
                                     });
    if (it == m_order.end() || AddressOf(m_rows[*it]) != address)
        return std::nullopt;
    return static_cast<std::size_t>(it - m_order.begin());
}

// --- The page --------------------------------------------------------------------------------

CPageDomains::CPageDomains(CConfigSet& config, HostIdentitySource host)
    : m_config(config), m_store(config.mdad), m_host(std::move(host)),
      m_tree({"domains-root", "domain-local", "domain-backup"}) {
    RebuildTree();
    m_rows.Sort();
    UpdateStates();
}

std::span<const CFieldSpec> CPageDomains::Fields() const {
    return kFields;
}

std::span<const CCommandSpec> CPageDomains::Commands() const {
    return kCommands;
}

std::span<const CListSpec> CPageDomains::Lists() const {
    return kLists;
}

std::span<const char* const> CPageDomains::ToolbarLayout() const {
    return kToolbar;
}

CRowModel* CPageDomains::RowsOf(std::string_view listId) {
    return listId == kAddressList ? &m_rows : nullptr;
}

CTreeModel* CPageDomains::TreeOf(std::string_view listId) {
    return listId == kDomainTree ? &m_tree : nullptr;
}

bool CPageDomains::AtRoot() const {
    return ansi::EqualNoCase(m_selectedName, "domains");
}

bool CPageDomains::IsBackupDomain() const {
    return m_hasSelectedName && static_cast<bool>(m_config.backupDomains.Find(m_selectedName));
}

void CPageDomains::Edited() {
    // Account folders are already written: there is no way back through Cancel.
    SetModified();
    LockCancel();
    NotifySetChanged();
}

bool CPageDomains::AddressesEditable(CPrompter& prompter) const {
    // "aliases" was loaded without the account list and is not written back in this run: an
    // account folder made now would be reached by no saved address.
    if (m_config.aliases.AccountFilter())
        return true;
    prompter.ShowText(
        strings::Literal("Konten und Adressen können in diesem Lauf nicht geändert werden, weil "
                         "die Kontenliste beim Start nicht erstellt werden konnte; die Datei "
                         "\"aliases\" bleibt, wie sie ist. Stellen Sie das Spoolverzeichnis auf "
                         "der Seite \"Verzeichnisse\" richtig, speichern Sie mit \"OK\" und "
                         "starten Sie das Programm erneut."),
        MessageKind::Error);
    return false;
}

void CPageDomains::UpdateStates() {
    // Before a domain is selected there is no domain to add to: an address would be made of
    // the local part and an "@" alone, and the next start would drop it.
    for (const char* id : {kAddAccount, kAddAlias, kChangeAccount, kDeleteEntry})
        SetEnabled(id, m_hasSelectedName);
    SetEnabled(kDeleteDomain, m_tree.Selected() != CTreeModel::kNone);
}

void CPageDomains::OnFirstShow(CPrompter& prompter) {
    // The tree was built with the page; only the host name's domain can have come since (no
    // other page changes the domain lists), and ten thousand domains are worth not sorting twice.
    if (CheckHostName(prompter))
        RebuildTree();
    UpdateStates();
}

CPageDomains::HostCheck CPageDomains::CheckHost(const CConfigSet& config, const std::string& name) {
    HostCheck check;
    // A name without a domain, or one in the ".local" pseudo-domain, cannot be reached by mail
    // from outside; nothing else is worth asking about then.
    const auto local = name.find(".local");
    if (name.find('.') == std::string::npos ||
        (local != std::string::npos && local + 6 == name.size())) {
        check.incomplete = true;
        return check;
    }
    check.notADomain = !config.domains.Find(name);
    // Without the account list (aliases then unchecked) no account can be told to be missing.
    std::string target;
    check.noPostmaster = config.aliases.AccountFilter() && !config.users.Contains("postmaster") &&
                         !config.aliases.ResolveAddress("postmaster", target);
    return check;
}

bool CPageDomains::CheckHostName(CPrompter& prompter) {
    const std::string name = m_host ? m_host().name : std::string("unknown");
    const HostCheck check = CheckHost(m_config, name);
    if (check.incomplete) {
        prompter.ShowText(strings::Literal(kHostNameIncomplete, name), MessageKind::Error);
        return false;
    }
    const bool added =
        check.notADomain && prompter.ShowText(strings::Literal(kHostNotADomain, name),
                                              MessageKind::Question) == Answer::Yes;
    if (added)
        m_config.domains.AddHead(name); // saved with the set after OK, as reported

    // Adding the host name above changes nothing about the postmaster.
    if (check.noPostmaster &&
        prompter.ShowText(ansi::FromUtf8(kNoPostmaster), MessageKind::Question) == Answer::Yes)
        CreatePostmaster(prompter);
    return added;
}

void CPageDomains::CreatePostmaster(CPrompter& prompter) {
    CAddAccountDlg dialog("*", "postmaster");
    // An account without a domain, made as the add command makes one; a refusal brings the
    // dialog back with what was typed.
    while (RunDialogAccepted(prompter, dialog)) {
        const auto created = CreateAccountFrom(dialog, prompter);
        if (created || m_store.AccountFolder(dialog.AccountName()))
            Edited();
        if (created)
            return;
    }
}

void CPageDomains::RebuildTree() {
    // Both lists, each name once (exact duplicates only), ascending byte-wise. A name is local
    // when "domains" holds it in any letter case: every name of that list, and those of the
    // backup list it holds as well. Sorting views of the names instead of inserting into a
    // sorted list keeps ten thousand domains quick.
    struct Name {
        std::string_view text;
        bool local;
    };
    std::vector<Name> names;
    names.reserve(m_config.domains.GetCount() + m_config.backupDomains.GetCount());
    for (const CDomainList* list : {&m_config.domains, &m_config.backupDomains})
        for (auto position = list->GetHeadPosition(); position;)
            names.push_back({list->GetNext(position), list == &m_config.domains});
    for (std::size_t n = m_config.domains.GetCount(); n < names.size(); ++n)
        names[n].local = m_config.domains.Contains(names[n].text);
    // Equal names are equally local: which of them stays does not matter.
    std::sort(names.begin(), names.end(),
              [](const Name& a, const Name& b) { return a.text < b.text; });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const Name& a, const Name& b) { return a.text == b.text; }),
                names.end());
    // The domain search keeps the names that hold it in any letter case; the root stays.
    if (const std::string needle = ansi::ToLower(Value(kDomainFilter)); !needle.empty()) {
        const bool impossible = MatchesNothing(needle);
        std::erase_if(names, [&](const Name& name) {
            return impossible || ansi::ToLower(name.text).find(needle) == std::string::npos;
        });
    }

    m_tree.Clear();
    m_tree.Reserve(names.size() + 1);
    const CTreeModel::NodeId root = m_tree.Add(CTreeModel::kNone, kRootText, kIconRoot);
    CTreeModel::NodeId selected =
        m_hasSelectedName && m_selectedName == kRootText ? root : CTreeModel::kNone;
    for (const Name& name : names) {
        const auto node =
            m_tree.Add(root, std::string(name.text), name.local ? kIconLocal : kIconBackup);
        if (m_hasSelectedName && name.text == m_selectedName)
            selected = node;
    }
    m_tree.SetExpanded(root, true);

    // The selected domain stays selected; one that is gone takes its list with it, so that
    // nothing is added to a domain that no longer exists.
    if (selected != CTreeModel::kNone) {
        m_tree.Select(selected);
    } else if (m_hasSelectedName) {
        m_hasSelectedName = false;
        m_selectedName.clear();
        m_rows.Clear();
        m_rows.Sort();
        ShowRowCount();
        SetEnabled(kAddressList, true);
    }
}

void CPageDomains::OnSelectionChanged(std::string_view listId, CPrompter& prompter) {
    if (listId == kDomainTree)
        SelectDomain(prompter);
}

void CPageDomains::SelectDomain(CPrompter& prompter) {
    const CTreeModel::NodeId node = m_tree.Selected();
    if (node == CTreeModel::kNone)
        return; // the operations keep working on the name selected last
    m_selectedName = m_tree.Text(node);
    m_hasSelectedName = true;
    // A backup domain has no mailboxes here: its list is only shown.
    SetEnabled(kAddressList, !IsBackupDomain());
    RebuildList(prompter);
}

void CPageDomains::RebuildList(CPrompter& prompter) {
    m_rows.Clear();
    // Folders made or removed by other programs show up here: the account list follows the
    // spool through its watch, and reads the spool again when the watch cannot tell what
    // changed. Without the spool the root would list nothing and a domain accounts that may be
    // gone: the list stays empty and the user is told.
    // Said once while it lasts, not at every domain chosen in the tree.
    const bool toldAlready = m_listFailed;
    m_listFailed = !m_config.users.Update();
    if (m_listFailed) {
        m_rows.Sort();
        ShowRowCount();
        if (!toldAlready)
            prompter.ShowMessage(
                {.id = kUserListFailed,
                 .text =
                     strings::Text(kUserListFailed) + " " +
                     SpoolFailureText(m_store.GetSpoolDir()) + "\n\n" +
                     strings::Literal("Ohne sie zeigt diese Seite keine Konten und Adressen. Legen "
                                      "Sie das Verzeichnis an, oder stellen Sie es auf der Seite "
                                      "\"Verzeichnisse\" richtig."),
                 .kind = MessageKind::Error});
        return;
    }
    FillRows();
}

bool CPageDomains::RowsHoldAll() const {
    return m_hasSelectedName && AtRoot() && !Value(kAddressFilter).empty();
}

void CPageDomains::FillRows() {
    m_rows.Clear();
    const auto domainIcon = [](std::string_view key, std::string_view target) {
        return key.find('*') != std::string_view::npos ? Rows::kCatchAll
               : HasAt(target)                         ? Rows::kForward
                                                       : Rows::kAccount;
    };
    m_rowsHoldAll = RowsHoldAll();
    if (m_hasSelectedName && !AtRoot()) {
        for (const auto& [key, target] : m_config.aliases.GetDomainEntries(m_selectedName))
            m_rows.Add(key, target, domainIcon(key, target));
    } else if (m_hasSelectedName) {
        for (const std::string& account :
             m_config.aliases.AccountsWithoutDomainAddress(m_config.users))
            m_rows.Add(account, account, Rows::kAccount);
        for (const auto& [key, target] : m_config.aliases.GetEntriesWithoutDomain())
            m_rows.Add(key, target, Rows::kForward);
        // A search at the root looks through every domain's addresses too.
        if (m_rowsHoldAll) {
            std::string key;
            std::string target;
            for (auto position = m_config.aliases.GetStartPosition(); position;) {
                m_config.aliases.GetNextAssoc(position, key, target);
                if (HasAt(key))
                    m_rows.Add(key, target, domainIcon(key, target));
            }
        }
    }
    m_rows.SetFilter(Value(kAddressFilter));
    m_rows.Sort();
    ShowRowCount();
}

void CPageDomains::ApplyAddressFilter() {
    // Leaving or entering the search at the root changes which rows there are at all.
    if (m_rowsHoldAll != RowsHoldAll()) {
        std::string selected;
        if (const auto row = m_rows.Selected())
            selected = std::string(m_rows.Address(*row));
        FillRows();
        if (!selected.empty())
            m_rows.Select(m_rows.Find(selected));
        return;
    }
    m_rows.SetFilter(Value(kAddressFilter));
    ShowRowCount();
}

namespace {

// 300000 as "300.000", the way a German reader groups digits.
std::string Grouped(std::size_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ".");
    return digits;
}

} // namespace

void CPageDomains::ShowRowCount() {
    const std::string& filter = Value(kAddressFilter);
    const std::size_t total = m_rows.TotalCount();
    std::string text;
    if (!m_hasSelectedName) {
        SetValue(kRowCount, ""); // no list yet: nothing to count
        return;
    }
    if (filter.empty())
        text = Grouped(total) + (total == 1 ? " Eintrag" : " Einträge");
    else
        text = Grouped(m_rows.RowCount()) + " von " + Grouped(total) +
               (total == 1 ? " Eintrag" : " Einträgen");
    if (MatchesNothing(filter))
        text += " \xE2\x80\x93 der Suchtext enthält Zeichen, die in keiner Adresse vorkommen können";
    SetValue(kRowCount, ansi::FromUtf8(text));
}

std::optional<std::string> CPageDomains::ShowKey(std::string_view file, std::string_view key,
                                                 CPrompter& prompter) {
    const bool domainFile =
        ansi::EqualNoCase(file, "domains") || ansi::EqualNoCase(file, "backupdomains");
    // An account's own "config" (its automatic reply): the account's address stands for it.
    if (const std::size_t slash = file.find_last_of("/\\");
        slash != std::string_view::npos && ansi::EqualNoCase(file.substr(slash + 1), "config")) {
        std::string address;
        if (!m_config.aliases.FindAddressOf(file.substr(0, slash), address))
            address = std::string(file.substr(0, slash)); // an account at the root
        return ShowKey("aliases", address, prompter);
    }
    if (!domainFile && !ansi::EqualNoCase(file, "aliases"))
        return std::nullopt;
    SetValue(kAddressFilter, "");
    SetValue(kDomainFilter, "");
    RebuildTree();
    // The node to select: the domain itself, or the one the address belongs to.
    std::string_view domain = key;
    if (!domainFile) {
        const std::size_t at = key.find('@');
        domain = at == std::string_view::npos ? std::string_view() : key.substr(at + 1);
    }
    const CTreeModel::NodeId root = m_tree.Child(CTreeModel::kNone, 0);
    CTreeModel::NodeId node = domainFile ? CTreeModel::kNone : root;
    for (std::size_t i = 0; i < m_tree.ChildCount(root) && !domain.empty(); ++i)
        if (ansi::EqualNoCase(m_tree.Text(m_tree.Child(root, i)), domain))
            node = m_tree.Child(root, i);
    if (node == CTreeModel::kNone)
        return std::string(kDomainTree);
    m_tree.Select(node);
    SelectDomain(prompter);
    if (domainFile)
        return std::string(kDomainTree);
    // A key as the file writes it, in any letter case.
    for (std::size_t row = 0; row < m_rows.RowCount(); ++row)
        if (ansi::EqualNoCase(m_rows.Address(row), key)) {
            m_rows.Select(row);
            break;
        }
    return std::string(kAddressList);
}

void CPageDomains::OnFieldEdited(std::string_view id) {
    CPageModel::OnFieldEdited(id);
    if (id == kAddressFilter) {
        ApplyAddressFilter();
    } else if (id == kDomainFilter) {
        RebuildTree();
    }
}

bool CPageDomains::Poll(CPrompter& prompter) {
    if (!m_hasSelectedName)
        return false;
    bool changed = false;
    const bool readable = m_config.users.Update(&changed);
    // A domain's rows come from the alias map alone; and a spool that stays unreadable was
    // reported when the list found it so, not again at every look.
    if (!changed || !AtRoot() || (!readable && m_listFailed))
        return false;
    std::string selected;
    if (const auto row = m_rows.Selected())
        selected = std::string(m_rows.Address(*row));
    RebuildList(prompter);
    if (!selected.empty())
        m_rows.Select(m_rows.Find(selected));
    return true;
}

void CPageDomains::OnCommand(std::string_view commandId, CPrompter& prompter) {
    if (commandId == kAddDomain)
        AddDomain(prompter);
    else if (commandId == kDeleteDomain)
        DeleteDomain(prompter);
    else if (commandId == kAddAccount)
        AddAccount(prompter);
    else if (commandId == kAddAlias)
        AddAlias(prompter);
    else if (commandId == kChangeAccount)
        ChangeAccountFlow(prompter);
    else if (commandId == kDeleteEntry)
        DeleteEntry(prompter);
    else if (commandId == kTraceAddress)
        TraceFlow(prompter);
}

// --- Domains ---------------------------------------------------------------------------------

void CPageDomains::AddDomain(CPrompter& prompter) {
    CAddDomainDlg dialog;
    // The dialog refuses a name that is there already, and keeps it to be corrected.
    dialog.SetExisting([this](const std::string& name) {
        return m_config.domains.Find(name) || m_config.backupDomains.Find(name);
    });
    if (!RunDialogAccepted(prompter, dialog))
        return;
    std::string name = dialog.Value(CAddDomainDlg::kDomainName);
    const bool lowered = LowerCaseRule(name);
    if (m_config.domains.Find(name) || m_config.backupDomains.Find(name)) {
        prompter.Show(kDomainExists, MessageKind::Error);
        return;
    }
    TellLowered(lowered, prompter);
    (dialog.SecondaryMx() ? m_config.backupDomains : m_config.domains).AddTail(name);
    RebuildTree();
    Edited();
}

void CPageDomains::DeleteDomain(CPrompter& prompter) {
    const CTreeModel::NodeId node = m_tree.Selected();
    if (node == CTreeModel::kNone)
        return;
    m_selectedName = m_tree.Text(node);
    m_hasSelectedName = true;
    if (prompter.AskDefaultNo(kReallyDeleteDomain, MessageKind::QuestionWarning) == Answer::Yes) {
        // The root node is never a domain, even when a domain of that name exists. The alias
        // entries of the domain stay; the next load drops them with the domain gone.
        const bool root = m_tree.Parent(node) == CTreeModel::kNone;
        CDomainList* lists[] = {&m_config.domains, &m_config.backupDomains};
        bool removed = false;
        for (CDomainList* list : lists) {
            if (root || removed)
                break;
            if (auto position = list->Find(m_selectedName)) {
                list->RemoveAt(position);
                removed = true;
            }
        }
        if (removed)
            RebuildTree();
        else
            prompter.Show(kDomainNotRemoved, MessageKind::Error);
    }
    Edited();
}

// --- Accounts and aliases --------------------------------------------------------------------

void CPageDomains::AddAccount(CPrompter& prompter) {
    if (!m_hasSelectedName || !AddressesEditable(prompter))
        return;
    if (IsBackupDomain()) {
        prompter.Show(kBackupDomainAccount, MessageKind::Error);
        return;
    }
    CAddAccountDlg dialog(AtRoot() ? std::string("*") : m_selectedName);
    // A refusal that only the creation finds brings the dialog back with what was typed, as
    // the dialog's own refusals do.
    while (RunDialogAccepted(prompter, dialog)) {
        const auto row = CreateAccountFrom(dialog, prompter);
        if (row) {
            RebuildList(prompter);
            m_rows.Select(m_rows.Find(*row));
        }
        // A creation that failed half-way has written to the disk as well.
        if (row || m_store.AccountFolder(dialog.AccountName()))
            Edited();
        if (row)
            return;
    }
}

std::optional<std::string> CPageDomains::CreateAccountFrom(CAddAccountDlg& dialog,
                                                           CPrompter& prompter, bool dryRun) {
    const bool root = dialog.AtRoot();
    if (!AddressesEditable(prompter))
        return std::nullopt;
    if (!root && m_config.backupDomains.Find(dialog.Value(CAddAccountDlg::kDomain))) {
        prompter.Show(kBackupDomainAccount, MessageKind::Error);
        return std::nullopt;
    }
    // The dialog refuses an empty password itself; a caller that fills it without asking it
    // meets the same message here.
    const std::string password = dialog.Value(CAddAccountDlg::kPassword);
    if (password.empty()) {
        prompter.Show(kPasswordForCreate, MessageKind::Error);
        return std::nullopt;
    }
    // The typed local part stays in the dialog, so that a refusal shows it as it was typed.
    std::string local = dialog.Value(CAddAccountDlg::kLocalPart);
    const bool lowered = LowerCaseRule(local);
    // The domain part is lowered as well: the account list holds folder names in lower case,
    // and an alias whose target kept capitals would be dropped by the next start's load.
    const std::string account = dialog.AccountName();
    // The new account's address may lead elsewhere already (a forward, another account): it
    // is led to the new account only when the user says so.
    std::string old;
    if (!root && m_config.aliases.Lookup(dialog.Address(), old) && old != account &&
        prompter.AskDefaultNo(ReplaceQuestion(dialog.Address(), old, account)) != Answer::Yes)
        return std::nullopt;
    if (dryRun) {
        TellLowered(lowered, prompter);
        return root ? account : dialog.Address();
    }
    // A folder that no alias names is what a program stopped between making the folder and
    // saving its address leaves behind: adding that very address again takes it over, so that
    // a second run of a killed import or a failed add simply works.
    std::string named;
    const bool adopt = !root && m_config.users.Update() && m_config.users.Contains(account) &&
                       !m_config.aliases.FindAddressOf(account, named);
    if (m_config.dryRun) {
        // The set changes as it would; the folder is only noted.
        m_config.journal.Record(adopt ? CJournal::Kind::AccountAdopted
                                      : CJournal::Kind::AccountCreated,
                                PathJoin(m_store.GetSpoolDir(), account), false);
        if (!root)
            m_config.aliases.SetAt(dialog.Address(), account);
        TellLowered(lowered, prompter);
        return root ? account : dialog.Address();
    }
    if (adopt) {
        if (!AdoptAccount(account, dialog, prompter))
            return std::nullopt;
        m_config.aliases.SetAt(dialog.Address(), account);
        TellLowered(lowered, prompter);
        return dialog.Address();
    }
    // The account list follows the spool through its watch, so asking it for a folder of
    // another letter case costs no listing of a hundred thousand folders per new account.
    const auto hasCaseTwin = [this](std::string_view name) {
        (void)m_config.users.Update();
        return m_config.users.Contains(name);
    };
    if (!m_store.CreateAccount(account, password, dialog.CreationSettings(), hasCaseTwin)) {
        const int error = platform::LastError();
        prompter.ShowMessage(
            {.id = kAccountNotCreated,
             .text = strings::Text(kAccountNotCreated) + " " + CreationFailure(account, error),
             .kind = MessageKind::Error});
        return std::nullopt;
    }
    m_config.journal.Record(CJournal::Kind::AccountCreated, PathJoin(m_store.GetSpoolDir(), account));
    const std::string address = dialog.Address();
    if (!root)
        m_config.aliases.SetAt(address, account);
    TellLowered(lowered, prompter);
    return root ? account : address;
}

std::string CPageDomains::CreationFailure(const std::string& account, int error) const {
    if (!IsValidAccountName(account))
        return strings::Literal("Der Name \"%s\" kann keinen Kontoordner bezeichnen.", {account});
    if (m_store.AccountFolder(account) || m_config.users.Contains(account)) {
        std::string address;
        if (m_config.aliases.FindAddressOf(account, address))
            return strings::Literal("Das Konto \"%s\" ist bereits vorhanden; die Adresse \"%s\" führt "
                             "dorthin.",
                             {account, address});
        return strings::Literal("Das Konto \"%s\" ist bereits vorhanden.", {account});
    }
    const std::string cause =
        platform::WriteFailureCause(PathJoin(m_store.GetSpoolDir(), account), error);
    if (!cause.empty())
        return cause;
    return strings::Literal("Der Ordner \"%s\" konnte nicht angelegt werden.",
                     {PathJoin(m_store.GetSpoolDir(), account)});
}

void CPageDomains::AddAlias(CPrompter& prompter) {
    if (!m_hasSelectedName || !AddressesEditable(prompter))
        return;
    CAddAliasDlg dialog(AtRoot() ? std::string("*") : m_selectedName);
    // Declining to replace what the address leads to brings the dialog back with what was
    // typed: another address may be what was meant.
    while (RunDialogAccepted(prompter, dialog)) {
        if (const auto key = AddAliasFrom(dialog, prompter)) {
            RebuildList(prompter);
            m_rows.Select(m_rows.Find(*key));
            Edited();
            return;
        }
    }
}

std::optional<std::string> CPageDomains::AddAliasFrom(CAddAliasDlg& dialog, CPrompter& prompter,
                                                      bool dryRun, bool replace) {
    if (!AddressesEditable(prompter))
        return std::nullopt;
    const std::string domain = dialog.Value(CAddAliasDlg::kDomain);
    const bool root = domain == "*";
    const std::string target = dialog.Value(CAddAliasDlg::kTarget);
    // At the root a bare account name is a valid target too.
    if (!root && !HasAt(target)) {
        prompter.Show(kForwardNeedsAddress, MessageKind::Error);
        return std::nullopt;
    }
    std::string local = dialog.Value(CAddAliasDlg::kLocalPart);
    const bool lowered = LowerCaseRule(local);
    const std::string key = root ? local : AliasAddressOf(local, ansi::ToLower(domain));
    // An address leads to one place only: a new target would silently cut off what it reached
    // so far, an account's mailbox among them.
    std::string old;
    if (!replace && m_config.aliases.Lookup(key, old) && old != target &&
        prompter.AskDefaultNo(ReplaceQuestion(key, old, target)) != Answer::Yes)
        return std::nullopt;
    TellLowered(lowered, prompter);
    if (!dryRun)
        m_config.aliases.SetAt(key, target);
    return key;
}

// The questions before a deletion warn (the exclamation icon) and have "Nein" as their default
// button: a Return pressed out of habit must not take a mailbox with it.
void CPageDomains::DeleteEntry(CPrompter& prompter) {
    const auto row = m_rows.Selected();
    if (!row) {
        prompter.Show(kSelectEntryToDelete, MessageKind::Error);
        return;
    }
    if (!AddressesEditable(prompter))
        return;
    const std::string name(m_rows.Address(*row));
    std::string target;
    const bool found = m_config.aliases.Lookup(name, target);
    CAliasMap& aliases = m_config.aliases;

    if (!HasAt(name) && AtRoot()) {
        // A root row: an account without an address, or a domain-independent alias.
        if (prompter.AskDefaultNo(kReallyDeleteAccount, MessageKind::QuestionWarning) ==
            Answer::Yes) {
            const bool removed = found ? aliases.RemoveKey(name) : RemoveAccountFolder(name);
            if (!removed)
                prompter.Show(kAccountNotRemoved, MessageKind::Error);
        }
    } else if (!HasAt(target)) {
        // The address of an account: the account goes with its last address.
        if (prompter.AskDefaultNo(kReallyDeleteAccount, MessageKind::QuestionWarning) ==
            Answer::Yes) {
            std::string other;
            if (!aliases.RemoveKey(name))
                prompter.Show(kAccountNotRemoved, MessageKind::Error);
            else if (aliases.FindAddressOf(target, other))
                prompter.Show(kOnlyAddressRemoved, MessageKind::Warning);
            else if (!RemoveAccountFolder(target))
                prompter.Show(kAccountNotRemoved, MessageKind::Error);
        }
    } else if (prompter.AskDefaultNo(kReallyDeleteForward, MessageKind::QuestionWarning) ==
                   Answer::Yes &&
               !aliases.RemoveKey(name)) {
        prompter.Show(kAccountNotRemoved, MessageKind::Error);
    }
    RebuildList(prompter);
    Edited();
}

bool CPageDomains::AdoptAccount(const std::string& account, CAddAccountDlg& dialog,
                                CPrompter& prompter) {
    // What the dialog leaves unticked is switched off, so that the account is what was asked
    // for and not what the interrupted run had half written.
    AccountSettings settings = dialog.CreationSettings();
    settings.flags = AccountSettings::kStoreSaveEnvelope | AccountSettings::kStoreQuota |
                     AccountSettings::kStoreMaxSize;
    if (!m_store.ChangeAccount(account, dialog.Value(CAddAccountDlg::kPassword), settings)) {
        const int error = platform::LastError();
        std::string text = strings::Text(kAccountNotCreated) + " " +
                           strings::Literal("Sein Ordner \"%s\" war schon vorhanden, aber Passwort und "
                                     "Einstellungen konnten darin nicht geschrieben werden.",
                                     {account});
        const auto folder = m_store.AccountFolder(account);
        const std::string cause =
            folder ? platform::WriteFailureCause(PathJoin(*folder, "password"), error) : "";
        prompter.ShowMessage({.id = kAccountNotCreated,
                              .text = cause.empty() ? text : text + " " + cause,
                              .kind = MessageKind::Error});
        return false;
    }
    m_config.journal.Record(CJournal::Kind::AccountAdopted, PathJoin(m_store.GetSpoolDir(), account));
    prompter.ShowText(
        strings::Literal("Der Ordner des Kontos \"%s\" war schon vorhanden, aber keine "
                         "Adresse führte dorthin. Er wurde als Konto übernommen: "
                         "Passwort und Einstellungen sind neu, die Mails darin "
                         "bleiben.",
                         account),
        MessageKind::Information);
    return true;
}

bool CPageDomains::RemoveAccountFolder(const std::string& account) {
    // The folder leaves the spool at once, as the list shows; its mail is deleted only after
    // the set that no longer names it has been saved (or comes back if that save fails).
    const std::string folder = PathJoin(m_store.GetSpoolDir(), account);
    if (m_config.dryRun) {
        m_config.journal.Record(CJournal::Kind::AccountRemoved, folder, false);
        return true;
    }
    auto aside = m_store.SetAsideAccount(account);
    if (!aside)
        return false;
    m_config.journal.Record(CJournal::Kind::AccountRemoved, folder);
    m_config.pendingRemovals.push_back({account, std::move(*aside)});
    return true;
}

// --- Changing an account ---------------------------------------------------------------------

bool CPageDomains::LoadAccountConfig(const std::string& account, CConfigMap& config) const {
    return m_store.LoadAccountConfig(account, config);
}

std::optional<std::string> CPageDomains::ReplyTemplatePath(const std::string& account,
                                                           const std::string& name) const {
    // The name comes from the account's "config", which others write too: only a plain file
    // name inside the account folder is taken, never a path (nor "x:..." that PathJoin would
    // take as complete by itself).
    if (!IsValidAccountName(name) || (name.size() > 1 && name[1] == ':'))
        return std::nullopt;
    const auto folder = m_store.AccountFolder(account);
    if (!folder)
        return std::nullopt;
    return PathJoin(*folder, name);
}

void CPageDomains::FillReply(const std::string& account, const CConfigMap& config,
                             CChangeAccountDlg& dialog) const {
    if (config.GetInt("RunReply", 0) == 0)
        return;
    // Without a name there is nothing to read; the default only applies when writing.
    const auto path = ReplyTemplatePath(account, config.GetString("RunReplyTemplate", ""));
    if (!path || !m_store.MayReadAccountFile(*path))
        return;
    CMail reply;
    (void)reply.Load(*path); // a template that cannot be read leaves the fields empty
    // A subject another program folded over several header lines is one line in the field,
    // which takes no line breaks.
    std::string subject = reply.GetSubject();
    for (std::size_t at; (at = subject.find_first_of("\r\n")) != std::string::npos;) {
        const std::size_t end = subject.find_first_not_of("\r\n\t ", at);
        subject.replace(at, (end == std::string::npos ? subject.size() : end) - at, " ");
    }
    dialog.SetValue(CAccountDlgBase::kReplySubject, subject);
    dialog.SetValue(CAccountDlgBase::kReplyText, reply.GetBody());
}

bool CPageDomains::StoreReply(const std::string& account, const std::string& sender,
                              const CChangeAccountDlg& dialog) const {
    // What ChangeAccount has just written, so that saving here keeps it. A file that cannot be
    // read back is not overwritten with the two keys alone.
    CConfigMap config;
    if (!LoadAccountConfig(account, config))
        return false;
    const bool wasOn = config.GetInt("RunReply", 0) != 0;
    const bool on = dialog.IsChecked(CAccountDlgBase::kReply);
    config.SetInt("RunAntiSpam", dialog.IsChecked(CAccountDlgBase::kAntiSpam) ? 1 : 0);
    config.SetInt("RunReply", on ? 1 : 0);

    std::string name = config.GetString("RunReplyTemplate", kDefaultReplyTemplate);
    auto path = ReplyTemplatePath(account, name);
    if (wasOn && !on && path && m_store.MayWriteAccountFile(*path))
        (void)platform::RemoveFile(*path); // one left behind is harmless while reply is off
    if (on) {
        if (!path) { // a name that leads elsewhere is replaced by the default
            name = kDefaultReplyTemplate;
            path = ReplyTemplatePath(account, name);
        }
        config.SetString("RunReplyTemplate", name);
        if (path && m_store.MayWriteAccountFile(*path)) {
            CMail reply;
            reply.SetFrom(sender);
            reply.SetSubject(dialog.Value(CAccountDlgBase::kReplySubject));
            reply.SetBody(dialog.Value(CAccountDlgBase::kReplyText));
            (void)reply.Save(*path, 0); // the keys are stored even when the template is not
        }
    }
    return config.Save(false);
}

void CPageDomains::TraceFlow(CPrompter& prompter) {
    // The selected address, or at the root the selected account; any other may be typed.
    std::string address;
    if (const auto row = m_rows.Selected())
        address = std::string(m_rows.Address(*row));
    // A wildcard or catch-all key is no address mail is sent to: the field opens empty.
    if (address.find_first_of("*?") != std::string::npos)
        address.clear();
    CTraceDlg dialog(m_config, address);
    prompter.RunDialog(dialog);
}

void CPageDomains::ChangeAccountFlow(CPrompter& prompter) {
    const auto row = m_rows.Selected();
    if (!row || IsBackupDomain()) {
        prompter.Show(kSelectAccountToChange, MessageKind::Error);
        return;
    }
    if (!AddressesEditable(prompter))
        return;
    const std::string name(m_rows.Address(*row));
    const auto dialog = OpenChange(name, prompter);
    if (!dialog)
        return;
    // A change the store refused brings the dialog back with what was typed.
    while (RunDialogAccepted(prompter, *dialog)) {
        if (ChangeAccountFrom(*dialog, prompter)) {
            RebuildList(prompter);
            m_rows.Select(m_rows.Find(name));
            Edited();
            return;
        }
    }
}

std::unique_ptr<CChangeAccountDlg> CPageDomains::OpenChange(const std::string& name,
                                                            CPrompter& prompter) const {
    std::string target;
    const bool found = m_config.aliases.Lookup(name, target);
    std::string account;
    if (found && HasAt(name) && !HasAt(target))
        account = target;
    else if (m_config.users.Contains(name))
        account = name;
    else {
        prompter.Show(kNotAnAccount, MessageKind::Error);
        return nullptr;
    }

    std::string password;
    CConfigMap config;
    (void)m_store.ReadAccount(account, password, config);
    auto made = std::make_unique<CChangeAccountDlg>(name, account);
    CChangeAccountDlg& dialog = *made;
    dialog.SetValue(CAccountDlgBase::kPassword, password);
    dialog.SetChecked(CAccountDlgBase::kSaveEnvelope, config.GetInt("SaveEnvelope", 0) != 0);
    const int quota = config.GetInt("Quota", 0);
    dialog.SetChecked(CAccountDlgBase::kQuotaOn, quota != 0);
    dialog.SetNumber(CAccountDlgBase::kQuota, quota);
    const int size = config.GetInt("MaxSize", 0);
    dialog.SetChecked(CAccountDlgBase::kSizeOn, size != 0);
    dialog.SetNumber(CAccountDlgBase::kSize, size);
    dialog.SetChecked(CAccountDlgBase::kAntiSpam, config.GetInt("RunAntiSpam", 0) != 0);
    dialog.SetChecked(CAccountDlgBase::kReply, config.GetInt("RunReply", 0) != 0);
    FillReply(account, config, dialog);
    dialog.UpdateStates();
    return made;
}

bool CPageDomains::ChangeAccountFrom(const CChangeAccountDlg& dialog, CPrompter& prompter,
                                     bool dryRun) {
    if (!AddressesEditable(prompter))
        return false;
    const std::string newPassword = dialog.Value(CAccountDlgBase::kPassword);
    if (newPassword.empty()) {
        prompter.Show(kPasswordForChange, MessageKind::Error);
        return false;
    }
    if (dryRun)
        return true;
    const std::string account = dialog.AccountName();
    const std::string folder = PathJoin(m_store.GetSpoolDir(), account);
    if (m_config.dryRun) {
        m_config.journal.Record(CJournal::Kind::AccountChanged, folder, false);
        return true;
    }
    if (!m_store.ChangeAccount(account, newPassword, dialog.ChangeSettings())) {
        prompter.Show(kAccountNotChanged, MessageKind::Error);
        return false;
    }
    m_config.journal.Record(CJournal::Kind::AccountChanged, folder);
    // The template's sender is what the list shows: the address, or the bare account name of
    // a root row.
    if (!StoreReply(account, dialog.Value(CChangeAccountDlg::kAddress), dialog))
        prompter.ShowText(kConfigNotSaved, MessageKind::Error);
    return true;
}
