#include "pages/TransportRules.h"

#include "Common/Ansi.h"
#include "app/Strings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace transport {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal number at the start of text: an optional sign, then digits; no digits give 0.
// Saturates far above any port, so that a long digit string is refused as out of range.
long LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long number = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        number = std::min(number * 10 + (text[i] - '0'), 999999999L);
    return negative ? -number : number;
}

struct Parts {
    bool logsIn;
    std::string_view login; // everything before the last "@"
    std::string_view server; // everything after it
};

Parts Split(std::string_view value) {
    const std::size_t at = value.rfind('@');
    if (at == std::string_view::npos)
        return {false, {}, value};
    return {true, value.substr(0, at), value.substr(at + 1)};
}

} // namespace

RuleValue ReadValue(std::string_view value) {
    RuleValue rule;
    const Parts parts = Split(value);
    rule.logsIn = parts.logsIn;
    const std::size_t colon = parts.server.find(':');
    if (colon != std::string_view::npos) {
        rule.server = parts.server.substr(0, colon);
        rule.port = LeadingNumber(parts.server.substr(colon + 1));
        rule.ssl = parts.server.back() == 's';
    } else {
        rule.server = parts.server;
    }
    const std::size_t loginColon = parts.login.find(':');
    rule.login = parts.login.substr(0, loginColon);
    if (loginColon != std::string_view::npos)
        rule.password = parts.login.substr(loginColon + 1);
    return rule;
}

ListCells ReadListCells(std::string_view value) {
    ListCells cells;
    const Parts parts = Split(value);
    const std::size_t colon = parts.server.rfind(':');
    if (colon != std::string_view::npos) {
        cells.server = parts.server.substr(0, colon);
        // A port written by hand with a sign is shown as it reads, not as a wrapped-around
        // unsigned number.
        cells.port = std::to_string(LeadingNumber(parts.server.substr(colon + 1)));
    } else {
        cells.server = parts.server;
        cells.port = "25";
    }
    if (parts.logsIn) {
        const std::size_t first = value.find(':');
        cells.login = first != std::string_view::npos ? value.substr(0, first) : parts.login;
    }
    return cells;
}

std::string BuildValue(const RuleValue& rule) {
    std::string value;
    if (rule.logsIn)
        value = rule.login + ":" + rule.password + "@";
    value += rule.server;
    value += ':';
    value += std::to_string(static_cast<unsigned>(rule.port));
    if (rule.ssl)
        value += 's';
    return value;
}

Dependency DependencyOf(std::string_view key) {
    return !key.empty() && key.front() == '<' ? kSender : kRecipient;
}

std::string_view DomainOf(std::string_view key) {
    return !key.empty() && (key.front() == '<' || key.front() == '>') ? key.substr(1) : key;
}

std::string KeyOf(Dependency dependency, std::string_view domain) {
    return dependency == kSender ? "<" + std::string(domain) : std::string(domain);
}

} // namespace transport

// --- The rule list ---------------------------------------------------------------------------

