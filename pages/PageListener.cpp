#include "pages/PageListener.h"

#include "Common/Ansi.h"
#include "app/Strings.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <array>
#include <climits>
#include <set>

using listener::ListFile;

namespace {

using P = CPageConfigListener;
using S = CPageConfigSMTP;

constexpr int kAddressLimit = 15;

// --- Field tables ----------------------------------------------------------------------------

constexpr CFieldSpec Threads(const char* defaultValue, long minimum, long maximum,
                             long arrowMinimum, long arrowMaximum) {
    return {.id = P::kMaxThreads,
            .type = FieldType::Number,
            .label = "&Maximale Threads:",
            .row = 0,
            .minimum = minimum,
            .maximum = maximum,
            .arrowMinimum = arrowMinimum,
            .arrowMaximum = arrowMaximum,
            .key = "MaxThreads",
            .defaultValue = defaultValue};
}
constexpr CFieldSpec kBacklogField{.id = P::kBacklog,
                                   .type = FieldType::Number,
                                   .label = "&Warteschlange:",
                                   .row = 1,
                                   .minimum = 3,
                                   .maximum = 200,
                                   .arrowMinimum = 3,
                                   .arrowMaximum = 32767,
                                   .key = "Backlog",
                                   .defaultValue = "5"};
// The time-out is also clamped into its accepted range when it is loaded.
constexpr CFieldSpec TimeOut(const char* defaultValue, long minimum, long maximum) {
    return {.id = P::kTimeOut,
            .type = FieldType::Number,
            .label = "&Verbindungstimeout:",
            .row = 2,
            .minimum = minimum,
            .maximum = maximum,
            .arrowMinimum = minimum,
            .arrowMaximum = maximum,
            .key = "TimeOut",
            .defaultValue = defaultValue};
}
constexpr CFieldSpec kReverseLookupField{.id = P::kReverseLookup,
                                         .type = FieldType::Check,
                                         .label = "&Reverse Lookup durchführen",
                                         .row = 3,
                                         .key = "ReverseLookup",
                                         .defaultValue = "1"};
constexpr CFieldSpec AddressField(const char* id, int row) {
    return {.id = id,
            .type = FieldType::Text,
            .label = "",
            .row = row,
            .maxLength = kAddressLimit,
            .flags = kFieldImmediate};
}
constexpr CFieldSpec kAdvancedTextField{
    .id = P::kAdvancedText, .type = FieldType::Text, .label = "", .row = 9,
    .flags = kFieldReadOnly};

constexpr std::array<CFieldSpec, 7> kPop3Fields{{
    Threads("4", 2, 100, 2, 10),
    kBacklogField,
    TimeOut("90", 60, 1200),
    kReverseLookupField,
    AddressField(P::kAllowAddress, 4),
    AddressField(P::kAllowMask, 5),
    kAdvancedTextField,
}};
constexpr std::array<CFieldSpec, 7> kImap4Fields{{
    Threads("40", 20, 400, 20, 400),
    kBacklogField,
    TimeOut("1800", 1800, 3600),
    kReverseLookupField,
    AddressField(P::kAllowAddress, 4),
    AddressField(P::kAllowMask, 5),
    kAdvancedTextField,
}};
constexpr std::array<CFieldSpec, 9> kSmtpFields{{
    Threads("4", 2, 100, 2, 10),
    kBacklogField,
    TimeOut("90", 60, 1200),
    kReverseLookupField,
    AddressField(P::kAllowAddress, 4),
    AddressField(P::kAllowMask, 5),
    AddressField(S::kRelayAddress, 6),
    AddressField(S::kRelayMask, 7),
    kAdvancedTextField,
}};

// --- Commands and lists ----------------------------------------------------------------------

#define LISTENER_COMMANDS                                                                     \
    {.id = P::kAddInterface, .label = "&Hinzufügen..."},                                      \
        {.id = P::kRemoveInterface,                                                           \
         .label = "Ent&fernen",                                                               \
         .places = kPlaceButton | kPlaceDeleteKey,                                            \
         .listId = P::kInterfaces},                                                           \
        {.id = P::kEditInterface,                                                             \
         .label = "&Bearbeiten...",                                                           \
         .listId = P::kInterfaces,                                                            \
         .doubleClick = true},                                                                \
        {.id = P::kAllowAdd, .label = ">"},                                                   \
        {.id = P::kAllowRemove,                                                               \
         .label = "<",                                                                        \
         .places = kPlaceButton | kPlaceDeleteKey,                                            \
         .listId = P::kAllowList},                                                            \
        {.id = P::kAdvanced, .label = "&Erweitert..."}

constexpr std::array<CCommandSpec, 6> kCommands{{LISTENER_COMMANDS}};
constexpr std::array<CCommandSpec, 8> kSmtpCommands{{
    LISTENER_COMMANDS,
    {.id = S::kRelayAdd, .label = ">"},
    {.id = S::kRelayRemove,
     .label = "<",
     .places = kPlaceButton | kPlaceDeleteKey,
     .listId = S::kRelayList},
}};
#undef LISTENER_COMMANDS

constexpr std::array<CListSpec, 2> kLists{{
    {.id = P::kInterfaces, .kind = CListSpec::Kind::List},
    {.id = P::kAllowList, .kind = CListSpec::Kind::List},
}};
constexpr std::array<CListSpec, 3> kSmtpLists{{
    {.id = P::kInterfaces, .kind = CListSpec::Kind::List},
    {.id = P::kAllowList, .kind = CListSpec::Kind::List},
    {.id = S::kRelayList, .kind = CListSpec::Kind::List},
}};

// --- List files ------------------------------------------------------------------------------

constexpr CAccessListEditor::Ids kAllowEditor{.address = P::kAllowAddress,
                                              .mask = P::kAllowMask,
                                              .list = P::kAllowList,
                                              .add = P::kAllowAdd,
                                              .remove = P::kAllowRemove};
constexpr CAccessListEditor::Ids kRelayEditor{.address = S::kRelayAddress,
                                              .mask = S::kRelayMask,
                                              .list = S::kRelayList,
                                              .add = S::kRelayAdd,
                                              .remove = S::kRelayRemove};

constexpr ListFile kAllowFile{.fileKey = "AccessAllowFile",
                              .defaultName = "access.allow",
                              .seedKey = "AllowAccess",
                              .seedDefault = "0.0.0.0/0.0.0.0",
                              .editor = kAllowEditor};

// The deny list of POP3 and IMAP4 is carried, never shown and never seeded.
constexpr std::array<ListFile, 2> kMailboxListFiles{{
    kAllowFile,
    {.fileKey = "AccessDenyFile", .defaultName = "access.deny"},
}};
constexpr std::array<const char*, 2> kMailboxRemovedKeys{"AllowAccess", "DenyAccess"};

constexpr std::array<ListFile, 7> kSmtpListFiles{{
    kAllowFile,
    {.fileKey = "AccessRelayFile",
     .defaultName = "access.relay",
     .seedKey = "AllowRelay",
     .seedDefault = "127.0.0.0/255.0.0.0",
     .editor = kRelayEditor},
    {.fileKey = "AccessTrustedFile", .defaultName = "access.trusted", .seedKey = "NeverBlock"},
    {.fileKey = "DenyConnectFile", .defaultName = "deny.connect", .seedKey = "DenyAccess"},
    {.fileKey = "DenyTransactFile", .defaultName = "deny.transact"},
    {.fileKey = "DnsRblConnectFile", .defaultName = "dnsrbl.connect", .seedKey = "DnsBlocklists"},
    {.fileKey = "DnsRblTransactFile",
     .defaultName = "dnsrbl.transact",
     .seedKey = "DnsBlocklists2"},
}};
constexpr std::array<const char*, 6> kSmtpRemovedKeys{"AllowAccess",  "AllowRelay",
                                                      "NeverBlock",   "DenyAccess",
                                                      "DnsBlocklists", "DnsBlocklists2"};

const P::Table kPop3Table{
    .caption = "POP3-Server",
    .helpContext = help::resource::kPagePop3,
    .form = "PageListener",
    .file = &CConfigSet::pop3d,
    .defaultPort = 110,
    .sslPort = 995,
    .addPort = 110,
    .advancedText = "Erweiterte Einstellungen des POP3-Servers.",
    .fields = kPop3Fields,
    .commands = kCommands,
    .lists = kLists,
    .listFiles = kMailboxListFiles,
    .removedKeys = kMailboxRemovedKeys,
};
const P::Table kImap4Table{
    .caption = "IMAP4-Server",
    .helpContext = help::resource::kPageImap4,
    .form = "PageListener",
    .file = &CConfigSet::imap4d,
    .defaultPort = 143,
    .sslPort = 993,
    .addPort = 143,
    .advancedText = "Erweiterte Einstellungen des IMAP4-Servers.",
    .fields = kImap4Fields,
    .commands = kCommands,
    .lists = kLists,
    .listFiles = kMailboxListFiles,
    .removedKeys = kMailboxRemovedKeys,
};
const P::Table kSmtpTable{
    .caption = "SMTP-Server",
    .helpContext = help::resource::kPageSmtp,
    .form = "PageSmtp",
    .file = &CConfigSet::smtpd,
    .defaultPort = 25,
    .sslPort = 465,
    .addPort = 25,
    .advancedText = "Erweiterte Einstellungen des SMTP-Servers.",
    .fields = kSmtpFields,
    .commands = kSmtpCommands,
    .lists = kSmtpLists,
    .listFiles = kSmtpListFiles,
    .removedKeys = kSmtpRemovedKeys,
};

// The order apply writes the numbers in.
constexpr std::array<const char*, 4> kNumberKeys{"MaxThreads", "Backlog", "ReverseLookup",
                                                 "TimeOut"};

constexpr std::array<CColumnSpec, 1> kListBoxColumns{{{.heading = "", .widthShare = 0}}};
// w - w/3 - w/4, w/3 and w/4 of the list's width.
constexpr std::array<CColumnSpec, 3> kInterfaceColumns{{
    {.heading = "IP-Adresse", .widthShare = 0},
    {.heading = "TCP-Anschluß", .widthShare = 333},
    {.heading = "SSL/TLS", .widthShare = 250},
}};
constexpr std::array<const char*, 2> kInterfaceIcons{"interface-plain", "interface-secure"};

} // namespace

