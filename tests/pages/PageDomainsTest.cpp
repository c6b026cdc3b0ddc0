// The domains tab on a real spool in a temporary directory, played through by the scripted
// user: the tree, the address list, every command with its messages, the change flow with its
// reply template, and the host-name and postmaster checks of the first show.
#include "pages/PageDomains.h"
#include "pages/Pages.h"
#include "pages/TraceDlg.h"

#include "Common/Ansi.h"
#include "accounts/Password.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

using P = CPageDomains;
using D = CAccountDlgBase;

// The scripted user, which notes the kind of every message box, and here its text too (a
// numbered message may carry a reason after the table's text).
class CUser : public CScriptedPrompter {
public:
    Answer ShowMessage(const PromptMessage& message) override {
        texts.push_back(message.text);
        return CScriptedPrompter::ShowMessage(message);
    }
    std::vector<std::string> texts;
};

class PageDomainsTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(spool);
        config.mdad.SetString("SpoolDir", spool);
        config.domains.AddTail("example.test");
    }

    P& Page() {
        if (!m_page) {
            m_page.emplace(config, [this] { return platform::HostIdentity{host, "0.0.0.0"}; });
            m_page->SetLockCancelHandler([this] { ++cancelLocks; });
        }
        return *m_page;
    }
    std::string Folder(const std::string& name) const {
        return spool + platform::kPathSeparator + name;
    }
    void MakeAccount(const std::string& name, const std::string& settings = "") {
        CAccountStore store(config.mdad);
        ASSERT_TRUE(store.CreateAccount(name, "secret", {}));
        if (!settings.empty())
            WriteBytes(Folder(name) + "/config", testutil::Crlf(settings));
    }
    void Select(const std::string& text) {
        const CTreeModel& tree = Page().Tree();
        for (CTreeModel::NodeId node = 0; node < tree.NodeCount(); ++node) {
            if (tree.Text(node) == text) {
                Page().TreeOf(P::kDomainTree)->Select(node);
                Page().SelectionChanged(P::kDomainTree, user);
                return;
            }
        }
        FAIL() << "no tree node " << text;
    }
    void SelectRow(const std::string& address) {
        const auto row = Page().Rows().Find(address);
        ASSERT_TRUE(row) << address;
        Page().RowsOf(P::kAddressList)->Select(row);
    }
    // A folder removed while the spool watch holds it open is gone on Linux, and on Windows can
    // no longer be opened; wine alone keeps it, empty, until the watch closes.
    bool SpoolLingers() const {
        std::error_code ec;
        return fs::exists(spool, ec);
    }
    // Polls until the page reports a change, for at most two seconds: Linux queues a change
    // before the call that made it returns, Windows (and wine) only a moment later.
    bool PollSoon() {
        for (int i = 0; i < 200; ++i) {
            if (Page().Poll(user))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // The rows as "address | target | icon".
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        const CAddressRows& list = Page().Rows();
        for (std::size_t i = 0; i < list.RowCount(); ++i)
            rows.push_back(list.CellText(i, 0) + " | " + list.CellText(i, 1) + " | " +
                           std::to_string(list.RowIcon(i)));
        return rows;
    }
    // The user types into an add-account dialog.
    void ExpectAccount(std::string local, std::string password, std::string domain = {}) {
        user.ExpectDialog([=](CDialogModel& model) {
            auto& dialog = dynamic_cast<CAddAccountDlg&>(model);
            if (!domain.empty()) {
                EXPECT_EQ(dialog.Value(CAddAccountDlg::kDomain), domain);
            }
            dialog.SetValue(CAddAccountDlg::kLocalPart, local);
            dialog.SetValue(D::kPassword, password);
            return true;
        });
    }
    void ExpectAlias(std::string local, std::string target) {
        user.ExpectDialog([=](CDialogModel& dialog) {
            dialog.SetValue(CAddAliasDlg::kLocalPart, local);
            dialog.SetValue(CAddAliasDlg::kTarget, target);
            return true;
        });
    }
    void ExpectDomain(std::string name, bool secondary = false) {
        user.ExpectDialog([=](CDialogModel& dialog) {
            dialog.SetValue(CAddDomainDlg::kDomainName, name);
            dialog.SetValue(CAddDomainDlg::kSecondaryMx, secondary ? "1" : "0");
            return true;
        });
    }
    void Run(const char* command) { Page().RunCommand(command, user); }

    testutil::TempDir dir;
    std::string spool = dir / "spool";
    std::string host = "example.test"; // a listed domain: no question at the first show
    CConfigSet config;
    CUser user;
    int cancelLocks = 0;

private:
    std::optional<P> m_page;
};

std::vector<std::pair<std::string, int>> Domains(const CTreeModel& tree) {
    std::vector<std::pair<std::string, int>> nodes;
    const CTreeModel::NodeId root = tree.Child(CTreeModel::kNone, 0);
    for (std::size_t i = 0; i < tree.ChildCount(root); ++i) {
        const auto node = tree.Child(root, i);
        nodes.emplace_back(tree.Text(node), tree.Icon(node));
    }
    return nodes;
}

// --- Tree and list ---------------------------------------------------------------------------

TEST_F(PageDomainsTest, TreeJoinsBothListsByteWiseOnceWithTheirIcons) {
    config.domains.AddTail("b.test");
    config.domains.AddTail("Z.test");
    config.backupDomains.AddTail("b.test");
    config.backupDomains.AddTail("mx.test");
    config.backupDomains.AddTail("z.test"); // local in another letter case
    const CTreeModel& tree = Page().Tree();
    ASSERT_EQ(tree.ChildCount(CTreeModel::kNone), 1u);
    const auto root = tree.Child(CTreeModel::kNone, 0);
    EXPECT_EQ(tree.Text(root), "Domains");
    EXPECT_EQ(tree.Icon(root), P::kIconRoot);
    EXPECT_TRUE(tree.IsExpanded(root));
    const std::vector<std::pair<std::string, int>> expected{
        {"Z.test", 1}, {"b.test", 1}, {"example.test", 1}, {"mx.test", 2}, {"z.test", 1}};
    EXPECT_EQ(Domains(tree), expected);
}

