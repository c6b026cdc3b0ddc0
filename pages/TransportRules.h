// Transport rules: which SMTP server the delivery agent hands outgoing mail to, by the domain of
// the sender or of the recipient. The rules are the entries of "smarthosts", edited in place:
//
//   key    "<" domain (sender), domain or ">" domain (recipient; ">" is only ever read)
//   value  [login ":" password "@"] server ":" port ["s" for SSL/TLS]
//
// The list dialog changes the map at once with every add, edit and remove; the map reaches the
// file with the save after the sheet's OK.
#pragma once

#include "Common/MapEx.h"
#include "accounts/DomainList.h"
#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/RowModel.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace transport {

enum Dependency : int { kSender = 0, kRecipient = 1 };

// A value as the editor reads it: the last "@" ends the login part, the first ":" of the server
// part ends the server, a trailing "s" of the server part is SSL/TLS.
struct RuleValue {
    bool logsIn = false;
    std::string login;
    std::string password;
    std::string server;
    long port = 25; // may lie outside 0..65535 in a hand-edited file; the editor refuses it then
    bool ssl = false;
};
RuleValue ReadValue(std::string_view value);

// A value as the list shows it: the last ":" of the server part ends the server, so a mark
// behind the port is not shown.
struct ListCells {
    std::string server;
    std::string port;
    std::string login;
};
ListCells ReadListCells(std::string_view value);

// What a rule is written as; ReadValue and ReadListCells give it back.
std::string BuildValue(const RuleValue& rule);

Dependency DependencyOf(std::string_view key);
std::string_view DomainOf(std::string_view key);
// The key the program writes for a rule: "<" domain for the sender, the bare domain for the
// recipient.
std::string KeyOf(Dependency dependency, std::string_view domain);

} // namespace transport

// The rows of the rule list: one per entry of "smarthosts" in the map's order, each with the
// map position of its entry.
class CTransportRuleRows : public CRowModel {
public:
    enum Icon : int { kSenderIcon = 0, kRecipientIcon = 1 };

    std::span<const CColumnSpec> Columns() const override;
    std::span<const char* const> Icons() const override;
    std::size_t RowCount() const override { return m_rows.size(); }
    std::string CellText(std::size_t row, std::size_t column) const override;
    int RowIcon(std::size_t row) const override;

    void Fill(const CMapEx& map);
    CMapEx::POSITION Position(std::size_t row) const { return m_rows[row].position; }
    const std::string& Key(std::size_t row) const { return m_rows[row].key; }
    // The row that shows the entry under key; nothing when none does.
    std::optional<std::size_t> Find(std::string_view key) const;

private:
    struct Row {
        CMapEx::POSITION position;
        std::string key;
        std::string cells[5];
        int icon;
    };
    std::vector<Row> m_rows;
};

// The rule editor, for a new rule or for the entry it was opened on.
class CTransportRuleDlg : public CDialogModel {
public:
    static constexpr const char* kDependency = "dependency"; // "0" sender, "1" recipient
    static constexpr const char* kDomain = "domain";
    static constexpr const char* kServer = "server";
    static constexpr const char* kPort = "port";
    static constexpr const char* kSsl = "ssl";
    static constexpr const char* kLogin = "login";
    static constexpr const char* kPassword = "password";
    static constexpr const char* kLogsIn = "logsIn";

    // A new rule: sender, no domain, port 25. domains: the local domains the drop-down offers.
    explicit CTransportRuleDlg(const CDomainList* domains = nullptr);
    // The rule stored under key with value.
    CTransportRuleDlg(const CDomainList* domains, std::string_view key, std::string_view value);

    const char* Caption() const override { return "Transportregel"; }
    const char* FormName() const override { return "TransportRuleDlg"; }
    unsigned HelpContext() const override { return help::resource::kTransportRule; }
    std::span<const CFieldSpec> Fields() const override;
    std::vector<std::string> Suggestions(std::string_view fieldId) const override;
    // Login and password are editable only while "Am Server anmelden" is ticked.
    void UpdateStates() override;
    // Tells the user once when the entry would not be written back as it stands in the file.
    void OnOpen(CPrompter& prompter) override;
    // Refuses what could not be read back from the file as the same rule.
    bool OnOk(CPrompter& prompter) override;

    // Writes the rule into map: it replaces the entry the editor was opened on, at its place,
    // and any other entry of the same rule (its key, and for a recipient also ">" domain);
    // a new rule takes the place of such an entry or comes last. Nothing else is touched.
    void StoreRule(CConfigMap& map) const;

    transport::RuleValue Rule() const;
    std::string Key() const;
    const std::optional<std::string>& OpenedKey() const { return m_openedKey; }
    transport::Dependency OpeningDependency() const { return m_openingDependency; }

private:
    const CDomainList* m_domains;
    std::optional<std::string> m_openedKey;
    std::string m_openedValue;
    transport::Dependency m_openingDependency = transport::kSender;
    bool m_warned = false;
};

// The rule list, opened with "Regeln..." on the delivery page.
class CTransportRulesDlg : public CDialogModel {
public:
    static constexpr const char* kRules = "rules";
    static constexpr const char* kAdd = "add";
    static constexpr const char* kRemove = "remove";
    static constexpr const char* kEdit = "edit";

    explicit CTransportRulesDlg(CConfigSet& set);

    const char* Caption() const override { return "Transportregeln"; }
    const char* FormName() const override { return "TransportRulesDlg"; }
    unsigned HelpContext() const override { return help::resource::kTransportRules; }
    std::span<const CFieldSpec> Fields() const override { return {}; }
    std::span<const CCommandSpec> Commands() const override;
    std::span<const CListSpec> Lists() const override;
    CRowModel* RowsOf(std::string_view listId) override;
    void OnOpen(CPrompter& prompter) override;
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    // Remove and edit act on the selected rule only.
    void UpdateStates() override;

    void FillRuleList();
    CTransportRuleRows& rows() { return m_rows; }
    // Whether a rule was added, changed or removed (the delivery page marks itself changed).
    bool Changed() const { return m_changed; }

private:
    void Edit(CPrompter& prompter);

    CConfigSet& m_set;
    CTransportRuleRows m_rows;
    bool m_changed = false;
};