// --- Rows ------------------------------------------------------------------------------------

std::span<const CColumnSpec> CSortedListRows::Columns() const {
    return kListBoxColumns;
}

std::string CSortedListRows::CellText(std::size_t row, std::size_t) const {
    return m_sorted[row];
}

void CSortedListRows::Refill() {
    m_seen.clear();
    m_seen.reserve(m_list.GetCount());
    for (auto position = m_list.GetHeadPosition(); position;)
        m_seen.emplace_back(m_list.GetNext(position));
    m_sorted = m_seen;
    std::sort(m_sorted.begin(), m_sorted.end());
    Reset();
}

bool CSortedListRows::IsStale() const {
    if (m_list.GetCount() != m_seen.size())
        return true;
    std::size_t i = 0;
    for (auto position = m_list.GetHeadPosition(); position; ++i)
        if (m_list.GetNext(position) != m_seen[i])
            return true;
    return false;
}

std::span<const CColumnSpec> CInterfaceRows::Columns() const {
    return kInterfaceColumns;
}

std::span<const char* const> CInterfaceRows::Icons() const {
    return kInterfaceIcons;
}

std::string CInterfaceRows::CellText(std::size_t row, std::size_t column) const {
    const Row& r = m_rows[row];
    switch (column) {
    case 0:
        return r.address == "*" ? std::string(listener::kAllAddresses) : r.address;
    case 1:
        return std::to_string(r.port);
    default:
        return r.ssl ? "Ja" : "";
    }
}

