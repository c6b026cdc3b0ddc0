// The Domains and accounts page on the large installation (10,000 domains, 100,000 accounts,
// 200,000 alias lines), through the Qt item model and a real list view on the offscreen
// platform: what the administrator waits for when selecting the root, selecting a domain and
// adding an account. Beside each, the page's algorithm done the straightforward way (every
// alias entry visited, the spool read again, rows inserted one by one into a sorted list);
// the straightforward root view runs on a slice of the accounts, compare it per item.
#include "Installation.h"
#include "LiteralAccounts.h"
#include "accounts/AccountStore.h"
#include "app/ConfigSet.h"
#include "Common/Ansi.h"
#include "app/QuibrelApp.h"
#include "gui/DialogView.h"
#include "gui/QtPrompter.h"
#include "gui/QuibrelDlg.h"
#include "gui/RowItemModels.h"
#include "pages/AccountDialogs.h"
#include "pages/CheckDlg.h"
#include "pages/PageDomains.h"
#include "pages/Pages.h"
#include "pages/TraceDlg.h"
#include "platform/ServiceManager.h"
#include "platform/FileSystem.h"

#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// The user: answers every message with OK (Yes), and fills the add-account dialog with the
// next local part.
class CBenchUser : public CPrompter {
public:
    std::string nextLocalPart;
    Answer ShowMessage(const PromptMessage& message) override {
        return message.kind == MessageKind::Question ? Answer::Yes : Answer::Ok;
    }
    bool RunDialog(CDialogModel& dialog) override {
        dialog.SetValue(CAddAccountDlg::kLocalPart, nextLocalPart);
        dialog.SetValue(CAddAccountDlg::kPassword, "secret");
        return true;
    }
    void OpenProgress(std::string_view) override {}
    void CloseProgress() override {}
    std::optional<std::string> BrowseForFolder(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    void Help(unsigned, unsigned long) override {}
};

class Installation {
public:
    Installation() {
        std::random_device seed;
        for (;;) {
            m_root = bench::Cat("/tmp/korvane-pagebench-", seed());
            if (platform::MakeDirectory(m_root))
                break;
        }
        m_spool = m_root + "/spool";
        bench::WriteInstallation(m_root, m_spool);
        set.mdad.SetString("SpoolDir", m_spool);
        set.domains.Load(m_root + "/domains");
        set.backupDomains.Load(m_root + "/backupdomains");
        set.users.StartWatch(m_spool);
        set.users.Refresh(m_spool);
        set.aliases.Load(m_root + "/aliases");
        page = std::make_unique<CPageDomains>(
            set, [] { return platform::HostIdentity{"mail.d00000.example", "127.0.0.1"}; });
        page->RebuildTree();

        literalDomains.Load(m_root + "/domains");
        literalUsers.Refresh(m_spool);
        literalAliases = std::make_unique<literal::CAliasMap>(literalDomains, literalUsers);
        std::string key, value;
        for (auto position = set.aliases.GetStartPosition(); position;) {
            set.aliases.GetNextAssoc(position, key, value);
            literalAliases->SetAt(key, value);
        }

        adapter = std::make_unique<CRowItemModel>(*page->RowsOf(CPageDomains::kAddressList));
        view.setModel(adapter.get());
        view.setRootIsDecorated(false);
        view.resize(640, 480);
        view.show();
        QApplication::processEvents();
    }
    ~Installation() { RemoveTree(m_root); }

    // Selects a node of the tree as a click does, and waits until the list is drawn.
    void Select(CTreeModel::NodeId node) {
        page->TreeOf(CPageDomains::kDomainTree)->Select(node);
        page->SelectionChanged(CPageDomains::kDomainTree, user);
        Draw();
    }
    // The first screen of cells, converted and painted as the view does.
    void Draw() {
        adapter->Sync();
        benchmark::DoNotOptimize(view.grab());
    }
    CTreeModel::NodeId Root() const { return page->Tree().Child(CTreeModel::kNone, 0); }
    CTreeModel::NodeId DomainNode(const std::string& domain) const {
        const CTreeModel& tree = page->Tree();
        for (std::size_t i = 0; i < tree.ChildCount(Root()); ++i)
            if (tree.Text(tree.Child(Root(), i)) == domain)
                return tree.Child(Root(), i);
        return CTreeModel::kNone;
    }
    const std::string& Spool() const { return m_spool; }