TEST_F(PageDomainsTest, TenThousandDomainsBuildASortedTree) {
    for (int i = 9999; i >= 0; --i)
        config.backupDomains.AddTail("d" + std::to_string(i) + ".test");
    const auto nodes = Domains(Page().Tree());
    ASSERT_EQ(nodes.size(), 10001u);
    EXPECT_TRUE(std::is_sorted(nodes.begin(), nodes.end()));
}

TEST_F(PageDomainsTest, ListCommandsWaitForASelectedDomain) {
    P& page = Page();
    for (const char* id : {P::kAddAccount, P::kAddAlias, P::kChangeAccount, P::kDeleteEntry,
                           P::kDeleteDomain})
        EXPECT_FALSE(page.IsEnabled(id)) << id;
    Run(P::kAddAccount); // a view that lets it through reaches nothing
    Select("example.test");
    for (const char* id : {P::kAddAccount, P::kAddAlias, P::kChangeAccount, P::kDeleteEntry,
                           P::kDeleteDomain})
        EXPECT_TRUE(page.IsEnabled(id)) << id;
}

TEST_F(PageDomainsTest, DomainListShowsItsAddressesWithKindIconsSorted) {
    MakeAccount("info.example.test");
    config.aliases.SetAt("sales@example.test", "sales@elsewhere.test");
    config.aliases.SetAt("info@example.test", "info.example.test");
    config.aliases.SetAt("*@example.test", "info.example.test");
    config.aliases.SetAt("bob@other.test", "info.example.test");
    config.aliases.SetAt("@example.test", "info.example.test"); // "@" first: not shown
    Select("example.test");
    const std::vector<std::string> expected{"*@example.test | info.example.test | 3",
                                            "info@example.test | info.example.test | 0",
                                            "sales@example.test | sales@elsewhere.test | 2"};
    EXPECT_EQ(Rows(), expected);
}

TEST_F(PageDomainsTest, RootListsAccountsWithoutAddressAndBareAliases) {
    MakeAccount("admin");
    MakeAccount("info.example.test");
    config.aliases.SetAt("info@example.test", "info.example.test");
    config.aliases.SetAt("webmaster", "admin");
    Select("Domains");
    const std::vector<std::string> expected{"admin | admin | 0", "webmaster | admin | 2"};
    EXPECT_EQ(Rows(), expected);
}

// --- Search -----------------------------------------------------------------------------------

TEST_F(PageDomainsTest, SearchNarrowsAddressesAndTargetsAndCountsThem) {
    MakeAccount("info.example.test");
    config.domains.AddTail("other.test");
    config.aliases.SetAt("info@example.test", "info.example.test");
    config.aliases.SetAt("sales@example.test", "Vertrieb@Elsewhere.test");
    config.aliases.SetAt("bob@other.test", "info.example.test");
    Select("example.test");
    P& page = Page();
    EXPECT_EQ(page.Value(P::kRowCount), "2 Eintr\xE4ge");
    SelectRow("sales@example.test");
    // Case-blind, in the target too; the selected row stays while it matches.
    page.FieldChanged(P::kAddressFilter, "ELSEW");
    EXPECT_EQ(Rows(), std::vector<std::string>{"sales@example.test | Vertrieb@Elsewhere.test | 2"});
    EXPECT_EQ(page.Rows().Selected(), std::optional<std::size_t>(0));
    EXPECT_EQ(page.Value(P::kRowCount), "1 von 2 Eintr\xE4gen");
    EXPECT_FALSE(page.IsModified()); // a search is no edit
    page.FieldChanged(P::kAddressFilter, "info");
    EXPECT_EQ(page.Rows().RowCount(), 1u);
    EXPECT_FALSE(page.Rows().Selected());
    // No match spans an address and its target; a text the code page cannot hold (the view
    // sends the substitute character) matches nothing and says why.
    page.FieldChanged(P::kAddressFilter, "testinfo");
    EXPECT_EQ(page.Rows().RowCount(), 0u);
    page.FieldChanged(P::kAddressFilter, "\x1A");
    EXPECT_EQ(page.Rows().RowCount(), 0u);
    EXPECT_NE(page.Value(P::kRowCount).find("keiner Adresse"), std::string::npos);
    page.FieldChanged(P::kAddressFilter, std::string(10000, 'x'));
    EXPECT_EQ(page.Rows().RowCount(), 0u);
    page.FieldChanged(P::kAddressFilter, "");
    EXPECT_EQ(page.Rows().RowCount(), 2u);

    // At the root the search reaches every domain's addresses, and leaving it brings back the
    // root's own rows, keeping a selection that is one of them.
    MakeAccount("admin");
    Select("Domains");
    EXPECT_EQ(Rows(), std::vector<std::string>{"admin | admin | 0"});
    page.FieldChanged(P::kAddressFilter, ".test");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"bob@other.test | info.example.test | 0",
                                                "info@example.test | info.example.test | 0",
                                                "sales@example.test | Vertrieb@Elsewhere.test | 2"}));
    page.FieldChanged(P::kAddressFilter, "adm");
    SelectRow("admin");
    page.FieldChanged(P::kAddressFilter, "");
    EXPECT_EQ(page.Rows().Selected(), page.Rows().Find("admin"));
    // A search typed before the spool changes stays on the rows the poll brings.
    page.FieldChanged(P::kAddressFilter, "new");
    MakeAccount("newcomer");
    EXPECT_TRUE(page.Poll(user));
    EXPECT_EQ(Rows(), std::vector<std::string>{"newcomer | newcomer | 0"});
}