int CInterfaceRows::RowIcon(std::size_t row) const {
    return m_rows[row].ssl ? kSecure : kPlain;
}

void CInterfaceRows::Refill() {
    m_rows.clear();
    for (auto position = m_entries.GetHeadPosition(); position;) {
        auto entry = listener::ReadInterface(m_entries.GetNext(position), m_defaultPort, m_sslPort);
        m_rows.push_back({std::move(entry.address), entry.port, entry.ssl});
    }
    Reset();
}

// --- Entries ---------------------------------------------------------------------------------

namespace listener {

InterfaceEntry ReadInterface(std::string_view entry, long defaultPort, long sslPort) {
    const auto colon = entry.find(':');
    if (colon == std::string_view::npos)
        return {std::string(entry), defaultPort, false};
    const std::string_view portText = entry.substr(colon + 1);
    long port = 0;
    for (char c : portText) {
        if (c < '0' || c > '9')
            break;
        port = std::min<long>(port * 10 + (c - '0'), INT_MAX);
    }
    const bool ssl = !portText.empty() && portText.back() == 's';
    if (port == 0)
        port = ssl ? sslPort : defaultPort;
    return {std::string(entry.substr(0, colon)), port, ssl};
}

std::string MakeInterface(std::string_view address, long port, bool ssl) {
    std::string entry = ansi::EqualNoCase(address, kAllAddresses) ? "*" : std::string(address);
    entry += ':';
    entry += std::to_string(port);
    if (ssl)
        entry += 's';
    return entry;
}

std::optional<std::string> AccessRefusal(std::string_view address, std::string_view mask) {
    // The services read an entry as two dotted addresses; anything else would admit nobody, or
    // everybody, depending on the service.
    for (std::string_view half : {address, mask})
        if (!IsDottedIPv4(half))
            return strings::Literal("\"%s\" ist keine gültige IPv4-Adresse. Bitte geben Sie "
                                    "Adresse und Maske in der Form 192.168.0.0 und "
                                    "255.255.255.0 ein.",
                                    half);
    return std::nullopt;
}

} // namespace listener