    CConfigSet set;
    std::unique_ptr<CPageDomains> page;
    CBenchUser user;
    std::unique_ptr<CRowItemModel> adapter;
    QTreeView view;
    literal::CDomainList literalDomains;
    literal::CUserList literalUsers;
    std::unique_ptr<literal::CAliasMap> literalAliases;

private:
    std::string m_root;
    std::string m_spool;
};

// Made by the first benchmark that needs it; gone before the application object, whose
// widgets it holds (a static one outlived QApplication and crashed the exit).
std::unique_ptr<Installation> g_installation;

Installation& Install() {
    if (!g_installation)
        g_installation = std::make_unique<Installation>();
    return *g_installation;
}

// The rows of a list control that keeps itself sorted: each row inserted at its place.
void InsertSorted(std::vector<std::string>& rows, std::string row) {
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row), std::move(row));
}

void BM_PageSelectRoot(benchmark::State& state) {
    Installation& install = Install();
    for (auto _ : state)
        install.Select(install.Root());
    state.counters["rows"] = static_cast<double>(install.adapter->rowCount());
}
BENCHMARK(BM_PageSelectRoot)->Unit(benchmark::kMillisecond);

// The largest root view: no alias reaches any of the 100,000 accounts, so every one is a row.
void BM_PageSelectRootAllAccounts(benchmark::State& state) {
    Installation& install = Install();
    static CConfigSet bare;
    static std::unique_ptr<CPageDomains> page = [&] {
        bare.mdad.SetString("SpoolDir", install.Spool());
        bare.users.StartWatch(install.Spool());
        bare.users.Refresh(install.Spool());
        auto made = std::make_unique<CPageDomains>(
            bare, [] { return platform::HostIdentity{"mail.d00000.example", "127.0.0.1"}; });
        made->RebuildTree();
        return made;
    }();
    CRowItemModel adapter(*page->RowsOf(CPageDomains::kAddressList));
    QTreeView view;
    view.setModel(&adapter);
    view.setRootIsDecorated(false);
    view.resize(640, 480);
    view.show();
    QApplication::processEvents();
    CTreeModel& tree = *page->TreeOf(CPageDomains::kDomainTree);
    for (auto _ : state) {
        tree.Select(tree.Child(CTreeModel::kNone, 0));
        page->SelectionChanged(CPageDomains::kDomainTree, install.user);
        adapter.Sync();
        benchmark::DoNotOptimize(view.grab());
    }
    state.counters["rows"] = static_cast<double>(adapter.rowCount());
}
BENCHMARK(BM_PageSelectRootAllAccounts)->Unit(benchmark::kMillisecond);

// The spool read again, then for each account every alias entry visited, on a slice of 100
// accounts; the whole root view costs items_per_second for every one of the 100,000.
void BM_PageSelectRootLiteral(benchmark::State& state) {
    Installation& install = Install();
    std::vector<std::string> slice;
    for (auto position = install.literalUsers.Names().GetHeadPosition();
         position && slice.size() < 100;)
        slice.emplace_back(install.literalUsers.Names().GetNext(position));
    for (auto _ : state) {
        install.literalUsers.Refresh(install.Spool());
        std::vector<std::string> rows;
        for (const std::string& account : slice)
            if (!install.literalAliases->HasDomainAddress(account))
                InsertSorted(rows, account);
        benchmark::DoNotOptimize(rows);
    }
    state.SetItemsProcessed(state.iterations() * slice.size());
}
BENCHMARK(BM_PageSelectRootLiteral)->Unit(benchmark::kMillisecond);