TEST_F(PageDomainsTest, DomainSearchKeepsTheRootAndDropsASelectionItHides) {
    config.domains.AddTail("beispiel.test");
    config.backupDomains.AddTail("Mx.Example.test");
    Select("example.test");
    P& page = Page();
    page.FieldChanged(P::kDomainFilter, "EXAMPLE");
    EXPECT_EQ(Domains(page.Tree()),
              (std::vector<std::pair<std::string, int>>{{"Mx.Example.test", 2}, {"example.test", 1}}));
    EXPECT_TRUE(page.HasSelectedName());
    page.FieldChanged(P::kDomainFilter, "beisp");
    EXPECT_EQ(page.Tree().ChildCount(CTreeModel::kNone), 1u); // the root
    EXPECT_FALSE(page.HasSelectedName());
    EXPECT_FALSE(page.IsEnabled(P::kAddAccount));
    EXPECT_FALSE(page.IsModified());
}

// A finding of the check leads to its row, whatever the searches held; the trace opens on the
// selected address.
TEST_F(PageDomainsTest, AKeyOfTheFilesIsShownAndTheSelectedAddressTraced) {
    config.domains.AddTail("other.test");
    config.aliases.SetAt("sales@other.test", "sales@elsewhere.test");
    P& page = Page();
    page.FieldChanged(P::kDomainFilter, "example");
    EXPECT_EQ(page.ShowKey("aliases", "Sales@Other.test", user),
              std::optional<std::string>(P::kAddressList));
    EXPECT_EQ(page.SelectedName(), "other.test");
    ASSERT_TRUE(page.Rows().Selected());
    EXPECT_EQ(page.Rows().Address(*page.Rows().Selected()), "sales@other.test");
    EXPECT_EQ(page.ShowKey("domains", "example.test", user),
              std::optional<std::string>(P::kDomainTree));
    EXPECT_EQ(page.SelectedName(), "example.test");
    EXPECT_FALSE(page.ShowKey("smtpd.cfg", "MaxThreads", user));

    Select("other.test");
    SelectRow("sales@other.test");
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(CTraceDlg::kAddress), "sales@other.test");
        return false;
    });
    Run(P::kTraceAddress);
    user.VerifyAllMet();
}

TEST_F(PageDomainsTest, ADomainNamedDomainsListsLikeTheRoot) {
    config.domains.AddTail("DOMAINS");
    MakeAccount("admin");
    Select("DOMAINS");
    EXPECT_EQ(Rows(), std::vector<std::string>{"admin | admin | 0"});
}

TEST_F(PageDomainsTest, SpoolThatVanishedEmptiesTheListWithAMessage) {
    MakeAccount("admin");
    Select("Domains");
    ASSERT_EQ(Page().Rows().RowCount(), 1u);
    fs::remove_all(spool);
    testutil::LetChangesArrive();
    if (SpoolLingers())
        GTEST_SKIP() << "the removed spool lingers while the watch holds it open (wine)";
    user.ExpectMessage(108, MessageKind::Error, Answer::Ok);
    Select("Domains");
    EXPECT_EQ(Page().Rows().RowCount(), 0u);
    // Why, and where to set it right.
    ASSERT_FALSE(user.texts.empty());
    EXPECT_NE(user.texts.back().find("\"" + spool + "\" ist nicht vorhanden"), std::string::npos)
        << user.texts.back();
    EXPECT_NE(user.texts.back().find("\"Verzeichnisse\""), std::string::npos);
    Select("example.test"); // told once while it lasts
    user.ExpectMessage(146, Answer::Ok);
    Run(P::kDeleteEntry);
}

TEST_F(PageDomainsTest, AliasesLoadedWithoutTheAccountListCannotBeChanged) {
    // What the start leaves when it could not build the account list: the entries unchecked,
    // and the file not written back. An account made now would be reached by no saved address.
    MakeAccount("admin");
    config.aliases.SetAt("info@example.test", "info.example.test");
    config.aliases.SetAccountFilter(false);
    Select("example.test");
    SelectRow("info@example.test");
    for (const char* command : {P::kAddAccount, P::kAddAlias, P::kChangeAccount, P::kDeleteEntry}) {
        user.ExpectText("nicht ge\xE4ndert werden");
        Run(command);
        user.VerifyAllMet();
    }
    CAddAccountDlg filled("example.test", "neu");
    filled.SetValue(D::kPassword, "secret");
    user.ExpectText("nicht ge\xE4ndert werden");
    EXPECT_FALSE(Page().CreateAccountFrom(filled, user));
    EXPECT_FALSE(fs::exists(Folder("neu.example.test")));
    EXPECT_EQ(cancelLocks, 0);
    // Nor is a postmaster offered: without the list none can be told to be missing.
    EXPECT_FALSE(P::CheckHost(config, "example.test").noPostmaster);
}

TEST_F(PageDomainsTest, PollShowsAccountsOtherProgramsMadeAndKeepsTheSelection) {
    ASSERT_TRUE(config.users.StartWatch(spool));
    MakeAccount("admin");
    Select("Domains");
    SelectRow("admin");
    EXPECT_FALSE(Page().Poll(user)); // nothing happened since
    fs::create_directory(Folder("Extern"));
    EXPECT_TRUE(PollSoon());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"admin | admin | 0", "extern | extern | 0"}));
    ASSERT_TRUE(Page().Rows().Selected());
    EXPECT_EQ(Page().Rows().Address(*Page().Rows().Selected()), "admin");
    // A spool that vanishes is said once, not at every look.
    fs::remove_all(spool);
    testutil::LetChangesArrive();
    if (SpoolLingers())
        GTEST_SKIP() << "the removed spool lingers while the watch holds it open (wine)";
    user.ExpectMessage(108, MessageKind::Error, Answer::Ok);
    EXPECT_TRUE(PollSoon());
    EXPECT_FALSE(Page().Poll(user));
}

// --- Domains ---------------------------------------------------------------------------------

