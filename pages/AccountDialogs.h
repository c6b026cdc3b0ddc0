// The four small dialogs of the domains page: add a domain, add an alias, add an account and
// change an account. They gather values and refuse, in OnOk, what could never be stored or
// found again (a domain name with a blank, a password the password file cannot keep); every
// other check and every write is the page's, after the dialog has ended with OK.
#pragma once

#include "accounts/AccountStore.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace accountdlg {

// Why name cannot work as a mail domain (empty, a blank or control character, "@", ":", "/", "\",
// a "." at either end), as the German text shown for it in Windows-1252; nothing when it can.
std::optional<std::string> DomainNameRefusal(std::string_view name);

} // namespace accountdlg

class CAddDomainDlg : public CDialogModel {
public:
    static constexpr const char* kDomainName = "domainName";
    static constexpr const char* kSecondaryMx = "secondaryMx";

    const char* Caption() const override { return "Domain hinzufügen"; }
    const char* FormName() const override { return "AddDomainDlg"; }
    unsigned HelpContext() const override { return help::resource::kAddDomainDlg; }
    std::span<const CFieldSpec> Fields() const override;

    // Refuses a domain name that no mail could ever be addressed to, and one that exists
    // already (message 142) when the page has said how to know (SetExisting).
    bool OnOk(CPrompter& prompter) override;

    // Answers whether a domain of the lower-cased name is there, local or backup.
    void SetExisting(std::function<bool(const std::string&)> exists) {
        m_exists = std::move(exists);
    }
    bool SecondaryMx() const { return Value(kSecondaryMx) == "1"; }

private:
    std::function<bool(const std::string&)> m_exists;
};

class CAddAliasDlg : public CDialogModel {
public:
    static constexpr const char* kTarget = "target";
    static constexpr const char* kLocalPart = "localPart";
    static constexpr const char* kDomain = "domain";

    // domain: the selected domain, or "*" at the root; shown, not editable.
    explicit CAddAliasDlg(std::string_view domain = {});

    const char* Caption() const override { return "Alias hinzufügen"; }
    const char* FormName() const override { return "AddAliasDlg"; }
    unsigned HelpContext() const override { return help::resource::kAddAliasDlg; }
    std::span<const CFieldSpec> Fields() const override;

    // Refuses a local part that could not stand as the key of an "aliases" line, and, in a
    // domain, a target without "@" (message 149).
    bool OnOk(CPrompter& prompter) override;
};

// What the add and change dialogs share: the password, the limits, the switches and the reply
// area that folds away while automatic reply is off.
class CAccountDlgBase : public CDialogModel {
public:
    static constexpr const char* kPassword = "password";
    static constexpr const char* kQuotaOn = "quotaOn";
    static constexpr const char* kQuota = "quota";
    static constexpr const char* kSaveEnvelope = "saveEnvelope";
    static constexpr const char* kSizeOn = "sizeOn";
    static constexpr const char* kSize = "size";
    static constexpr const char* kAntiSpam = "antiSpam";
    static constexpr const char* kReply = "reply";
    static constexpr const char* kReplySubject = "replySubject";
    static constexpr const char* kReplyText = "replyText";
    static constexpr const char* kReplyArea = "replyArea";

    std::span<const CGroupSpec> Groups() const override;
    // The limits are editable only while their boxes are ticked, the reply only while reply is
    // on; the reply area is shown only then (the view folds the dialog by its height).
    void UpdateStates() override;
    // Refuses an empty password (EmptyPasswordMessage) and one that the "kvcrypt" encoding
    // under AccountName() would not give back.
    bool OnOk(CPrompter& prompter) override;

    // The folder name of the account the dialog is about, in the letter case it gets.
    virtual std::string AccountName() const = 0;

    bool IsChecked(std::string_view id) const { return Value(id) == "1"; }
    void SetChecked(std::string_view id, bool on) { SetValue(id, on ? "1" : "0"); }

protected:
    CAccountDlgBase();
    // The string-table number that asks for a password.
    virtual unsigned EmptyPasswordMessage() const = 0;
};

class CAddAccountDlg : public CAccountDlgBase {
public:
    static constexpr const char* kLocalPart = "localPart";
    static constexpr const char* kDomain = "domain";

    // domain: the selected domain, or "*" at the root (an account without a domain).
    explicit CAddAccountDlg(std::string_view domain = {}, std::string_view localPart = {});

    const char* Caption() const override { return "Konto hinzufügen"; }
    const char* FormName() const override { return "AddAccountDlg"; }
    unsigned HelpContext() const override { return help::resource::kAddAccountDlg; }
    std::span<const CFieldSpec> Fields() const override;

    // Also refuses a local part that cannot name an account folder, or that would make its
    // address a pattern ("*" alone, the domain's own account, is no pattern).
    bool OnOk(CPrompter& prompter) override;

    bool AtRoot() const { return Value(kDomain) == "*"; }
    // The account of the local part: local "." domain, the domain alone for "*", the local part
    // alone at the root; all of it in lower case, as the account list holds folder names.
    std::string AccountName() const override;
    // The address that reaches it, local "@" domain in lower case; empty at the root.
    std::string Address() const;
    // The settings a new account is made with: only the ticked ones are stored.
    AccountSettings CreationSettings() const;

protected:
    unsigned EmptyPasswordMessage() const override { return 147; }
};

class CChangeAccountDlg : public CAccountDlgBase {
public:
    static constexpr const char* kAddress = "address";

    // address: what the list shows for the account; account: its folder name.
    CChangeAccountDlg(std::string_view address = {}, std::string_view account = {});

    const char* Caption() const override { return "Konto ändern"; }
    const char* FormName() const override { return "ChangeAccountDlg"; }
    unsigned HelpContext() const override { return help::resource::kChangeAccountDlg; }
    std::span<const CFieldSpec> Fields() const override;

    std::string AccountName() const override { return m_account; }
    // All three settings are stored: a limit whose box is clear as 0.
    AccountSettings ChangeSettings() const;

protected:
    unsigned EmptyPasswordMessage() const override { return 150; }

private:
    std::string m_account;
};
