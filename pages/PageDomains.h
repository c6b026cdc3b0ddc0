// The domains and accounts tab: a tree of the local and backup domains beside the list of the
// selected domain's addresses (or, at the root, of the accounts no address reaches and the
// domain-independent aliases). Domains and aliases are edited in memory and saved with the
// configuration set after OK; account folders are created, changed and deleted on disk at
// once, which is why every edit locks the sheet's cancel.
#pragma once

#include "accounts/AccountStore.h"
#include "app/ConfigSet.h"
#include "pages/AccountDialogs.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/RowModel.h"
#include "platform/HostIdentity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The address list: one row per address with the account or forward target behind it, sorted
// by the address. A root view can hold a hundred thousand rows, so their texts are packed into
// one buffer and the order is an index over them, not a sorted copy.
class CAddressRows : public CRowModel {
public:
    enum Icon : int { kAccount = 0, kUnused = 1, kForward = 2, kCatchAll = 3 };

    std::span<const CColumnSpec> Columns() const override;
    std::span<const char* const> Icons() const override;
    std::size_t RowCount() const override { return m_order.size(); }
    std::string CellText(std::size_t row, std::size_t column) const override;
    int RowIcon(std::size_t row) const override;

    // Building: Clear, Add every row, then Sort. Sort replaces the rows for the view; the
    // filter stays and applies to the new rows.
    void Clear();
    void Add(std::string_view address, std::string_view target, Icon icon);
    void Sort();

    // Shows only the rows whose address or target holds needle, in any letter case (code
    // page); an empty needle shows every row. The selected row stays selected when it still
    // matches. A needle with a control character matches nothing: the view puts one in place
    // of what the code page cannot hold, which no address can contain either.
    void SetFilter(std::string_view needle);
    // All rows, shown or not.
    std::size_t TotalCount() const { return m_sorted.size(); }

    std::string_view Address(std::size_t row) const;
    std::string_view Target(std::size_t row) const;
    // The row that shows address exactly; nothing when none does.
    std::optional<std::size_t> Find(std::string_view address) const;

private:
    struct Row {
        std::uint32_t at; // the address in m_text, the target right behind it
        std::uint32_t addressLength;
        std::uint32_t targetLength;
        std::int32_t icon;
    };
    std::string_view AddressOf(const Row& row) const;
    // The rows of m_sorted that match m_filter, into m_order.
    void ApplyFilter();

    std::string m_text;
    std::vector<Row> m_rows;             // in the order they were added
    std::vector<std::uint32_t> m_sorted; // every entry of m_rows, by address
    std::vector<std::uint32_t> m_order;  // row number on screen -> entry of m_rows
    std::string m_filter;                // lower case
    // m_text in lower case with a line break after each address and each target, so that one
    // search runs over all rows and no match spans two texts; made at the first filter.
    std::string m_folded;
};

class CPageDomains : public CPageModel {
public:
    // Lists.
    static constexpr const char* kDomainTree = "domainTree";
    static constexpr const char* kAddressList = "addressList";
    // Commands.
    static constexpr const char* kAddDomain = "addDomain";
    static constexpr const char* kDeleteDomain = "deleteDomain";
    static constexpr const char* kAddAccount = "addAccount";
    static constexpr const char* kAddAlias = "addAlias";
    static constexpr const char* kChangeAccount = "changeAccount";
    static constexpr const char* kDeleteEntry = "deleteEntry";
    static constexpr const char* kTraceAddress = "traceAddress";
    // Fields: the searches above both lists, and the line that counts the rows shown.
    static constexpr const char* kAddressFilter = "addressFilter";
    static constexpr const char* kDomainFilter = "domainFilter";
    static constexpr const char* kRowCount = "rowCount";
    // The text of the tree's root. The root is known by its text only: a domain called
    // "domains", in any letter case, lists like the root.
    static constexpr const char* kRootText = "Domains";
    // The tree's icons, by index.
    enum TreeIcon : int { kIconRoot = 0, kIconLocal = 1, kIconBackup = 2 };

    using HostIdentitySource = std::function<platform::HostIdentity()>;

    // host tells who this machine is for the checks of the first show; the system's answer
    // unless a test gives its own.
    explicit CPageDomains(CConfigSet& config,
                          HostIdentitySource host = platform::QueryHostIdentity);

    // The tab text. The toolkit's tab bar, like the sheet this page has always been shown in,
    // takes "&" for a mnemonic and shows "&&" as one "&".
    const char* Caption() const override { return "Domains && Accounts"; }
    unsigned HelpContext() const override { return help::resource::kPageDomains; }
    const char* FormName() const override { return "PageDomains"; }
    std::span<const CFieldSpec> Fields() const override;
    std::span<const CCommandSpec> Commands() const override;
    std::span<const CListSpec> Lists() const override;
    std::span<const char* const> ToolbarLayout() const override;
    CRowModel* RowsOf(std::string_view listId) override;
    CTreeModel* TreeOf(std::string_view listId) override;

    // What the first show's checks find for the host name given, without asking anything: a
    // name without a domain (or in ".local"), then nothing else is looked at; a name that is
    // not a local domain; no postmaster account or address.
    struct HostCheck {
        bool incomplete = false;
        bool notADomain = false;
        bool noPostmaster = false;
    };
    static HostCheck CheckHost(const CConfigSet& config, const std::string& name);