TEST_F(PageDomainsTest, AddDomainLowersItAndRefusesADuplicateInEitherList) {
    config.backupDomains.AddTail("mx.test");
    ExpectDomain("New.TEST");
    user.ExpectMessage(57345, MessageKind::Warning, Answer::Ok);
    Run(P::kAddDomain);
    EXPECT_TRUE(config.domains.Find("new.test"));
    EXPECT_EQ(config.domains.GetTail(), "new.test");

    // A name that is there already is refused before the dialog closes: it comes back with
    // what was typed, and the lower-case notice is not shown for a name that was refused.
    ExpectDomain("MX.test");
    user.ExpectMessage(142, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(CAddDomainDlg::kDomainName), "MX.test");
        return false;
    });
    Run(P::kAddDomain);
    ExpectDomain("new.test", true);
    user.ExpectMessage(142, Answer::Ok);
    ExpectDomain("other.test", true);
    Run(P::kAddDomain);
    EXPECT_EQ(config.backupDomains.GetCount(), 2u);
    EXPECT_EQ(config.domains.GetCount(), 2u);
    EXPECT_EQ(cancelLocks, 2); // a refusal alone changes nothing
    EXPECT_TRUE(Page().IsModified());
}

TEST_F(PageDomainsTest, ADomainNameThatCannotWorkKeepsTheDialogOpen) {
    ExpectDomain("bad name.test");
    user.ExpectText(ansi::FromUtf8("ungültig"));
    user.ExpectDialog([](CDialogModel&) { return false; });
    Run(P::kAddDomain);
    EXPECT_EQ(config.domains.GetCount(), 1u);
    EXPECT_EQ(cancelLocks, 0);
}

TEST_F(PageDomainsTest, BackupDomainHasADisabledListAndNoAccounts) {
    ExpectDomain("mx.test", true);
    Run(P::kAddDomain);
    EXPECT_TRUE(config.backupDomains.Find("mx.test"));
    Select("mx.test");
    EXPECT_FALSE(Page().IsEnabled(P::kAddressList));
    user.ExpectMessage(167, MessageKind::Error, Answer::Ok);
    Run(P::kAddAccount);
    user.ExpectMessage(153, MessageKind::Error, Answer::Ok);
    Run(P::kChangeAccount);
    Select("example.test");
    EXPECT_TRUE(Page().IsEnabled(P::kAddressList));
}

TEST_F(PageDomainsTest, DeleteDomainAsksAndTheRootIsNeverRemoved) {
    config.domains.AddTail("domains"); // a domain of the root's name
    Select("example.test");
    user.ExpectMessage(166, MessageKind::QuestionWarning, Answer::No);
    Run(P::kDeleteDomain);
    EXPECT_TRUE(config.domains.Find("example.test"));
    EXPECT_EQ(cancelLocks, 1); // whatever the answer

    user.ExpectMessage(166, Answer::Yes);
    Run(P::kDeleteDomain);
    EXPECT_FALSE(config.domains.Find("example.test"));
    // The selected domain is gone: nothing can be added to it any more.
    EXPECT_FALSE(Page().HasSelectedName());
    EXPECT_FALSE(Page().IsEnabled(P::kAddAccount));

    Select("Domains");
    user.ExpectMessage(166, Answer::Yes).ExpectMessage(141, MessageKind::Error, Answer::Ok);
    Run(P::kDeleteDomain);
    EXPECT_TRUE(config.domains.Find("domains"));
}

// --- Accounts and aliases --------------------------------------------------------------------

TEST_F(PageDomainsTest, AddAccountLowersTheLocalPartAndMakesFolderAndAlias) {
    Select("example.test");
    ExpectAccount("Info", "secret", "example.test");
    user.ExpectMessage(57345, MessageKind::Warning, Answer::Ok);
    Run(P::kAddAccount);
    EXPECT_EQ(ReadBytes(Folder("info.example.test/config")), "Password:\tkvcrypt\r\n");
    EXPECT_EQ(ReadBytes(Folder("info.example.test/password")),
              EncodePassword("info.example.test", "secret"));
    EXPECT_EQ(Rows(), std::vector<std::string>{"info@example.test | info.example.test | 0"});
    EXPECT_EQ(Page().Rows().Selected(), 0u);
    EXPECT_EQ(cancelLocks, 1);
    // The sheet's preview lists the folder among what can no longer be cancelled.
    ASSERT_EQ(config.journal.Entries().size(), 1u);
    EXPECT_EQ(config.journal.Entries()[0].kind, CJournal::Kind::AccountCreated);
    EXPECT_TRUE(config.journal.Entries()[0].done);
    EXPECT_EQ(config.journal.Entries()[0].subject, Folder("info.example.test"));
}

TEST_F(PageDomainsTest, CatchAllAccountIsTheDomainItself) {
    Select("example.test");
    ExpectAccount("*", "secret");
    Run(P::kAddAccount);
    EXPECT_TRUE(fs::is_directory(Folder("example.test")));
    EXPECT_EQ(Rows(), std::vector<std::string>{"*@example.test | example.test | 3"});
}