void BM_PageSelectDomain(benchmark::State& state) {
    Installation& install = Install();
    const CTreeModel::NodeId a = install.DomainNode(bench::Domain(4242));
    const CTreeModel::NodeId b = install.DomainNode(bench::Domain(1717));
    bool flip = false;
    for (auto _ : state)
        install.Select((flip = !flip) ? a : b);
    state.counters["rows"] = static_cast<double>(install.adapter->rowCount());
}
BENCHMARK(BM_PageSelectDomain)->Unit(benchmark::kMillisecond);

// A domain's list rebuilt the straightforward way: the spool read again, every alias entry
// visited, each row of the domain inserted at its place.
std::vector<std::string> LiteralDomainRows(Installation& install, const std::string& domain) {
    install.literalUsers.Refresh(install.Spool());
    std::vector<std::string> rows;
    std::string key, value;
    for (auto position = install.literalAliases->GetStartPosition(); position;) {
        install.literalAliases->GetNextAssoc(position, key, value);
        const std::size_t at = key.find('@');
        if (at != std::string::npos && at > 0 &&
            ansi::EqualNoCase(std::string_view(key).substr(at + 1), domain))
            InsertSorted(rows, key);
    }
    return rows;
}

void BM_PageSelectDomainLiteral(benchmark::State& state) {
    Installation& install = Install();
    const std::string domain = bench::Domain(4242);
    for (auto _ : state)
        benchmark::DoNotOptimize(LiteralDomainRows(install, domain));
}
BENCHMARK(BM_PageSelectDomainLiteral)->Unit(benchmark::kMillisecond);

// An account made on disk (folder, "password", "config", each written safely), its address
// entered, the list rebuilt and drawn.
void BM_PageAddAccount(benchmark::State& state) {
    Installation& install = Install();
    install.Select(install.DomainNode(bench::Domain(77)));
    int n = 0;
    for (auto _ : state) {
        install.user.nextLocalPart = bench::Cat("bench", n++);
        install.page->RunCommand(CPageDomains::kAddAccount, install.user);
        install.Draw();
    }
    state.counters["rows"] = static_cast<double>(install.adapter->rowCount());
}
BENCHMARK(BM_PageAddAccount)->Unit(benchmark::kMillisecond);

void BM_PageAddAccountLiteral(benchmark::State& state) {
    Installation& install = Install();
    const std::string domain = bench::Domain(78);
    CAccountStore store(install.set.mdad);
    int n = 0;
    for (auto _ : state) {
        const std::string local = bench::Cat("literal", n++);
        store.CreateAccount(AccountNameOf(local, domain), "secret", AccountSettings{});
        install.literalAliases->SetAt(AliasAddressOf(local, domain), AccountNameOf(local, domain));
        benchmark::DoNotOptimize(LiteralDomainRows(install, domain));
    }
}
BENCHMARK(BM_PageAddAccountLiteral)->Unit(benchmark::kMillisecond);

// --- Find and warn ------------------------------------------------------------------------------

// One keystroke in the search at the root, where it looks through every row (every address of
// every domain and the root's own: 170,000 once the load has dropped what leads nowhere),
// until the first screen of matches is drawn:
// typing the last character of the domain "d04242" and taking it back, in turn.
void BM_PageFilterKeystroke(benchmark::State& state) {
    Installation& install = Install();
    install.Select(install.Root());
    install.page->FieldChanged(CPageDomains::kAddressFilter, "d0424");
    install.Draw();
    bool flip = false;
    for (auto _ : state) {
        install.page->FieldChanged(CPageDomains::kAddressFilter, (flip = !flip) ? "d04242" : "d0424");
        install.Draw();
    }
    state.counters["rows"] = static_cast<double>(install.adapter->rowCount());
    state.counters["of"] = static_cast<double>(install.page->Rows().TotalCount());
    install.page->FieldChanged(CPageDomains::kAddressFilter, "");
}
BENCHMARK(BM_PageFilterKeystroke)->Unit(benchmark::kMillisecond);