    // The host-name and postmaster checks, then the tree.
    void OnFirstShow(CPrompter& prompter) override;
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    // A node of the tree was selected: its domain's addresses are listed.
    void OnSelectionChanged(std::string_view listId, CPrompter& prompter) override;
    // Nothing can be added, changed or deleted in the list before a domain is selected.
    void UpdateStates() override;
    // Typing in a search narrows its list at once. The address search at the root searches
    // every address of every domain, not only the root's own rows.
    void OnFieldEdited(std::string_view id) override;
    // "domains" and "backupdomains": the domain's node; "aliases": the row of the key, in its
    // domain's list (the root's for a key without one), the searches cleared so it is shown.
    std::optional<std::string> ShowKey(std::string_view file, std::string_view key,
                                       CPrompter& prompter) override;
    // Account folders that other programs made or removed while the page is shown appear in
    // the root's list (the only one the account list decides); the selected row stays.
    bool Poll(CPrompter& prompter) override;

    const CTreeModel& Tree() const { return m_tree; }
    const CAddressRows& Rows() const { return m_rows; }
    // The text of the node selected last; empty (and HasSelectedName false) until one is.
    const std::string& SelectedName() const { return m_selectedName; }
    bool HasSelectedName() const { return m_hasSelectedName; }

    // The operations, as the commands run them. A refusal that only the operation can find (a
    // folder that cannot be made, a replaced address declined) brings its dialog back with
    // what was typed, as the dialog's own refusals do.
    void RebuildTree();
    void RebuildList(CPrompter& prompter);
    void AddDomain(CPrompter& prompter);
    void DeleteDomain(CPrompter& prompter);
    void AddAccount(CPrompter& prompter);
    void AddAlias(CPrompter& prompter);
    void DeleteEntry(CPrompter& prompter);
    void ChangeAccountFlow(CPrompter& prompter);
    // Where mail to the selected address (or any other typed there) goes, in a window.
    void TraceFlow(CPrompter& prompter);

    // The same operations on filled dialogs instead of the selection, for callers without the
    // tree (the command line, an import): the same checks and messages, the list is not
    // rebuilt. With dryRun they check only and write nothing.
    // A new account from an add dialog whose OnOk passed; its address (its name at the root),
    // or nothing after the message. An existing folder that no alias names is taken over when
    // its very address is added (AdoptAccount: a run killed between the folder and the save
    // leaves one, and running it again must simply work); a folder an address already reaches
    // is still refused as existing.
    std::optional<std::string> CreateAccountFrom(CAddAccountDlg& dialog, CPrompter& prompter,
                                                 bool dryRun = false);
    // A forward or alias from an add dialog whose OnOk passed; its key, or nothing. An address
    // that leads elsewhere already is changed only after a question naming the old and the new
    // target ("Nein" the default; nothing then, without an error), or at once with replace.
    std::optional<std::string> AddAliasFrom(CAddAliasDlg& dialog, CPrompter& prompter,
                                            bool dryRun = false, bool replace = false);
    // The change dialog of the account that name (an address or an account) stands for, filled
    // from its files; nothing after the message when name is no account.
    std::unique_ptr<CChangeAccountDlg> OpenChange(const std::string& name,
                                                  CPrompter& prompter) const;
    // Stores what the change dialog holds, once its OnOk passed.
    bool ChangeAccountFrom(const CChangeAccountDlg& dialog, CPrompter& prompter,
                           bool dryRun = false);

private:
    bool AtRoot() const;
    bool IsBackupDomain() const;
    void SelectDomain(CPrompter& prompter);
    // The rows of the selected node from the set in memory, filtered by the address search.
    void FillRows();
    // Whether the rows are every address of every domain: the root while a search is typed.
    bool RowsHoldAll() const;
    void ApplyAddressFilter();
    void ShowRowCount();
    void Edited();
    // True when the host name was added to the local domains.
    bool CheckHostName(CPrompter& prompter);
    // False after the message when "aliases" was loaded without the account list: accounts
    // and addresses cannot be changed in this run.
    bool AddressesEditable(CPrompter& prompter) const;
    void CreatePostmaster(CPrompter& prompter);
    // Sets the account's folder aside for deletion after the save (CConfigSet::pendingRemovals).
    bool RemoveAccountFolder(const std::string& account);
    // Makes the folder of account, which no alias names (what a crash between making a folder
    // and saving its address leaves), the account of dialog: its password and settings are
    // written over, its mail stays. False after the message when it cannot be written.
    bool AdoptAccount(const std::string& account, CAddAccountDlg& dialog, CPrompter& prompter);
    // Why the store could not make the folder of account (error: the system's code right after
    // the failure), as the sentence that follows message 148.
    std::string CreationFailure(const std::string& account, int error) const;

    // The account's "config", bound to its file so that a Save writes it back; false when the
    // folder is not there or the file could not be read.
    bool LoadAccountConfig(const std::string& account, CConfigMap& config) const;
    // Where the reply template of the account lives; nothing when the folder is not there or
    // the template's name would lead out of it.
    std::optional<std::string> ReplyTemplatePath(const std::string& account,
                                                 const std::string& name) const;
    void FillReply(const std::string& account, const CConfigMap& config,
                   CChangeAccountDlg& dialog) const;
    bool StoreReply(const std::string& account, const std::string& sender,
                    const CChangeAccountDlg& dialog) const;

    CConfigSet& m_config;
    CAccountStore m_store;
    HostIdentitySource m_host;
    CTreeModel m_tree;
    CAddressRows m_rows;
    std::string m_selectedName;
    bool m_hasSelectedName = false;
    bool m_listFailed = false; // the last rebuild could not read the spool (and said so)
    bool m_rowsHoldAll = false; // the rows are every address (RowsHoldAll when filled)
};