TEST_F(PageDomainsTest, RootAccountHasNoAliasAndLeavesTheRootOnceAnAddressReachesIt) {
    Select("Domains");
    ExpectAccount("admin", "secret", "*");
    Run(P::kAddAccount);
    EXPECT_TRUE(fs::is_directory(Folder("admin")));
    EXPECT_EQ(config.aliases.GetCount(), 0u);
    EXPECT_EQ(Rows(), std::vector<std::string>{"admin | admin | 0"});
    config.aliases.SetAt("admin@example.test", "admin");
    Page().RebuildList(user);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(PageDomainsTest, AccountInACapitalisedDomainIsNamedInLowerCase) {
    config.domains.AddHead("Mail.Example.TEST"); // as the host-name check inserts it
    Select("Mail.Example.TEST");
    ExpectAccount("info", "secret", "Mail.Example.TEST");
    Run(P::kAddAccount);
    EXPECT_TRUE(fs::is_directory(Folder("info.mail.example.test")));
    std::string target;
    ASSERT_TRUE(config.aliases.Lookup("info@mail.example.test", target));
    EXPECT_EQ(target, "info.mail.example.test");
}

TEST_F(PageDomainsTest, AddAccountRefusalsCreateNothing) {
    Select("example.test");
    // Every refusal is told in the dialog, which stays open with what was typed: an empty
    // password, one the password file would garble, a name no folder may have.
    ExpectAccount("Info", "");
    user.ExpectMessage(147, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(CAddAccountDlg::kLocalPart), "Info");
        return true;
    });
    user.ExpectMessage(147, MessageKind::Error, Answer::Ok);
    ExpectAccount("info", "gr\xFC\xDF");
    user.ExpectText("ASCII");
    ExpectAccount("../x", "secret");
    user.ExpectText("Punkt");
    user.ExpectDialog([](CDialogModel&) { return false; });
    Run(P::kAddAccount);
    EXPECT_TRUE(fs::is_empty(spool));
    EXPECT_EQ(config.aliases.GetCount(), 0u);

    // A folder that an address reaches already is another account: refused with the reason,
    // the dialog back with the name as typed, and no lower-case notice before the refusal.
    MakeAccount("info.example.test");
    config.aliases.SetAt("old@example.test", "info.example.test");
    ExpectAccount("INFO", "secret");
    user.ExpectMessage(148, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(CAddAccountDlg::kLocalPart), "INFO");
        return false;
    });
    Run(P::kAddAccount);
    EXPECT_EQ(config.aliases.GetCount(), 1u);
    EXPECT_NE(user.texts.back().find("bereits vorhanden; die Adresse \"old@example.test\""),
              std::string::npos)
        << user.texts.back();

    // A spool that cannot take the folder: the cause is named.
    fs::permissions(spool, fs::perms::owner_read | fs::perms::owner_exec);
    if (!CAccountStore(config.mdad).CreateAccount("probe", "x", {})) { // root writes anyway
        ExpectAccount("neu", "secret");
        user.ExpectMessage(148, Answer::Ok);
        user.ExpectDialog([](CDialogModel&) { return false; });
        Run(P::kAddAccount);
        EXPECT_NE(user.texts.back().find("Keine Schreibberechtigung"), std::string::npos)
            << user.texts.back();
    }
    fs::permissions(spool, fs::perms::owner_all);
}

TEST_F(PageDomainsTest, AFolderNoAddressReachesIsTakenOverWithItsMail) {
    // What a run stopped between making the folder and saving its address leaves behind,
    // temporary files of a killed write included.
    MakeAccount("info.example.test");
    WriteBytes(Folder("info.example.test") + "/mail.eml", "mail");
    WriteBytes(Folder("info.example.test") + "/password.tmp-Ab12Cd", "half");
    WriteBytes(Folder("info.example.test") + "/config.tmp-Ef34Gh", "half");
    Select("example.test");
    ExpectAccount("info", "secret");
    user.ExpectText("als Konto");
    Run(P::kAddAccount);
    std::string target;
    ASSERT_TRUE(config.aliases.Lookup("info@example.test", target));
    EXPECT_EQ(target, "info.example.test");
    EXPECT_EQ(ReadBytes(Folder("info.example.test") + "/mail.eml"), "mail");
    std::string password;
    CConfigMap accountConfig;
    ASSERT_TRUE(CAccountStore(config.mdad).ReadAccount("info.example.test", password,
                                                       accountConfig));
    EXPECT_EQ(password, "secret");
    EXPECT_FALSE(fs::exists(Folder("info.example.test") + "/password.tmp-Ab12Cd"));
    EXPECT_FALSE(fs::exists(Folder("info.example.test") + "/config.tmp-Ef34Gh"));
}

TEST_F(PageDomainsTest, AliasInADomainMustForwardToAnAddressAtTheRootNeedNot) {
    Select("example.test");
    ExpectAlias("sales", "bob");
    user.ExpectMessage(149, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel&) { return false; });
    Run(P::kAddAlias);
    EXPECT_EQ(config.aliases.GetCount(), 0u);

    ExpectAlias("Sales", "Bob@Elsewhere.test");
    user.ExpectMessage(57345, Answer::Ok);
    Run(P::kAddAlias);
    EXPECT_EQ(Rows(), std::vector<std::string>{"sales@example.test | Bob@Elsewhere.test | 2"});

    Select("Domains");
    ExpectAlias("chef", "bob");
    Run(P::kAddAlias);
    EXPECT_EQ(Rows(), std::vector<std::string>{"chef | bob | 2"});
    EXPECT_EQ(cancelLocks, 2);
}