// --- Access list editor ----------------------------------------------------------------------

bool CAccessListEditor::Owns(std::string_view id) const {
    return id == m_ids.address || id == m_ids.mask || id == m_ids.list || id == m_ids.add ||
           id == m_ids.remove;
}

bool CAccessListEditor::Add(CFieldModel& model, CPrompter& prompter) {
    const std::string address = model.Value(m_ids.address);
    const std::string mask = model.Value(m_ids.mask);
    if (address.empty() || mask.empty())
        return false;
    // What the files already hold is left as it is.
    if (auto refusal = listener::AccessRefusal(address, mask)) {
        prompter.ShowText(*refusal, MessageKind::Warning);
        return false;
    }
    m_list.AddTail(address + "/" + mask);
    m_rows.Refill();
    model.SetValue(m_ids.address, "");
    model.SetValue(m_ids.mask, "");
    return true;
}

bool CAccessListEditor::Remove(CFieldModel& model) {
    const auto row = m_rows.Selected();
    if (!row)
        return false;
    const std::string text = m_rows.CellText(*row, 0);
    if (auto position = m_list.Find(text))
        m_list.RemoveAt(position);
    const auto slash = text.find('/');
    if (slash != std::string::npos) {
        model.SetValue(m_ids.address, text.substr(0, slash));
        model.SetValue(m_ids.mask, text.substr(slash + 1));
    }
    m_rows.Refill();
    return true;
}

void CAccessListEditor::UpdateStates(CFieldModel& model) const {
    model.SetEnabled(m_ids.add, !model.Value(m_ids.address).empty() &&
                                    !model.Value(m_ids.mask).empty());
    model.SetEnabled(m_ids.remove, m_rows.Selected().has_value());
}