namespace {

// Thirteenths of the width: 2, 3, 3 and 1, the login column takes the rest.
constexpr std::array<CColumnSpec, 5> kColumns{{
    {.heading = "Abhängigkeit", .widthShare = 153},
    {.heading = "Domain", .widthShare = 230},
    {.heading = "SMTP-Server", .widthShare = 230},
    {.heading = "Port", .widthShare = 76},
    {.heading = "Login", .widthShare = 0},
}};
constexpr std::array<const char*, 2> kRowIcons{{"rule-sender", "rule-recipient"}};

constexpr std::array<CCommandSpec, 3> kListCommands{{
    {.id = CTransportRulesDlg::kAdd, .label = "&Hinzufügen..."},
    {.id = CTransportRulesDlg::kRemove,
     .label = "Ent&fernen",
     .places = kPlaceButton | kPlaceDeleteKey,
     .listId = CTransportRulesDlg::kRules},
    {.id = CTransportRulesDlg::kEdit,
     .label = "&Bearbeiten...",
     .listId = CTransportRulesDlg::kRules,
     .doubleClick = true},
}};
constexpr std::array<CListSpec, 1> kLists{{{.id = CTransportRulesDlg::kRules,
                                            .kind = CListSpec::Kind::List}}};

constexpr std::array<CChoice, 2> kDependencies{{
    {.value = "0", .label = "Ab&sender"},
    {.value = "1", .label = "&Empfänger"},
}};

constexpr std::array<CFieldSpec, 8> kRuleFields{{
    {.id = CTransportRuleDlg::kDependency,
     .type = FieldType::Choice,
     .label = "Wenn der",
     .row = 0,
     .choices = kDependencies},
    {.id = CTransportRuleDlg::kDomain,
     .type = FieldType::Text,
     .label = "aus der &Domain",
     .row = 1},
    {.id = CTransportRuleDlg::kServer,
     .type = FieldType::Text,
     .label = "SMTP-&Server:",
     .row = 2},
    {.id = CTransportRuleDlg::kPort,
     .type = FieldType::Number,
     .label = "&TCP-Anschluss:",
     .row = 3,
     .minimum = 0,
     .maximum = 65535,
     .arrowMinimum = 0,
     .arrowMaximum = 65535},
    {.id = CTransportRuleDlg::kSsl, .type = FieldType::Check, .label = "SSL/TLS", .row = 4},
    {.id = CTransportRuleDlg::kLogin,
     .type = FieldType::Text,
     .label = "&Login:",
     .row = 6},
    {.id = CTransportRuleDlg::kPassword,
     .type = FieldType::Text,
     .label = "&Passwort:",
     .row = 7,
     .flags = kFieldMasked},
    {.id = CTransportRuleDlg::kLogsIn,
     .type = FieldType::Check,
     .label = "Am Server &anmelden",
     .row = 5},
}};

bool IsBlankOrControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

bool Refuse(CPrompter& prompter, const std::string& text) {
    prompter.ShowText(text, MessageKind::Warning);
    return false;
}

} // namespace

std::span<const CColumnSpec> CTransportRuleRows::Columns() const {
    return kColumns;
}

std::span<const char* const> CTransportRuleRows::Icons() const {
    return kRowIcons;
}

std::string CTransportRuleRows::CellText(std::size_t row, std::size_t column) const {
    if (row >= m_rows.size() || column >= 5)
        return {};
    return m_rows[row].cells[column];
}

int CTransportRuleRows::RowIcon(std::size_t row) const {
    return row < m_rows.size() ? m_rows[row].icon : -1;
}

void CTransportRuleRows::Fill(const CMapEx& map) {
    m_rows.clear();
    std::string key;
    std::string value;
    for (CMapEx::POSITION position = map.GetStartPosition(); position;) {
        const CMapEx::POSITION at = position;
        map.GetNextAssoc(position, key, value);
        const bool sender = transport::DependencyOf(key) == transport::kSender;
        const transport::ListCells cells = transport::ReadListCells(value);
        m_rows.push_back({.position = at,
                          .key = key,
                          .cells = {strings::Literal(sender ? "Absender" : "Empfänger"),
                                    std::string(transport::DomainOf(key)), cells.server,
                                    cells.port, cells.login},
                          .icon = sender ? kSenderIcon : kRecipientIcon});
    }
    Reset();
}

std::optional<std::size_t> CTransportRuleRows::Find(std::string_view key) const {
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        if (m_rows[row].key == key)
            return row;
    return std::nullopt;
}

// --- The rule editor -------------------------------------------------------------------------

CTransportRuleDlg::CTransportRuleDlg(const CDomainList* domains) : m_domains(domains) {
    SetValue(kDependency, "0");
    SetNumber(kPort, 25);
    SetValue(kSsl, "0");
    SetValue(kLogsIn, "0");
    UpdateStates();
}

CTransportRuleDlg::CTransportRuleDlg(const CDomainList* domains, std::string_view key,
                                     std::string_view value)
    : m_domains(domains), m_openedKey(std::string(key)), m_openedValue(value),
      m_openingDependency(transport::DependencyOf(key)) {
    const transport::RuleValue rule = transport::ReadValue(value);
    SetValue(kDependency, std::to_string(m_openingDependency));
    SetValue(kDomain, std::string(transport::DomainOf(key)));
    SetValue(kServer, rule.server);
    SetNumber(kPort, rule.port);
    SetValue(kSsl, rule.ssl ? "1" : "0");
    SetValue(kLogin, rule.login);
    SetValue(kPassword, rule.password);
    SetValue(kLogsIn, rule.logsIn ? "1" : "0");
    UpdateStates();
}

std::span<const CFieldSpec> CTransportRuleDlg::Fields() const {
    return kRuleFields;
}