TEST_F(PageDomainsTest, AnAliasReplacesWhatItsAddressLedToOnlyWhenConfirmed) {
    MakeAccount("info.example.test");
    config.aliases.SetAt("info@example.test", "info.example.test");
    config.aliases.SetAt("verkauf@example.test", "bob@elsewhere.test");
    Select("example.test");
    // "Nein", the default, keeps the account's address and brings the dialog back as typed;
    // the lower-case notice waits for a value that is taken.
    ExpectAlias("Info", "bob@elsewhere.test");
    user.ExpectText("\"info@example.test\" f\xFChrt bereits zu \"info.example.test\"", Answer::No);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(CAddAliasDlg::kLocalPart), "Info");
        return false;
    });
    Run(P::kAddAlias);
    std::string target;
    ASSERT_TRUE(config.aliases.Lookup("info@example.test", target));
    EXPECT_EQ(target, "info.example.test");
    EXPECT_EQ(cancelLocks, 0);

    // Yes replaces; the same target again asks nothing.
    ExpectAlias("verkauf", "carol@elsewhere.test");
    user.ExpectText("\"carol@elsewhere.test\"", Answer::Yes);
    Run(P::kAddAlias);
    ExpectAlias("verkauf", "carol@elsewhere.test");
    Run(P::kAddAlias);
    ASSERT_TRUE(config.aliases.Lookup("verkauf@example.test", target));
    EXPECT_EQ(target, "carol@elsewhere.test");

    // A new account asks the same before its address leaves a forward.
    ExpectAccount("verkauf", "secret");
    user.ExpectText("\"verkauf@example.test\" f\xFChrt bereits zu \"carol@elsewhere.test\"",
                    Answer::No);
    user.ExpectDialog([](CDialogModel&) { return false; });
    Run(P::kAddAccount);
    EXPECT_FALSE(fs::exists(Folder("verkauf.example.test")));

    // Callers without a dialog to come back to say beforehand whether to replace.
    CAddAliasDlg filled("example.test");
    filled.SetValue(CAddAliasDlg::kLocalPart, "info");
    filled.SetValue(CAddAliasDlg::kTarget, "x@elsewhere.test");
    EXPECT_EQ(Page().AddAliasFrom(filled, user, false, true), "info@example.test");
    ASSERT_TRUE(config.aliases.Lookup("info@example.test", target));
    EXPECT_EQ(target, "x@elsewhere.test");
}

TEST_F(PageDomainsTest, DeletingAnAddressKeepsTheAccountWhileAnotherReachesIt) {
    MakeAccount("info.example.test");
    config.aliases.SetAt("info@example.test", "info.example.test");
    config.aliases.SetAt("kontakt@example.test", "info.example.test");
    Select("example.test");
    SelectRow("kontakt@example.test");
    user.ExpectMessage(144, MessageKind::QuestionWarning, Answer::Yes)
        .ExpectMessage(57346, MessageKind::Warning, Answer::Ok);
    Run(P::kDeleteEntry);
    EXPECT_TRUE(fs::is_directory(Folder("info.example.test")));
    SelectRow("info@example.test");
    user.ExpectMessage(144, Answer::Yes);
    Run(P::kDeleteEntry);
    EXPECT_FALSE(fs::exists(Folder("info.example.test")));
    EXPECT_TRUE(Rows().empty());
}

TEST_F(PageDomainsTest, DeleteEntryAsksByKindAndLocksEvenOnNo) {
    config.aliases.SetAt("sales@example.test", "bob@elsewhere.test");
    Select("example.test");
    user.ExpectMessage(146, MessageKind::Error, Answer::Ok);
    Run(P::kDeleteEntry);
    EXPECT_EQ(cancelLocks, 0);
    SelectRow("sales@example.test");
    user.ExpectMessage(145, MessageKind::QuestionWarning, Answer::No);
    Run(P::kDeleteEntry);
    EXPECT_EQ(config.aliases.GetCount(), 1u);
    EXPECT_EQ(cancelLocks, 1);
    SelectRow("sales@example.test");
    user.ExpectMessage(145, Answer::Yes);
    Run(P::kDeleteEntry);
    EXPECT_EQ(config.aliases.GetCount(), 0u);

    MakeAccount("admin");
    config.aliases.SetAt("chef", "admin");
    Select("Domains");
    SelectRow("admin");
    user.ExpectMessage(144, Answer::Yes);
    Run(P::kDeleteEntry);
    EXPECT_FALSE(fs::exists(Folder("admin")));
    SelectRow("chef"); // a bare alias goes alone
    user.ExpectMessage(144, Answer::Yes);
    Run(P::kDeleteEntry);
    EXPECT_EQ(config.aliases.GetCount(), 0u);
}

// --- Changing an account and its reply template ----------------------------------------------

class ChangeAccountTest : public PageDomainsTest {
protected:
    void SetUp() override {
        PageDomainsTest::SetUp();
        MakeAccount("info.example.test");
        config.aliases.SetAt("info@example.test", "info.example.test");
        Select("example.test");
        SelectRow("info@example.test");
    }
    // A key of the account's "config" as the services read it; "-" when absent.
    std::string Key(const std::string& key) {
        CConfigMap config;
        EXPECT_TRUE(config.Load(Folder("info.example.test/config")));
        return config.GetString(key, "-");
    }
    std::string Template(const std::string& name = "reply.emt") {
        return ReadBytes(Folder("info.example.test/" + name));
    }
    // The user ticks or clears the reply box and types subject and text.
    void ExpectReply(bool on, std::string subject = {}, std::string text = {}) {
        user.ExpectDialog([=](CDialogModel& dialog) {
            dialog.FieldChanged(D::kReply, on ? "1" : "0");
            dialog.SetValue(D::kReplySubject, subject);
            dialog.SetValue(D::kReplyText, text);
            return true;
        });
    }
};

// The header block of a template as its writer makes it: From, Subject unless empty, Date.
void ExpectTemplate(const std::string& file, const std::string& from, const std::string& subject,
                    const std::string& body) {
    std::string head = "From: <" + from + ">\r\n";
    if (!subject.empty())
        head += "Subject: " + subject + "\r\n";
    ASSERT_EQ(file.substr(0, head.size()), head) << file;
    const std::string rest = file.substr(head.size());
    ASSERT_EQ(rest.rfind("Date: ", 0), 0u) << file;
    const auto end = rest.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(rest.find("\r\n"), end) << "only the Date line";
    EXPECT_EQ(rest.substr(end + 4), body);
}