// --- The listener core -----------------------------------------------------------------------

CPageConfigListener::CPageConfigListener(const Table& table, CConfigSet& config,
                                         AdvancedDialogFactory advanced,
                                         listener::AddressSource addresses)
    : m_table(table), m_config(config), m_advanced(std::move(advanced)),
      m_addresses(std::move(addresses)),
      m_directory(platform::GetEnvironment("MAILCONFIGDIR").value_or(std::string())),
      m_interfaceRows(m_interfaces, table.defaultPort, table.sslPort) {
    const CConfigMap& file = File();
    for (const CFieldSpec& field : Fields()) {
        if (!field.key)
            continue;
        long value = file.GetInt(field.key, std::atoi(field.defaultValue));
        if (field.id == std::string_view(kTimeOut))
            value = std::clamp(value, field.minimum, field.maximum);
        SetNumber(field.id, value);
    }
    SetValue(kAdvancedText, m_table.advancedText);

    for (const ListFile& entry : m_table.listFiles) {
        const std::string path = PathJoin(m_directory, FileName(entry));
        CStorableList& list = m_config.SharedList(path);
        m_lists.push_back(&list);
        // Seeded only when the file gave nothing, from the page's older key or its default.
        if (entry.seedKey) {
            const bool own = !file.GetString(entry.seedKey, "").empty();
            CStringListEx seed;
            file.GetList(entry.seedKey, seed, entry.seedDefault ? entry.seedDefault : "");
            m_config.SeedSharedList(path, seed, !own);
        }
        if (entry.editor.list) {
            m_editors.push_back(std::make_unique<CAccessListEditor>(entry.editor, list));
            m_editors.back()->rows().Refill();
        }
    }
    file.GetList("Interface", m_interfaces, "*");
    m_interfaceRows.Refill();
    CPageConfigListener::UpdateStates();
}

std::optional<std::string> CPageConfigListener::ShowKey(std::string_view file,
                                                         std::string_view key, CPrompter&) {
    const auto shownList = [](const ListFile& list) -> std::optional<std::string> {
        if (list.editor.list)
            return std::string(list.editor.list);
        return std::nullopt;
    };
    for (const ListFile& list : ListFiles())
        if (ansi::EqualNoCase(platform::BaseName(PathOf(list.fileKey)), file))
            return shownList(list);
    bool own = false;
    for (const CConfigSet::File& candidate : m_config.Files())
        own = own || (candidate.map == &File() && ansi::EqualNoCase(candidate.name, file));
    if (!own)
        return std::nullopt;
    if (const char* field = FieldOfKey(key))
        return std::string(field);
    if (ansi::EqualNoCase(key, "Interface"))
        return std::string(kInterfaces);
    for (const ListFile& list : ListFiles())
        if (ansi::EqualNoCase(key, list.fileKey) ||
            (list.seedKey && ansi::EqualNoCase(key, list.seedKey)))
            return shownList(list);
    // The rest of the service's keys (the certificate, VRFY, SRS) live in its advanced dialog.
    return key.empty() ? std::nullopt : std::optional<std::string>(kAdvanced);
}

std::string CPageConfigListener::FileName(const ListFile& entry) const {
    return File().GetString(entry.fileKey, entry.defaultName);
}

std::string CPageConfigListener::PathOf(std::string_view fileKey) const {
    for (const ListFile& entry : m_table.listFiles)
        if (fileKey == entry.fileKey)
            return PathJoin(m_directory, FileName(entry));
    return {};
}

CStorableList& CPageConfigListener::ListOf(std::string_view fileKey) {
    for (std::size_t i = 0; i < m_table.listFiles.size(); ++i)
        if (fileKey == m_table.listFiles[i].fileKey)
            return *m_lists[i];
    return *m_lists.front();
}

