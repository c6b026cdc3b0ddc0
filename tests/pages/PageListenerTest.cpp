// The listener pages, the interface dialog and the Syslog page on a real configuration folder:
// what they load, the interface list, the access lists, what apply writes where, the list files
// the pages share, and the writes that fail.
#include "pages/PageListener.h"
#include "pages/Pages.h"
#include "pages/PageSyslog.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testutil::Crlf;
using testutil::ReadBytes;
using testutil::WriteBytes;
using L = CPageConfigListener;
using Outcome = platform::AddressQueryOutcome;

listener::AddressSource Addresses(Outcome outcome, std::vector<std::string> found = {}) {
    return [=] { return platform::LocalAddresses{outcome, found}; };
}

std::vector<std::string> Rows(const CRowModel& rows) {
    std::vector<std::string> texts;
    for (std::size_t r = 0; r < rows.RowCount(); ++r) {
        std::string text = rows.CellText(r, 0);
        for (std::size_t c = 1; c < rows.Columns().size(); ++c)
            text += "|" + rows.CellText(r, c);
        texts.push_back(text);
    }
    return texts;
}

// Counts the time-stamped copies of a file in the backup folder.
int Backups(const std::string& folder, const std::string& name) {
    int count = 0;
    if (!fs::exists(folder))
        return 0;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(name + "-"))
            ++count;
    return count;
}