TEST_F(ChangeAccountTest, DialogShowsTheStoredSettingsAndTemplate) {
    WriteBytes(Folder("info.example.test/config"),
               testutil::Crlf("Password:\tkvcrypt\nSaveEnvelope:\t1\nQuota:\t10\nRunReply:\t1\n"
                              "RunReplyTemplate:\tmy.emt\n"));
    WriteBytes(Folder("info.example.test/my.emt"),
               testutil::Crlf("From: <x@y>\nSubject: Urlaub\n bis Mai\n\nBin weg\n"));
    user.ExpectDialog([](CDialogModel& model) {
        auto& dialog = dynamic_cast<CChangeAccountDlg&>(model);
        EXPECT_EQ(dialog.Value(CChangeAccountDlg::kAddress), "info@example.test");
        EXPECT_EQ(dialog.Value(D::kPassword), "secret");
        EXPECT_TRUE(dialog.IsChecked(D::kSaveEnvelope));
        EXPECT_TRUE(dialog.IsChecked(D::kQuotaOn));
        EXPECT_EQ(dialog.Number(D::kQuota), 10);
        EXPECT_FALSE(dialog.IsChecked(D::kSizeOn));
        EXPECT_FALSE(dialog.IsEnabled(D::kSize));
        EXPECT_TRUE(dialog.IsVisible(D::kReplyArea));
        EXPECT_EQ(dialog.Value(D::kReplySubject), "Urlaub bis Mai"); // folded: one line
        EXPECT_EQ(dialog.Value(D::kReplyText), "Bin weg\r\n");
        return false;
    });
    Run(P::kChangeAccount);
    EXPECT_EQ(cancelLocks, 0);
}

TEST_F(ChangeAccountTest, ReplyWithoutATemplateNameOpensEmptyAndWritesReplyEmt) {
    WriteBytes(Folder("info.example.test/config"), "Password: kvcrypt\r\nRunReply: 1\r\n");
    WriteBytes(Folder("info.example.test/reply.emt"), "Subject: alt\r\n\r\nalt\r\n");
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(D::kReplySubject), ""); // reading uses no default name
        dialog.SetValue(D::kReplySubject, "Weg");
        dialog.SetValue(D::kReplyText, "Bin weg.\r\n.\r\n");
        return true;
    });
    Run(P::kChangeAccount);
    ExpectTemplate(Template(), "info@example.test", "Weg", "Bin weg.");
    EXPECT_EQ(Key("RunReplyTemplate"), "reply.emt");
    EXPECT_EQ(Key("RunReply"), "1");
    EXPECT_EQ(Key("RunAntiSpam"), "0");
    EXPECT_EQ(Key("SaveEnvelope") + Key("Quota") + Key("MaxSize"), "000");
    EXPECT_EQ(Page().Rows().Selected(), 0u);
    EXPECT_EQ(cancelLocks, 1);
}

TEST_F(ChangeAccountTest, ClearingReplyDeletesTheTemplateAndKeepsItsName) {
    ExpectReply(true, "", "Text\r\n");
    Run(P::kChangeAccount);
    ExpectTemplate(Template(), "info@example.test", "", "Text\r\n"); // no Subject line
    SelectRow("info@example.test");
    ExpectReply(false);
    Run(P::kChangeAccount);
    EXPECT_FALSE(fs::exists(Folder("info.example.test/reply.emt")));
    EXPECT_EQ(Key("RunReply"), "0");
    EXPECT_EQ(Key("RunReplyTemplate"), "reply.emt");
}

TEST_F(ChangeAccountTest, RootAccountTemplateIsSentFromTheBareName) {
    MakeAccount("admin");
    Select("Domains");
    SelectRow("admin");
    ExpectReply(true, "Hallo", "x");
    Run(P::kChangeAccount);
    ExpectTemplate(ReadBytes(Folder("admin/reply.emt")), "admin", "Hallo", "x");
}

TEST_F(ChangeAccountTest, AReplyOfMegabytesGoesThereAndBack) {
    std::string text;
    while (text.size() < 4u * 1024 * 1024)
        text += "Eine Zeile der Abwesenheitsnotiz.\r\n";
    ExpectReply(true, "Lang", text);
    Run(P::kChangeAccount);
    SelectRow("info@example.test");
    user.ExpectDialog([&](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(D::kReplyText), text);
        return false;
    });
    Run(P::kChangeAccount);
}

TEST_F(ChangeAccountTest, TemplateNameThatLeadsOutOfTheFolderIsNeitherReadNorWritten) {
    WriteBytes(dir / "secret.emt", "Subject: fremd\r\n\r\nfremd\r\n");
    WriteBytes(Folder("info.example.test/config"),
               "Password: kvcrypt\r\nRunReply: 1\r\nRunReplyTemplate: ../../secret.emt\r\n");
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(D::kReplySubject), "");
        dialog.SetValue(D::kReplyText, "neu");
        return true;
    });
    Run(P::kChangeAccount);
    EXPECT_EQ(ReadBytes(dir / "secret.emt"), "Subject: fremd\r\n\r\nfremd\r\n");
    ExpectTemplate(Template(), "info@example.test", "", "neu");
}

TEST_F(ChangeAccountTest, RefusalsOfTheChangeFlow) {
    user.ExpectDialog([](CDialogModel& dialog) {
        dialog.SetValue(D::kPassword, "");
        return true;
    });
    user.ExpectMessage(150, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel&) { return false; });
    Run(P::kChangeAccount);

    config.aliases.SetAt("sales@example.test", "bob@elsewhere.test");
    Page().RebuildList(user);
    user.ExpectMessage(153, Answer::Ok); // no row selected
    Run(P::kChangeAccount);
    SelectRow("sales@example.test");
    user.ExpectMessage(152, MessageKind::Error, Answer::Ok);
    Run(P::kChangeAccount);
    EXPECT_EQ(cancelLocks, 0);
}

TEST_F(ChangeAccountTest, ConfigThatIsAFolderFailsWithoutWritingTheTemplate) {
    fs::remove(Folder("info.example.test/config"));
    fs::create_directory(Folder("info.example.test/config"));
    ExpectReply(true, "x", "y");
    user.ExpectMessage(151, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(D::kReplySubject), "x"); // back as typed
        return false;
    });
    Run(P::kChangeAccount);
    EXPECT_FALSE(fs::exists(Folder("info.example.test/reply.emt")));
    EXPECT_EQ(cancelLocks, 0);
}