std::vector<std::string> CTransportRuleDlg::Suggestions(std::string_view fieldId) const {
    if (fieldId != kDomain)
        return {};
    std::vector<std::string> offered{"*"};
    if (m_domains)
        for (auto position = m_domains->GetHeadPosition(); position;)
            offered.emplace_back(m_domains->GetNext(position));
    // The drop-down is sorted as a list box sorts: without regard to letter case.
    std::stable_sort(offered.begin(), offered.end(), [](const std::string& a, const std::string& b) {
        return ansi::ToLower(a) < ansi::ToLower(b);
    });
    offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
    return offered;
}

void CTransportRuleDlg::UpdateStates() {
    const bool logsIn = Value(kLogsIn) == "1";
    SetEnabled(kLogin, logsIn);
    SetEnabled(kPassword, logsIn);
}

transport::RuleValue CTransportRuleDlg::Rule() const {
    transport::RuleValue rule;
    rule.logsIn = Value(kLogsIn) == "1";
    rule.login = Value(kLogin);
    rule.password = Value(kPassword);
    rule.server = Value(kServer);
    rule.port = Number(kPort);
    rule.ssl = Value(kSsl) == "1";
    return rule;
}

std::string CTransportRuleDlg::Key() const {
    const auto dependency =
        Value(kDependency) == "0" ? transport::kSender : transport::kRecipient;
    return transport::KeyOf(dependency, Value(kDomain));
}

void CTransportRuleDlg::OnOpen(CPrompter& prompter) {
    // A hand-edited entry the editor cannot read back unchanged (several ":" behind the server,
    // text after the port, a port out of range): the user sees what it would become before OK
    // rewrites it; Cancel leaves it as it is.
    if (!m_openedKey)
        return;
    const transport::RuleValue rule = transport::ReadValue(m_openedValue);
    if (rule.port >= 0 && rule.port <= 65535 && transport::BuildValue(rule) == m_openedValue)
        return;
    // Asked again each time a refusal sends the user back into the dialog: tell it once.
    if (m_warned)
        return;
    m_warned = true;
    std::string text = strings::Literal("Die Regel „%s“ lässt sich nicht unverändert bearbeiten.",
                                        *m_openedKey);
    text += ' ';
    text += strings::Literal("Ihr Eintrag lautet „%s“.", m_openedValue);
    text += ' ';
    text += rule.port >= 0 && rule.port <= 65535
                ? strings::Literal("Mit OK wird er als „%s“ gespeichert, mit Abbrechen "
                                   "bleibt er unverändert.",
                                   transport::BuildValue(rule))
                : strings::Literal("Der TCP-Anschluss liegt nicht zwischen 0 und 65535; mit "
                                   "Abbrechen bleibt der Eintrag unverändert.");
    prompter.ShowText(text, MessageKind::Warning);
}

bool CTransportRuleDlg::OnOk(CPrompter& prompter) {
    // Each refusal names what would break the entry: "smarthosts" separates key and value by
    // ":", and the value is split at its last "@" and at the ":" behind the server.
    const std::string& domain = Value(kDomain);
    if (domain.empty())
        return Refuse(prompter, strings::Literal("Bitte geben Sie eine Domain an (\"*\" für "
                                                 "alle Domains)."));
    for (char c : domain)
        if (IsBlankOrControl(c) || c == ':' || c == '@' || c == '<' || c == '>')
            return Refuse(prompter,
                          strings::Literal("Die Domain \"%s\" darf weder Leer- und Steuerzeichen "
                                           "noch \":\", \"@\", \"<\" oder \">\" enthalten.",
                                           domain));
    const std::string& server = Value(kServer);
    if (server.empty())
        return Refuse(prompter, strings::Literal("Bitte geben Sie einen SMTP-Server an."));
    for (char c : server)
        if (IsBlankOrControl(c) || c == ':' || c == '@')
            return Refuse(prompter,
                          strings::Literal("Der SMTP-Server \"%s\" darf weder Leer- und "
                                           "Steuerzeichen noch \":\" oder \"@\" enthalten.",
                                           server));
    // A password may hold "@" and ":": both readings split at the last "@" and the login part
    // at its first ":", so only a ":" in the login would move the split.
    if (Value(kLogsIn) == "1" && Value(kLogin).find(':') != std::string::npos)
        return Refuse(prompter, strings::Literal("Der Login darf kein \":\" enthalten."));
    return true;
}