CRowModel* CPageConfigListener::RowsOf(std::string_view listId) {
    if (listId == kInterfaces)
        return &m_interfaceRows;
    for (auto& editor : m_editors)
        if (listId == editor->ids().list)
            return &editor->rows();
    return nullptr;
}

void CPageConfigListener::OnFieldEdited(std::string_view id) {
    // Typing a new access entry changes nothing yet; ">" does. The numbers and the check box are
    // written on every apply, so they make the page applicable.
    for (auto& editor : m_editors)
        if (editor->Owns(id))
            return;
    if (FindField(id))
        SetModified();
}

void CPageConfigListener::UpdateStates() {
    const bool selected = m_interfaceRows.Selected().has_value();
    SetEnabled(kRemoveInterface, selected);
    SetEnabled(kEditInterface, selected);
    for (auto& editor : m_editors)
        editor->UpdateStates(*this);
}

void CPageConfigListener::OnFirstShow(CPrompter& prompter) {
    (void)Poll(prompter);
}

bool CPageConfigListener::Poll(CPrompter&) {
    bool changed = false;
    for (auto& editor : m_editors) {
        if (!editor->rows().IsStale())
            continue;
        editor->rows().Refill();
        changed = true;
    }
    if (changed)
        UpdateStates();
    return changed;
}

std::optional<CStringListEx::POSITION> CPageConfigListener::FindSelectedInterface() const {
    const auto row = m_interfaceRows.Selected();
    if (!row)
        return std::nullopt;
    const std::string address = m_interfaceRows.CellText(*row, 0);
    const long port = std::atol(m_interfaceRows.CellText(*row, 1).c_str());
    for (auto position = m_interfaces.GetHeadPosition(); position;) {
        const auto at = position;
        const auto entry = listener::ReadInterface(m_interfaces.GetNext(position),
                                                   m_table.defaultPort, m_table.sslPort);
        const bool sameAddress =
            entry.address == address || (entry.address == "*" && address == listener::kAllAddresses);
        if (sameAddress && entry.port == port)
            return at;
    }
    return std::nullopt;
}

void CPageConfigListener::EditInterface(CPrompter& prompter, bool adding) {
    CInterfaceDlg dialog(m_table.addPort, m_addresses);
    std::optional<CStringListEx::POSITION> found;
    if (!adding) {
        found = FindSelectedInterface();
        if (!found)
            return;
        const auto entry = listener::ReadInterface(m_interfaces.GetAt(*found),
                                                   m_table.defaultPort, m_table.sslPort);
        const auto row = *m_interfaceRows.Selected();
        dialog.Edit(entry.address, entry.port, !m_interfaceRows.CellText(row, 2).empty());
    }
    if (!RunDialogAccepted(prompter, dialog))
        return;
    const std::string entry = listener::MakeInterface(dialog.Address(), dialog.Port(), dialog.Ssl());
    if (found)
        m_interfaces.SetAt(*found, entry);
    else
        m_interfaces.AddTail(entry);
    m_interfaceRows.Refill();
    SetModified();
}

void CPageConfigListener::OnCommand(std::string_view commandId, CPrompter& prompter) {
    if (commandId == kAddInterface) {
        EditInterface(prompter, true);
    } else if (commandId == kEditInterface) {
        EditInterface(prompter, false);
    } else if (commandId == kRemoveInterface) {
        if (auto found = FindSelectedInterface()) {
            m_interfaces.RemoveAt(*found);
            m_interfaceRows.Refill();
            SetModified();
        }
    } else if (commandId == kAdvanced) {
        if (!m_advanced)
            return;
        if (auto dialog = m_advanced(m_config); dialog && RunDialogAccepted(prompter, *dialog))
            SetModified();
    } else {
        for (std::size_t i = 0, e = 0; i < m_table.listFiles.size(); ++i) {
            if (!m_table.listFiles[i].editor.list)
                continue;
            CAccessListEditor& editor = *m_editors[e++];
            const bool changed = commandId == editor.ids().add      ? editor.Add(*this, prompter)
                                 : commandId == editor.ids().remove ? editor.Remove(*this)
                                                                    : false;
            if (changed) {
                m_lists[i]->SetModified();
                SetModified();
            }
        }
    }
}