TEST_F(ChangeAccountTest, TemplateThatIsAFolderStillStoresTheKeys) {
    fs::create_directory(Folder("info.example.test/reply.emt"));
    WriteBytes(Folder("info.example.test/config"),
               "Password: kvcrypt\r\nRunReply: 1\r\nRunReplyTemplate: reply.emt\r\n");
    user.ExpectDialog([](CDialogModel& dialog) {
        dialog.FieldChanged(D::kAntiSpam, "1");
        return true;
    });
    Run(P::kChangeAccount);
    EXPECT_TRUE(fs::is_directory(Folder("info.example.test/reply.emt")));
    EXPECT_EQ(Key("RunAntiSpam"), "1");
}

// --- Checks of the first show ----------------------------------------------------------------

const char* const kHostError = "scheint unvollst";
const char* const kDomainQuestion = "ist nicht in der Liste der Domains";
const char* const kPostmasterQuestion = "universelle Postmaster-Adresse";

TEST_F(PageDomainsTest, HostNameWithoutDomainEndsTheChecks) {
    for (const char* name : {"server", "server.local"}) {
        PageDomainsTest::host = name;
        CPageDomains page(config, [&] { return platform::HostIdentity{host, "0.0.0.0"}; });
        user.kinds.clear();
        user.ExpectText(std::string("'") + name + "' scheint", Answer::Ok);
        page.OnFirstShow(user);
        user.VerifyAllMet();
        EXPECT_EQ(user.kinds, std::vector<MessageKind>{MessageKind::Error});
    }
}

TEST_F(PageDomainsTest, LocalInsideTheNamePassesAndTheDomainIsOffered) {
    host = "server.local.example.test";
    user.ExpectText(kDomainQuestion, Answer::No).ExpectText(kPostmasterQuestion, Answer::No);
    Page().OnFirstShow(user);
    EXPECT_EQ(config.domains.GetCount(), 1u);
    EXPECT_EQ(cancelLocks, 0);
}

TEST_F(PageDomainsTest, HostDomainComparesWithoutCaseAndYesPutsItFirstAsReported) {
    host = "Mail.Example.TEST";
    config.domains.AddTail("mail.example.test");
    user.ExpectText(kPostmasterQuestion, Answer::No);
    Page().OnFirstShow(user);
    user.VerifyAllMet();

    config.domains.RemoveTail();
    CPageDomains page(config, [&] { return platform::HostIdentity{host, "0.0.0.0"}; });
    user.kinds.clear();
    user.ExpectText(kDomainQuestion, Answer::Yes).ExpectText(kPostmasterQuestion, Answer::No);
    page.OnFirstShow(user);
    EXPECT_EQ(user.kinds, std::vector<MessageKind>(2, MessageKind::Question));
    EXPECT_EQ(config.domains.GetHead(), "Mail.Example.TEST");
    EXPECT_FALSE(page.IsModified());
    EXPECT_EQ(Domains(page.Tree()).front().first, "Mail.Example.TEST");
}

TEST_F(PageDomainsTest, PostmasterAccountOrACatchAllAliasSuppressesTheQuestion) {
    config.aliases.SetAt("*", "admin");
    Page().OnFirstShow(user); // no question at all
    user.VerifyAllMet();
    config.aliases.RemoveAll();
    MakeAccount("postmaster");
    ASSERT_TRUE(config.users.Refresh());
    CPageDomains page(config, [&] { return platform::HostIdentity{host, "0.0.0.0"}; });
    page.OnFirstShow(user);
}

TEST_F(PageDomainsTest, PostmasterIsCreatedFromTheDialogInLowerCase) {
    user.ExpectText(kPostmasterQuestion, Answer::Yes);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(CAddAccountDlg::kLocalPart), "postmaster");
        EXPECT_EQ(dialog.Value(CAddAccountDlg::kDomain), "*");
        dialog.SetValue(CAddAccountDlg::kLocalPart, "PostMaster");
        dialog.SetValue(D::kPassword, "secret");
        return true;
    });
    user.ExpectMessage(57345, MessageKind::Warning, Answer::Ok);
    Page().OnFirstShow(user);
    EXPECT_TRUE(fs::is_directory(Folder("postmaster")));
    EXPECT_EQ(config.aliases.GetCount(), 0u);
    EXPECT_TRUE(Page().IsModified());
    EXPECT_EQ(cancelLocks, 1);
}

TEST_F(PageDomainsTest, PostmasterWithoutPasswordCreatesNothing) {
    user.ExpectText(kPostmasterQuestion, Answer::Yes);
    user.ExpectDialog([](CDialogModel&) { return true; });
    user.ExpectMessage(147, MessageKind::Error, Answer::Ok);
    user.ExpectDialog([](CDialogModel&) { return false; });
    Page().OnFirstShow(user);
    EXPECT_TRUE(fs::is_empty(spool));
    EXPECT_EQ(cancelLocks, 0);
}

TEST(Pages, TheDomainsTabComesFirst) {
    CConfigSet config;
    const auto pages = CreatePages(config);
    ASSERT_GE(pages.size(), 2u);
    EXPECT_NE(dynamic_cast<CPageDomains*>(pages[0].get()), nullptr);
    EXPECT_STREQ(pages[1]->Caption(), "Verzeichnisse");
}

TEST(HostIdentity, TheSystemNamesThisHostWithADottedAddress) {
    const platform::HostIdentity identity = platform::QueryHostIdentity();
    EXPECT_FALSE(identity.name.empty());
    int parts[4];
    char end = 0;
    EXPECT_EQ(std::sscanf(identity.address.c_str(), "%d.%d.%d.%d%c", &parts[0], &parts[1],
                          &parts[2], &parts[3], &end),
              4)
        << identity.address;
}

} // namespace