class ListenerTest : public testing::Test {
protected:
    void SetUp() override { ::setenv("MAILCONFIGDIR", dir.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("MAILCONFIGDIR"); }

    template <class Page> Page& Make(AdvancedDialogFactory advanced = {}) {
        auto page = std::make_unique<Page>(config, std::move(advanced),
                                           Addresses(Outcome::Success, {"10.0.0.2", "10.0.0.1"}));
        page->SetLockCancelHandler([this] { ++cancelLocks; });
        Page& made = *page;
        pages.push_back(std::move(page));
        return made;
    }
    void Select(L& page, const char* list, std::size_t row) {
        page.RowsOf(list)->Select(row);
        page.SelectionChanged(list, user);
    }
    void ExpectInterface(std::string address, long port, bool ssl, std::string shown = {},
                         long shownPort = -1) {
        user.ExpectDialog([=](CDialogModel& model) {
            auto& dialog = dynamic_cast<CInterfaceDlg&>(model);
            if (!shown.empty()) {
                EXPECT_EQ(dialog.Address(), shown);
                EXPECT_EQ(dialog.Port(), shownPort);
            }
            dialog.Set(address, port, ssl);
            return true;
        });
    }
    void Type(L& page, const char* id, std::string value) { page.FieldChanged(id, value); }

    testutil::TempDir dir;
    CConfigSet config;
    CScriptedPrompter user;
    std::vector<std::unique_ptr<L>> pages;
    int cancelLocks = 0;
};

// --- Loading ---------------------------------------------------------------------------------

TEST_F(ListenerTest, DefaultsClampingAndInterfaceReadings) {
    L& pop3 = Make<CPageConfigPOP3>();
    EXPECT_STREQ(pop3.Caption(), "POP3-Server");
    EXPECT_EQ(Rows(pop3.InterfaceRows()), std::vector<std::string>{"<alle>|110|"});
    EXPECT_EQ(pop3.Number(L::kMaxThreads), 4);
    EXPECT_EQ(pop3.Number(L::kBacklog), 5);
    EXPECT_EQ(pop3.Number(L::kTimeOut), 90);
    EXPECT_EQ(pop3.Value(L::kReverseLookup), "1");
    EXPECT_EQ(Rows(*pop3.RowsOf(L::kAllowList)), std::vector<std::string>{"0.0.0.0/0.0.0.0"});
    EXPECT_EQ(pop3.Value(L::kAdvancedText), "Erweiterte Einstellungen des POP3-Servers.");
    EXPECT_FALSE(pop3.IsEnabled(L::kAllowAdd));
    EXPECT_FALSE(pop3.IsEnabled(L::kEditInterface));

    config.pop3d.SetString("TimeOut", "30");
    config.pop3d.SetString("Interface", "*:995s,10.0.0.1,*:s");
    config.imap4d.SetString("TimeOut", "600");
    config.imap4d.SetString("MaxThreads", "500"); // shown as it is, refused when taken
    L& again = Make<CPageConfigPOP3>();
    EXPECT_EQ(again.Number(L::kTimeOut), 60);
    EXPECT_EQ(Rows(again.InterfaceRows()),
              (std::vector<std::string>{"<alle>|995|Ja", "10.0.0.1|110|", "<alle>|995|Ja"}));
    EXPECT_EQ(again.InterfaceRows().RowIcon(0), CInterfaceRows::kSecure);
    EXPECT_EQ(again.InterfaceRows().RowIcon(1), CInterfaceRows::kPlain);
    L& imap4 = Make<CPageConfigIMAP4>();
    EXPECT_EQ(imap4.Number(L::kTimeOut), 1800);
    EXPECT_EQ(imap4.Number(L::kMaxThreads), 500);
    EXPECT_TRUE(CFieldModel::Refusal(*imap4.FindField(L::kMaxThreads), "500"));
    // The arrows of the POP3 threads stop at 10, typing reaches 100; the backlog the other way.
    const CFieldSpec& threads = *again.FindField(L::kMaxThreads);
    EXPECT_EQ(threads.arrowMaximum, 10);
    EXPECT_FALSE(CFieldModel::Refusal(threads, "100"));
    EXPECT_TRUE(CFieldModel::Refusal(*again.FindField(L::kBacklog), "201"));
    EXPECT_EQ(again.FindField(L::kBacklog)->arrowMaximum, 32767);
}

// --- Interfaces ------------------------------------------------------------------------------

TEST_F(ListenerTest, InterfacesAddEditAndRemoveTheFirstMatchingEntry) {
    config.pop3d.SetString("Interface", "10.0.0.1:0");
    L& page = Make<CPageConfigPOP3>();
    ExpectInterface("<ALLE>", 110, false, "<alle>", 110);
    page.RunCommand(L::kAddInterface, user);
    ExpectInterface("<alle>", 110, false);
    page.RunCommand(L::kAddInterface, user);
    EXPECT_EQ(page.Interfaces().Join(","), "10.0.0.1:0,*:110,*:110");
    EXPECT_TRUE(page.IsModified());

    // Edit shows the entry's own address text and its port as read; the entry keeps its place.
    Select(page, L::kInterfaces, 0);
    ExpectInterface("10.0.0.9", 0, true, "10.0.0.1", 110);
    page.RunCommand(L::kEditInterface, user);
    EXPECT_EQ(page.Interfaces().Join(","), "10.0.0.9:0s,*:110,*:110");
    EXPECT_EQ(Rows(page.InterfaceRows())[0], "10.0.0.9|995|Ja");

    // Either of two equal rows acts on the first entry of that address and port; "*" stays
    // "*" in the dialog.
    Select(page, L::kInterfaces, 2);
    ExpectInterface("*", 110, true, "*", 110);
    page.RunCommand(L::kEditInterface, user);
    EXPECT_EQ(page.Interfaces().Join(","), "10.0.0.9:0s,*:110s,*:110");
    Select(page, L::kInterfaces, 2);
    page.RunCommand(L::kRemoveInterface, user);
    page.RunCommand(L::kRemoveInterface, user); // nothing is selected after the refill
    EXPECT_EQ(page.Interfaces().Join(","), "10.0.0.9:0s,*:110");

    // Removing every entry removes the key on apply; the next start shows "*" again.
    for (int i = 0; i < 2; ++i) {
        Select(page, L::kInterfaces, 0);
        page.RunCommand(L::kRemoveInterface, user);
    }
    page.OnApply(user);
    EXPECT_EQ(config.pop3d.GetString("Interface", "absent"), "absent");
    EXPECT_EQ(Rows(Make<CPageConfigPOP3>().InterfaceRows()),
              std::vector<std::string>{"<alle>|110|"});
}

TEST_F(ListenerTest, InterfaceDialogOffersSortedAddressesAndRefusesUnusableEntries) {
    CInterfaceDlg dialog(25, Addresses(Outcome::Success, {"192.168.1.5", "0.0.0.0", "10.0.0.1"}));
    dialog.OnOpen(user);
    EXPECT_EQ(dialog.Suggestions(CInterfaceDlg::kAddress),
              (std::vector<std::string>{"0.0.0.0", "10.0.0.1", "192.168.1.5", "<alle>"}));
    EXPECT_EQ(dialog.Address(), "<alle>");
    EXPECT_EQ(dialog.Port(), 25);
    EXPECT_FALSE(dialog.Ssl());

    dialog.Set("<alle>", 0, false); // port 0: the service's default
    EXPECT_TRUE(dialog.OnOk(user));
    dialog.Set("<alle>", 65536, false);
    user.ExpectText("zwischen 0 und 65535");
    EXPECT_FALSE(dialog.OnOk(user));
    dialog.SetValue(CInterfaceDlg::kPort, "8o");
    user.ExpectText("zwischen 0 und 65535");
    EXPECT_FALSE(dialog.OnOk(user));
    for (const char* address : {"10.0.0.1:25", "", "256.0.0.1", "mail.example.test", "1.2.3"}) {
        dialog.Set(address, 25, false);
        user.ExpectText("ist ung");
        EXPECT_FALSE(dialog.OnOk(user)) << address;
    }
    EXPECT_TRUE(CFieldModel::Refusal(*dialog.FindField(CInterfaceDlg::kAddress),
                                     "192.168.100.1000"));
    EXPECT_EQ(dialog.FindField(CInterfaceDlg::kPort)->arrowMaximum, 32767);
    // A hand-written entry of the file that is edited keeps its address.
    dialog.Edit("mail.example.test", 25, false);
    EXPECT_TRUE(dialog.OnOk(user));
    dialog.SetValue(CInterfaceDlg::kAddress, "mail.example");
    user.ExpectText("ist ung");
    EXPECT_FALSE(dialog.OnOk(user));

    // On the page the dialog stays open until the value is usable.
    L& page = Make<CPageConfigPOP3>();
    ExpectInterface("10.0.0.1", 99999, false);
    user.ExpectText("zwischen 0 und 65535");
    ExpectInterface("10.0.0.1", 9999, false);
    page.RunCommand(L::kAddInterface, user);
    EXPECT_EQ(page.Interfaces().Join(","), "*,10.0.0.1:9999");
}

TEST_F(ListenerTest, LocalAddressOutcomesTellTheirMessages) {
    const std::pair<Outcome, unsigned> failures[] = {
        {Outcome::InvalidParameter, 160}, {Outcome::NoData, 161}, {Outcome::NotSupported, 162},
        {Outcome::BufferTooSmall, 163},   {Outcome::OutOfMemory, 164},
    };
    for (const auto& [outcome, message] : failures) {
        std::vector<std::string> list{"<alle>"};
        user.ExpectMessage(message);
        AddLocalAddresses(list, user, Addresses(outcome));
        EXPECT_EQ(list, std::vector<std::string>{"<alle>"});
    }
    // The host name's addresses, silently, where interfaces cannot be listed.
    std::vector<std::string> list{"<alle>"};
    AddLocalAddresses(list, user, Addresses(Outcome::HostNameFallback, {"10.1.1.1", "10.1.1.1"}));
    EXPECT_EQ(list, (std::vector<std::string>{"<alle>", "10.1.1.1", "10.1.1.1"}));
    // The system's own answer works, whatever it holds.
    std::vector<std::string> real;
    const auto answer = platform::QueryLocalAddresses();
    if (answer.outcome == Outcome::Success) {
        for (const std::string& address : answer.addresses) {
            EXPECT_TRUE(listener::IsDottedIPv4(address)) << address;
        }
    }
}

// --- Access lists ----------------------------------------------------------------------------

TEST_F(ListenerTest, AllowListAddsChecksAndTakesBack) {
    L& page = Make<CPageConfigPOP3>();
    Type(page, L::kAllowAddress, "10.0.0.0");
    EXPECT_FALSE(page.IsEnabled(L::kAllowAdd)) << "only one of the two fields";
    page.RunCommand(L::kAllowAdd, user);
    EXPECT_EQ(page.ListOf("AccessAllowFile").GetCount(), 1u);
    EXPECT_FALSE(page.IsModified());

    Type(page, L::kAllowMask, "255.0.0");
    ASSERT_TRUE(page.IsEnabled(L::kAllowAdd));
    user.ExpectText("keine g\xFCltige IPv4-Adresse");
    page.RunCommand(L::kAllowAdd, user);
    EXPECT_EQ(page.Value(L::kAllowMask), "255.0.0") << "kept for correction";

    Type(page, L::kAllowMask, "255.0.0.0");
    page.RunCommand(L::kAllowAdd, user);
    EXPECT_EQ(page.ListOf("AccessAllowFile").Join(","), "0.0.0.0/0.0.0.0,10.0.0.0/255.0.0.0");
    EXPECT_EQ(page.Value(L::kAllowAddress), "");
    EXPECT_FALSE(page.IsEnabled(L::kAllowAdd));
    EXPECT_TRUE(page.IsModified());

    // Shown sorted; "<" puts the halves back and ends with nothing selected.
    EXPECT_EQ(Rows(*page.RowsOf(L::kAllowList)),
              (std::vector<std::string>{"0.0.0.0/0.0.0.0", "10.0.0.0/255.0.0.0"}));
    Select(page, L::kAllowList, 1);
    ASSERT_TRUE(page.IsEnabled(L::kAllowRemove));
    page.RunCommand(L::kAllowRemove, user);
    EXPECT_EQ(page.ListOf("AccessAllowFile").Join(","), "0.0.0.0/0.0.0.0");
    EXPECT_EQ(page.Value(L::kAllowAddress), "10.0.0.0");
    EXPECT_EQ(page.Value(L::kAllowMask), "255.0.0.0");
    EXPECT_TRUE(page.IsEnabled(L::kAllowAdd));
    EXPECT_FALSE(page.IsEnabled(L::kAllowRemove));
}

TEST_F(ListenerTest, OlderKeySeedsOnlyAMissingOrEmptyFileAndBadEntriesAreKept) {
    config.pop3d.SetString("AllowAccess", "0.0.0.0/0.0.0.0,,10.0.0.0/255.0.0.0");
    EXPECT_EQ(Make<CPageConfigPOP3>().ListOf("AccessAllowFile").Join(","),
              "0.0.0.0/0.0.0.0,10.0.0.0/255.0.0.0");

    // Thousands of entries, blanks and 8-bit bytes load, show and go back unchanged.
    std::string text = "# Netze\r\n";
    for (int i = 0; i < 5000; ++i)
        text += "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".0/255.255.255.0\r\n";
    text += "host name\xE4\xFF/mask with blank\r\n";
    WriteBytes(dir / "big.allow", text);
    CConfigSet other;
    other.imap4d.SetString("AccessAllowFile", "big.allow");
    other.imap4d.SetString("AllowAccess", "1.2.3.4/255.255.255.255");
    CPageConfigIMAP4 page(other);
    EXPECT_EQ(page.RowsOf(L::kAllowList)->RowCount(), 5001u);
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(ReadBytes(dir / "big.allow"), text);
    EXPECT_EQ(Backups(dir / "backup.cfg", "big.allow"), 1);
    EXPECT_EQ(other.imap4d.GetString("AllowAccess", "gone"), "gone");
}

// --- Apply -----------------------------------------------------------------------------------

TEST_F(ListenerTest, ApplyWritesKeysListsAndBackupsAndLocksCancel) {
    WriteBytes(dir / "access.deny", Crlf("192.168.9.0/255.255.255.0 # Gast\n"));
    config.pop3d.SetString("DenyAccess", "1.1.1.1/255.255.255.255"); // never read, removed
    config.pop3d.SetString("Backlog", "7");
    L& page = Make<CPageConfigPOP3>();
    EXPECT_EQ(page.ListOf("AccessDenyFile").Join(","), "192.168.9.0/255.255.255.0");
    Select(page, L::kAllowList, 0);
    page.RunCommand(L::kAllowRemove, user); // the allow list emptied by the user
    page.FieldChanged(L::kReverseLookup, "0");

    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(cancelLocks, 1);
    EXPECT_EQ(config.pop3d.GetString("Interface", ""), "*");
    EXPECT_EQ(config.pop3d.GetString("MaxThreads", ""), "4");
    EXPECT_EQ(config.pop3d.GetString("Backlog", ""), "7");
    EXPECT_EQ(config.pop3d.GetString("ReverseLookup", ""), "0");
    EXPECT_EQ(config.pop3d.GetString("TimeOut", ""), "90");
    EXPECT_EQ(config.pop3d.GetString("DenyAccess", "gone"), "gone");
    EXPECT_EQ(ReadBytes(dir / "access.allow"), "");
    EXPECT_EQ(ReadBytes(dir / "access.deny"), Crlf("# Gast\n192.168.9.0/255.255.255.0\n"));
    EXPECT_EQ(Backups(dir / "backup.cfg", "access.deny"), 1);

    // The next start seeds the emptied list again.
    CConfigSet next;
    CPageConfigPOP3 again(next);
    EXPECT_EQ(again.ListOf("AccessAllowFile").Join(","), "0.0.0.0/0.0.0.0");
}

TEST_F(ListenerTest, AdvancedDialogComesFromTheFactoryAndMarksThePageOnOk) {
    class CStub : public CDialogModel {
    public:
        const char* Caption() const override { return "Erweitert"; }
        std::span<const CFieldSpec> Fields() const override { return {}; }
    };
    int made = 0;
    L& page = Make<CPageConfigSMTP>([&](CConfigSet& set) {
        EXPECT_EQ(&set, &config);
        ++made;
        return std::make_unique<CStub>();
    });
    user.ExpectDialog([](CDialogModel&) { return false; });
    page.RunCommand(L::kAdvanced, user);
    EXPECT_FALSE(page.IsModified());
    user.ExpectDialog([](CDialogModel& dialog) { return dialog.Caption() == std::string("Erweitert"); });
    page.RunCommand(L::kAdvanced, user);
    EXPECT_TRUE(page.IsModified());
    EXPECT_EQ(made, 2);
    Make<CPageConfigPOP3>().RunCommand(L::kAdvanced, user); // no factory: nothing happens
}

// --- Shared list files -----------------------------------------------------------------------

TEST_F(ListenerTest, PagesNamingOneFileShareOneListSavedOncePerApply) {
    WriteBytes(dir / "access.allow", "");
    config.smtpd.SetString("AllowAccess", "10.0.0.0/255.0.0.0");
    L& smtp = Make<CPageConfigSMTP>();
    L& pop3 = Make<CPageConfigPOP3>();
    L& imap4 = Make<CPageConfigIMAP4>();
    ASSERT_EQ(&smtp.ListOf("AccessAllowFile"), &pop3.ListOf("AccessAllowFile"));
    ASSERT_EQ(&pop3.ListOf("AccessAllowFile"), &imap4.ListOf("AccessAllowFile"));
    ASSERT_EQ(&pop3.ListOf("AccessDenyFile"), &imap4.ListOf("AccessDenyFile"));
    // The older entries of the page that has them; the default "admit everyone" of the pages
    // without a key is not added beside them.
    EXPECT_EQ(pop3.ListOf("AccessAllowFile").Join(","), "10.0.0.0/255.0.0.0");

    // An edit on one page is seen on the others.
    Type(smtp, L::kAllowAddress, "192.168.0.0");
    Type(smtp, L::kAllowMask, "255.255.0.0");
    smtp.RunCommand(L::kAllowAdd, user);
    EXPECT_TRUE(pop3.Poll(user));
    EXPECT_EQ(pop3.RowsOf(L::kAllowList)->RowCount(), 2u);
    EXPECT_FALSE(pop3.Poll(user));
    Select(imap4, L::kAllowList, 0); // "10.0.0.0/255.0.0.0"
    imap4.OnFirstShow(user);         // refills: the selection goes with the old rows
    Select(imap4, L::kAllowList, 0);
    imap4.RunCommand(L::kAllowRemove, user);

    // One apply of all three pages writes the file once, with one backup of the old content.
    for (L* page : {&smtp, &pop3, &imap4})
        EXPECT_TRUE(page->OnApply(user));
    EXPECT_EQ(ReadBytes(dir / "access.allow"), Crlf("192.168.0.0/255.255.0.0\n"));
    EXPECT_EQ(Backups(dir / "backup.cfg", "access.allow"), 1);
    for (const auto& entry : fs::directory_iterator(dir / "backup.cfg")) {
        if (entry.path().filename().string().starts_with("access.allow-")) {
            EXPECT_EQ(ReadBytes(entry.path().string()), "") << "the copy holds the file as it was";
        }
    }

    // A name that reaches the same file another way is the same list.
    CConfigSet other;
    other.pop3d.SetString("AccessAllowFile", "./sub/../access.allow");
    CPageConfigPOP3 a(other);
    CPageConfigIMAP4 b(other);
    EXPECT_EQ(&a.ListOf("AccessAllowFile"), &b.ListOf("AccessAllowFile"));
    // A page built later with entries of its own replaces a default that stood in. (Windows
    // resolves "sub\\.." by name without the folder, reads the file, and no default stands in.)
    if (testutil::kWindows)
        return;
    EXPECT_EQ(b.ListOf("AccessAllowFile").Join(","), "0.0.0.0/0.0.0.0");
    other.smtpd.SetString("AllowAccess", "10.0.0.0/255.0.0.0");
    CPageConfigSMTP c(other);
    EXPECT_EQ(b.ListOf("AccessAllowFile").Join(","), "10.0.0.0/255.0.0.0");
}

// --- Failed writes ---------------------------------------------------------------------------

TEST_F(ListenerTest, AListThatCannotBeWrittenIsNamedAndTheRestIsApplied) {
    fs::create_directory(dir / "access.deny"); // a folder where the list should be
    config.pop3d.SetString("AllowAccess", "10.0.0.0/255.0.0.0");
    config.imap4d.SetString("AccessDenyFile", "missing/deny");
    L& pop3 = Make<CPageConfigPOP3>();
    L& imap4 = Make<CPageConfigIMAP4>();
    EXPECT_EQ(pop3.ListOf("AccessDenyFile").GetCount(), 0u);

    user.ExpectText("access.deny\" konnte beim Start nicht gelesen");
    EXPECT_TRUE(pop3.OnApply(user));
    EXPECT_EQ(user.kinds.back(), MessageKind::Error);
    EXPECT_TRUE(fs::is_directory(dir / "access.deny"));
    EXPECT_EQ(ReadBytes(dir / "access.allow"), Crlf("10.0.0.0/255.0.0.0\n"));
    EXPECT_EQ(config.pop3d.GetString("AllowAccess", "gone"), "gone");

    user.ExpectText(dir / "missing/deny\" geschrieben");
    EXPECT_TRUE(imap4.OnApply(user));
    EXPECT_EQ(user.kinds.back(), MessageKind::Error);
    EXPECT_EQ(config.imap4d.GetString("Interface", ""), "*");
    EXPECT_FALSE(fs::exists(dir / "missing"));

    // An older key whose list could not reach its file stays: it is the entries' only copy.
    config.smtpd.SetString("AccessRelayFile", "missing/relay");
    config.smtpd.SetString("AllowRelay", "10.1.0.0/255.255.0.0");
    L& smtp = Make<CPageConfigSMTP>();
    user.ExpectText(dir / "missing/relay\" geschrieben");
    EXPECT_TRUE(smtp.OnApply(user));
    EXPECT_EQ(config.smtpd.GetString("AllowRelay", ""), "10.1.0.0/255.255.0.0");
    EXPECT_EQ(config.smtpd.GetString("NeverBlock", "gone"), "gone");
}

// --- SMTP ------------------------------------------------------------------------------------

TEST_F(ListenerTest, SmtpCarriesItsSevenListsFromTheOlderKeysIntoFiles) {
    config.smtpd.SetString("AllowRelay", "10.0.0.0/255.0.0.0,192.168.0.0/255.255.0.0");
    config.smtpd.SetString("NeverBlock", "trusted.example.test");
    config.smtpd.SetString("DenyAccess", "6.6.6.6/255.255.255.255");
    config.smtpd.SetString("DnsBlocklists", "bl.example.test,bl2.example.test");
    config.smtpd.SetString("DnsBlocklists2", "tx.example.test");
    WriteBytes(dir / "deny.connect", Crlf("7.7.7.7/255.255.255.255\n"));
    WriteBytes(dir / "deny.transact", "spam.example.test   \n\n# Ende");
    using S = CPageConfigSMTP;
    L& smtp = Make<S>();
    EXPECT_EQ(smtp.Value(L::kAdvancedText), "Erweiterte Einstellungen des SMTP-Servers.");
    EXPECT_EQ(Rows(*smtp.RowsOf(S::kRelayList)),
              (std::vector<std::string>{"10.0.0.0/255.0.0.0", "192.168.0.0/255.255.0.0"}));
    EXPECT_EQ(smtp.ListOf("DenyConnectFile").Join(","), "7.7.7.7/255.255.255.255");

    Type(smtp, S::kRelayAddress, "172.16.0.0");
    Type(smtp, S::kRelayMask, "255.240.0.0");
    smtp.RunCommand(S::kRelayAdd, user);
    EXPECT_EQ(smtp.ListOf("AccessAllowFile").Join(","), "0.0.0.0/0.0.0.0");

    EXPECT_TRUE(smtp.OnApply(user));
    EXPECT_EQ(ReadBytes(dir / "access.relay"),
              Crlf("10.0.0.0/255.0.0.0\n192.168.0.0/255.255.0.0\n172.16.0.0/255.240.0.0\n"));
    EXPECT_EQ(ReadBytes(dir / "access.trusted"), Crlf("trusted.example.test\n"));
    EXPECT_EQ(ReadBytes(dir / "deny.connect"), Crlf("7.7.7.7/255.255.255.255\n"));
    EXPECT_EQ(ReadBytes(dir / "deny.transact"), Crlf("spam.example.test\n\n# Ende\n"));
    EXPECT_EQ(Backups(dir / "backup.cfg", "deny.transact"), 1);
    EXPECT_EQ(ReadBytes(dir / "dnsrbl.connect"), Crlf("bl.example.test\nbl2.example.test\n"));
    EXPECT_EQ(ReadBytes(dir / "dnsrbl.transact"), Crlf("tx.example.test\n"));
    for (const char* key : {"AllowAccess", "AllowRelay", "NeverBlock", "DenyAccess",
                            "DnsBlocklists", "DnsBlocklists2"})
        EXPECT_EQ(config.smtpd.GetString(key, "gone"), "gone") << key;

    // Without relay file and key the relay list is the loopback network.
    fs::remove(dir / "access.relay");
    CConfigSet next;
    CPageConfigSMTP fresh(next);
    EXPECT_EQ(fresh.ListOf("AccessRelayFile").Join(","), "127.0.0.0/255.0.0.0");
    EXPECT_EQ(fresh.ListOf("AccessTrustedFile").Join(","), "trusted.example.test");
}

// --- Syslog ----------------------------------------------------------------------------------

TEST_F(ListenerTest, SyslogKeysAddressesAndAccessEntries) {
    using Y = CPageConfigSyslog;
    Y page(config, Addresses(Outcome::NoData));
    page.SetLockCancelHandler([this] { ++cancelLocks; });
    EXPECT_EQ(page.Value(Y::kInterface), "<alle>");
    EXPECT_EQ(page.Number(Y::kPort), 514);
    user.ExpectMessage(161);
    page.OnFirstShow(user);
    EXPECT_EQ(page.Suggestions(Y::kInterface), std::vector<std::string>{"<alle>"});

    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(config.syslogd.GetString("Interface", "absent"), "absent");
    EXPECT_EQ(config.syslogd.GetString("Port", ""), "514");
    EXPECT_EQ(config.syslogd.GetString("AllowAccess", ""), "127.0.0.1/255.255.255.255");
    EXPECT_EQ(cancelLocks, 1);

    page.FieldChanged(Y::kAllowAddress, "10.0.0.0");
    page.FieldChanged(Y::kAllowMask, "255.0.0.0");
    page.RunCommand(Y::kAllowAdd, user);
    page.SetValue(Y::kInterface, "10.0.0.5");
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(config.syslogd.GetString("Interface", ""), "10.0.0.5");
    EXPECT_EQ(config.syslogd.GetString("AllowAccess", ""),
              "127.0.0.1/255.255.255.255,10.0.0.0/255.0.0.0");

    page.SetValue(Y::kInterface, "mail:514");
    user.ExpectText("ist ung");
    EXPECT_FALSE(page.OnApply(user));
    page.SetValue(Y::kInterface, "<ALLE>");
    for (int i = 0; i < 2; ++i) {
        page.RowsOf(Y::kAllowList)->Select(0);
        page.SelectionChanged(Y::kAllowList, user);
        page.RunCommand(Y::kAllowRemove, user);
    }
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(config.syslogd.GetString("Interface", "absent"), "absent");
    EXPECT_EQ(config.syslogd.GetString("AllowAccess", "absent"), "absent");

    // A stored port beyond 65535 and a host name stand as they are; the port is refused when
    // taken, the name written back unchanged.
    config.syslogd.SetString("Port", "70000");
    config.syslogd.SetString("Interface", "loghost");
    Y stored(config, Addresses(Outcome::Success, {"10.0.0.1"}));
    EXPECT_EQ(stored.Number(Y::kPort), 70000);
    EXPECT_TRUE(CFieldModel::Refusal(*stored.FindField(Y::kPort), "70000"));
    EXPECT_TRUE(stored.OnApply(user));
    EXPECT_EQ(config.syslogd.GetString("Interface", ""), "loghost");
}

TEST_F(ListenerTest, ValueOfMegabytesLoadsAndNamesOutOfTheFolderFailCleanly) {
    std::string huge;
    for (int i = 0; i < 200000; ++i)
        huge += "10.0.0.1:" + std::to_string(i % 60000) + ",";
    config.smtpd.SetString("Interface", huge);
    config.smtpd.SetString("AccessAllowFile", "../elsewhere/access.allow");
    L& smtp = Make<CPageConfigSMTP>();
    EXPECT_EQ(smtp.InterfaceRows().RowCount(), 200000u);
    user.ExpectText("elsewhere/access.allow\" geschrieben");
    EXPECT_TRUE(smtp.OnApply(user));
    EXPECT_EQ(config.smtpd.GetString("Interface", "").size() + 1, huge.size());
}

TEST_F(ListenerTest, TheSheetHasItsSevenTabsInOrder) {
    const auto sheet = CreatePages(config);
    std::vector<std::string> captions;
    for (const auto& page : sheet)
        captions.push_back(page->Caption());
    EXPECT_THAT(captions, testing::ElementsAre("Domains && Accounts", "Verzeichnisse",
                                               "SMTP-Server", "POP3-Server", "IMAP4-Server",
                                               "Zustellung", "Syslog-Server"));
    EXPECT_EQ(sheet[3]->HelpContext(), help::resource::kPagePop3);
}

} // namespace