void CTransportRuleDlg::StoreRule(CConfigMap& map) const {
    const std::string key = Key();
    const std::string value = transport::BuildValue(Rule());
    // The entries that stand for one rule: a recipient's also under the ">" form, which the
    // program only reads. The stored rule replaces its own, and those of the rule the editor was
    // opened on (so a recipient rule turned into a sender rule leaves neither form behind).
    const auto formsOf = [](const std::string& entry) {
        std::vector<std::string> forms{entry};
        if (entry.empty() || entry[0] != '<')
            forms.push_back(!entry.empty() && entry[0] == '>' ? entry.substr(1) : ">" + entry);
        return forms;
    };
    std::vector<std::string> replaced = formsOf(key);
    if (m_openedKey)
        for (std::string& form : formsOf(*m_openedKey))
            replaced.push_back(std::move(form));

    // Where the rule goes: the entry it was opened on, else the first entry it replaces.
    std::optional<std::string> place;
    if (m_openedKey && map.Contains(*m_openedKey)) {
        place = *m_openedKey;
    } else {
        std::string entryKey;
        std::string entryValue;
        for (CMapEx::POSITION position = map.GetStartPosition(); position && !place;) {
            map.GetNextAssoc(position, entryKey, entryValue);
            if (std::find(replaced.begin(), replaced.end(), entryKey) != replaced.end())
                place = entryKey;
        }
    }
    for (const std::string& entry : replaced)
        if (entry != place)
            map.RemoveKey(entry);
    // A renamed rule keeps its line and its comment block in the saved file.
    if (place && *place != key)
        map.RenameKey(*place, key);
    map.SetAt(key, value);
}

// --- The list dialog -------------------------------------------------------------------------

CTransportRulesDlg::CTransportRulesDlg(CConfigSet& set) : m_set(set) {
    FillRuleList();
}

std::span<const CCommandSpec> CTransportRulesDlg::Commands() const {
    return kListCommands;
}

std::span<const CListSpec> CTransportRulesDlg::Lists() const {
    return kLists;
}

CRowModel* CTransportRulesDlg::RowsOf(std::string_view listId) {
    return listId == kRules ? &m_rows : nullptr;
}

void CTransportRulesDlg::OnOpen(CPrompter& /*prompter*/) {
    FillRuleList();
}

void CTransportRulesDlg::FillRuleList() {
    // The rule selected before stays selected while its entry is there.
    std::optional<std::string> selected;
    if (const auto row = m_rows.Selected())
        selected = m_rows.Key(*row);
    m_rows.Fill(m_set.smarthosts);
    if (selected)
        m_rows.Select(m_rows.Find(*selected));
    UpdateStates();
}

void CTransportRulesDlg::UpdateStates() {
    const bool selected = m_rows.Selected().has_value();
    SetEnabled(kRemove, selected);
    SetEnabled(kEdit, selected);
}

void CTransportRulesDlg::OnCommand(std::string_view commandId, CPrompter& prompter) {
    if (commandId == kAdd) {
        CTransportRuleDlg rule(&m_set.domains);
        if (!RunDialogAccepted(prompter, rule))
            return;
        rule.StoreRule(m_set.smarthosts);
        m_changed = true;
        FillRuleList();
        m_rows.Select(m_rows.Find(rule.Key()));
    } else if (commandId == kEdit) {
        Edit(prompter);
    } else if (commandId == kRemove) {
        const auto row = m_rows.Selected();
        if (!row)
            return;
        std::string key;
        std::string value;
        CMapEx::POSITION position = m_rows.Position(*row);
        m_set.smarthosts.GetNextAssoc(position, key, value);
        m_set.smarthosts.RemoveKey(key);
        m_changed = true;
        FillRuleList();
    }
}

void CTransportRulesDlg::Edit(CPrompter& prompter) {
    const auto row = m_rows.Selected();
    if (!row)
        return;
    std::string key;
    std::string value;
    CMapEx::POSITION position = m_rows.Position(*row);
    m_set.smarthosts.GetNextAssoc(position, key, value);
    CTransportRuleDlg rule(&m_set.domains, key, value);
    if (!RunDialogAccepted(prompter, rule))
        return;
    rule.StoreRule(m_set.smarthosts);
    m_changed = true;
    FillRuleList();
    m_rows.Select(m_rows.Find(rule.Key()));
}