// The first character typed at the root: the root's own rows give way to all of them, which
// are gathered, sorted and searched; and the search emptied again.
void BM_PageFilterFirstKeystroke(benchmark::State& state) {
    Installation& install = Install();
    install.Select(install.Root());
    bool flip = false;
    for (auto _ : state) {
        install.page->FieldChanged(CPageDomains::kAddressFilter, (flip = !flip) ? "u" : "");
        install.Draw();
    }
    install.page->FieldChanged(CPageDomains::kAddressFilter, "");
}
BENCHMARK(BM_PageFilterFirstKeystroke)->Unit(benchmark::kMillisecond);

// The search done the straightforward way over the same rows: each address and target lowered
// and searched, the matching rows copied into a list of their own, which the view then shows.
void BM_PageFilterKeystrokeLiteral(benchmark::State& state) {
    Installation& install = Install();
    install.Select(install.Root());
    install.page->FieldChanged(CPageDomains::kAddressFilter, "u");
    const CAddressRows& all = install.page->Rows();
    std::vector<std::pair<std::string, std::string>> rows;
    for (std::size_t i = 0; i < all.RowCount(); ++i)
        rows.emplace_back(std::string(all.Address(i)), std::string(all.Target(i)));
    install.page->FieldChanged(CPageDomains::kAddressFilter, "");
    bool flip = false;
    for (auto _ : state) {
        const std::string needle = (flip = !flip) ? "d04242" : "d0424";
        std::vector<std::pair<std::string, std::string>> matches;
        for (const auto& [address, target] : rows)
            if (ansi::ToLower(address).find(needle) != std::string::npos ||
                ansi::ToLower(target).find(needle) != std::string::npos)
                matches.emplace_back(address, target);
        benchmark::DoNotOptimize(matches);
    }
    state.counters["rows"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_PageFilterKeystrokeLiteral)->Unit(benchmark::kMillisecond);

// The trace window opened on an address, traced and drawn.
void BM_TraceWindow(benchmark::State& state) {
    Installation& install = Install();
    const std::string address = bench::Cat("u4@", bench::Domain(4242));
    for (auto _ : state) {
        CTraceDlg trace(install.set, address);
        trace.OnOpen(install.user);
        CDialogView view(trace, install.user);
        view.show();
        benchmark::DoNotOptimize(view.grab());
    }
}
BENCHMARK(BM_TraceWindow)->Unit(benchmark::kMillisecond);

// "Prüfen..." on a whole installation the sheet holds (the folder KORVANE_BENCH_CONFIG names,
// as bench/targets prepares it for korvanectl): the shown page staged, the check on the set in
// memory, and its window drawn.
void BM_CheckWindow(benchmark::State& state) {
    const char* folder = std::getenv("KORVANE_BENCH_CONFIG");
    if (!folder) {
        state.SkipWithError("KORVANE_BENCH_CONFIG names no configuration folder");
        return;
    }
    setenv("MAILCONFIGDIR", folder, 1);
    // The cycle loads the set and ends at the sheet with Cancel; the set stays with the app.
    class CKeepSheet : public CSheet {
    public:
        bool Run(CConfigSet&, CPrompter&) override { return false; }
    };
    static CKeepSheet keep;
    static CUnattendedPrompter prompter;
    static auto services = platform::CreateServiceManager();
    static CQuibrelApp app(CAppEnvironment{prompter, *services, keep, [] { return true; },
                                           [] { return 0; }, [](unsigned) {}});
    static const bool loaded = (app.Run(""), true);
    benchmark::DoNotOptimize(loaded);
    const auto pages = CreatePages(app.set());
    CQuibrelDlg sheet(pages, prompter);
    CheckEnvironment environment;
    environment.hostName = "mail.d00000.example";
    environment.configDir = folder;
    sheet.SetConfigSet(&app.set(), environment);
    sheet.ShowPage(0);
    for (auto _ : state) {
        sheet.RefreshCheck(true);
        CCheckDlg check(sheet.checkFindings());
        CDialogView view(check, prompter);
        view.show();
        benchmark::DoNotOptimize(view.grab());
    }
}
BENCHMARK(BM_CheckWindow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_installation.reset();
    return 0;
}