void CPageConfigListener::SaveLists(CPrompter& prompter) {
    const std::string backups = PathJoin(m_directory, "backup.cfg");
    (void)platform::MakeDirectory(backups); // usually exists already
    for (const ListFile& entry : m_table.listFiles) {
        const std::string name = FileName(entry);
        const std::string path = PathJoin(m_directory, name);
        // A name that leads into another folder still has its copy in the backup folder.
        const auto outcome =
            m_config.SaveSharedList(path, PathJoin(backups, platform::BaseName(name)));
        if (outcome == CConfigSet::ListSave::Failed)
            prompter.ShowText(strings::Literal("Die Zugriffsliste konnte nicht in die Datei \"%s\" "
                                               "geschrieben werden. Die Datei ist unverändert; "
                                               "die übrigen Einstellungen wurden übernommen.",
                                               path),
                              MessageKind::Error);
        else if (outcome == CConfigSet::ListSave::KeptUnreadable)
            prompter.ShowText(
                strings::Literal("Die Zugriffsliste \"%s\" konnte beim Start nicht gelesen "
                                 "werden. Sie wird nicht überschrieben, damit ihr Inhalt "
                                 "erhalten bleibt; die übrigen Einstellungen wurden übernommen.",
                                 path),
                MessageKind::Error);
    }
}

bool CPageConfigListener::OnApply(CPrompter& prompter) {
    m_config.BeginListApply(this);
    StoreFields();
    SaveLists(prompter);
    // An older key goes once its entries are in their file; while the file could not be
    // written, the key is their only copy.
    DropRemovedKeys([this](const std::string& path) { return m_config.SharedListSaved(path); });
    LockCancel();
    return true;
}

bool CPageConfigListener::OnStage(CPrompter&) {
    StoreFields();
    for (const ListFile& entry : m_table.listFiles)
        m_config.StageSharedList(PathJoin(m_directory, FileName(entry)));
    // As if the apply's lists reached their files: one that could not be read is never written.
    DropRemovedKeys([this](const std::string& path) { return m_config.SharedListWritable(path); });
    return true;
}

void CPageConfigListener::StoreFields() {
    CConfigMap& file = File();
    file.SetList("Interface", m_interfaces);
    for (const char* key : kNumberKeys)
        for (const CFieldSpec& field : Fields())
            if (field.key && key == std::string_view(field.key))
                file.SetInt(key, static_cast<int>(Number(field.id)));
}

void CPageConfigListener::DropRemovedKeys(const std::function<bool(const std::string&)>& listSaved) {
    CConfigMap& file = File();
    for (const char* key : m_table.removedKeys) {
        bool kept = false;
        for (const ListFile& entry : m_table.listFiles)
            if (entry.seedKey && key == std::string_view(entry.seedKey) &&
                !listSaved(PathJoin(m_directory, FileName(entry))))
                kept = true;
        if (!kept)
            file.SetString(key, "");
    }
}

CPageConfigPOP3::CPageConfigPOP3(CConfigSet& config, AdvancedDialogFactory advanced,
                                 listener::AddressSource addresses)
    : CPageConfigListener(kPop3Table, config, std::move(advanced), std::move(addresses)) {}

CPageConfigIMAP4::CPageConfigIMAP4(CConfigSet& config, AdvancedDialogFactory advanced,
                                   listener::AddressSource addresses)
    : CPageConfigListener(kImap4Table, config, std::move(advanced), std::move(addresses)) {}

CPageConfigSMTP::CPageConfigSMTP(CConfigSet& config, AdvancedDialogFactory advanced,
                                 listener::AddressSource addresses)
    : CPageConfigListener(kSmtpTable, config, std::move(advanced), std::move(addresses)) {}
