// The account store on a large installation: 10,000 local domains, 100,000 account folders and
// 200,000 alias entries. Each case stands beside the straightforward version of the same work
// (LiteralAccounts.h). The literal versions of per-item questions run on a slice of the items;
// compare them by their time per item (items_per_second).
//
// The installation is generated once per run, on first use, in a temporary folder on the disk
// that holds /tmp, and removed at exit.
#include "Installation.h"
#include "LiteralAccounts.h"
#include "accounts/AccountStore.h"
#include "accounts/AliasMap.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"
#include "platform/FileSystem.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using bench::Account;
using bench::Cat;
using bench::Domain;

constexpr int kLiteralSlice = 100; // items the literal per-item cases handle

class Installation {
public:
    Installation() {
        std::random_device seed;
        for (;;) {
            m_root = Cat("/tmp/korvane-accbench-", seed());
            if (platform::MakeDirectory(m_root))
                break;
        }
        m_spool = m_root + "/spool";
        mdad.SetString("SpoolDir", m_spool);
        aliasLines = bench::WriteInstallation(m_root, m_spool);
        MakeAddresses();

        domains.Load(Path("domains"));
        users.Refresh();
        literalDomains.Load(Path("domains"));
        literalUsers.Refresh(m_spool);
        // A slice of "aliases" for the literal filter, whose cost per line does not depend on
        // how many lines there are, only on the sizes of the lists it walks.
        std::ifstream in(Path("aliases"), std::ios::binary);
        std::ofstream slice(Path("aliases.slice"), std::ios::binary);
        std::string line;
        for (int i = 0; std::getline(in, line); ++i)
            if (i % 100 == 0)
                slice << line << '\n';
    }
    ~Installation() { RemoveTree(m_root); }

    std::string Path(const char* name) const { return m_root + "/" + name; }
    const std::string& Spool() const { return m_spool; }

    CConfigMap mdad;
    CDomainList domains;
    CUserList users{mdad};
    literal::CDomainList literalDomains;
    literal::CUserList literalUsers;
    std::vector<std::string> addresses; // what ResolveAddress is asked for
    int aliasLines = 0;

private:
    // 10,000 addresses: exact keys, keys in other letter case, catch-all and pattern hits,
    // misses.
    void MakeAddresses() {
        std::mt19937 random(42);
        for (int i = 0; i < 10000; ++i) {
            const int d = static_cast<int>(random() % bench::kDomains);
            switch (i % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
                addresses.push_back(Cat("u", i % 10, "@", Domain(d)));
                break;
            case 4:
            case 5:
                addresses.push_back(Cat("FW1@D", Domain(d).substr(1)));
                break;
            case 6:
            case 7:
                addresses.push_back(Cat("nobody", i, "@", Domain(d)));
                break;
            case 8:
                addresses.push_back(Cat("sales@", Domain(d - d % 4)));
                break;
            default:
                addresses.push_back(Cat("a", i, "@nowhere.test"));
            }
        }
    }

    std::string m_root;
    std::string m_spool;
};

Installation& Install() {
    static Installation installation;
    return installation;
}

// A loaded alias map, shared by the look-up cases.
CAliasMap& LoadedAliases() {
    static std::unique_ptr<CAliasMap> aliases = [] {
        auto map = std::make_unique<CAliasMap>(Install().domains, Install().users);
        map->Load(Install().Path("aliases"));
        return map;
    }();
    return *aliases;
}

literal::CAliasMap& LiteralAliases() {
    static std::unique_ptr<literal::CAliasMap> aliases = [] {
        // The literal filter over the whole file would take minutes; the map it builds is the
        // same as the indexed one, so the indexed load stands in for it here.
        auto map =
            std::make_unique<literal::CAliasMap>(Install().literalDomains, Install().literalUsers);
        std::string key, value;
        const CAliasMap& loaded = LoadedAliases();
        for (auto position = loaded.GetStartPosition(); position;) {
            loaded.GetNextAssoc(position, key, value);
            map->SetAt(key, value);
        }
        return map;
    }();
    return *aliases;
}

void BM_AccountUserListRefresh(benchmark::State& state) {
    Installation& install = Install();
    for (auto _ : state)
        install.users.Refresh();
    state.SetItemsProcessed(state.iterations() * install.users.GetCount());
}
BENCHMARK(BM_AccountUserListRefresh)->Unit(benchmark::kMillisecond);

void BM_AccountUserListRefreshLiteral(benchmark::State& state) {
    Installation& install = Install();
    literal::CUserList users;
    for (auto _ : state)
        users.Refresh(install.Spool());
    state.SetItemsProcessed(state.iterations() * users.Names().GetCount());
}
BENCHMARK(BM_AccountUserListRefreshLiteral)->Unit(benchmark::kMillisecond);

// Arming the subtree watch visits every folder of the spool; measured once.
void BM_AccountWatchStart(benchmark::State& state) {
    Installation& install = Install();
    CUserList users(install.mdad);
    bool armed = false;
    for (auto _ : state)
        armed = users.StartWatch();
    state.counters["armed"] = armed ? 1 : 0;
}
BENCHMARK(BM_AccountWatchStart)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same file loaded without any filter: the yardstick for the filtered load.
void BM_AccountAliasLoadUnfiltered(benchmark::State& state) {
    Installation& install = Install();
    CConfigMap plain;
    for (auto _ : state)
        plain.Load(install.Path("aliases"));
    state.SetItemsProcessed(state.iterations() * install.aliasLines);
    state.counters["entries"] = static_cast<double>(plain.GetCount());
}
BENCHMARK(BM_AccountAliasLoadUnfiltered)->Unit(benchmark::kMillisecond);

void BM_AccountAliasLoadFiltered(benchmark::State& state) {
    Installation& install = Install();
    CAliasMap aliases(install.domains, install.users);
    for (auto _ : state)
        aliases.Load(install.Path("aliases"));
    state.SetItemsProcessed(state.iterations() * install.aliasLines);
    state.counters["entries"] = static_cast<double>(aliases.GetCount());
    state.counters["dropped"] = aliases.GetDroppedCount();
}
BENCHMARK(BM_AccountAliasLoadFiltered)->Unit(benchmark::kMillisecond);

// One line in a hundred, through lists walked from the head.
void BM_AccountAliasLoadFilteredLiteral(benchmark::State& state) {
    Installation& install = Install();
    literal::CAliasMap aliases(install.literalDomains, install.literalUsers);
    for (auto _ : state)
        aliases.Load(install.Path("aliases.slice"));
    state.SetItemsProcessed(state.iterations() * (install.aliasLines / 100));
}
BENCHMARK(BM_AccountAliasLoadFilteredLiteral)->Unit(benchmark::kMillisecond);

void BM_AccountResolveAddress(benchmark::State& state) {
    Installation& install = Install();
    const CAliasMap& aliases = LoadedAliases();
    std::string target;
    aliases.ResolveAddress("warm@up.test", target); // the pattern index is built once
    std::size_t resolved = 0;
    for (auto _ : state)
        for (const std::string& address : install.addresses)
            resolved += aliases.ResolveAddress(address, target);
    state.SetItemsProcessed(state.iterations() * install.addresses.size());
    state.counters["resolved"] =
        static_cast<double>(resolved) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AccountResolveAddress)->Unit(benchmark::kMillisecond);

void BM_AccountResolveAddressLiteral(benchmark::State& state) {
    Installation& install = Install();
    const literal::CAliasMap& aliases = LiteralAliases();
    std::string target;
    for (auto _ : state)
        for (int i = 0; i < kLiteralSlice; ++i)
            benchmark::DoNotOptimize(aliases.ResolveAddress(install.addresses[i], target));
    state.SetItemsProcessed(state.iterations() * kLiteralSlice);
}
BENCHMARK(BM_AccountResolveAddressLiteral)->Unit(benchmark::kMillisecond);

// What the root view of the domains page asks: for every account, whether an address reaches
// it; the accounts no address reaches are its rows.
void BM_AccountHasDomainAddressAll(benchmark::State& state) {
    Installation& install = Install();
    const CAliasMap& aliases = LoadedAliases();
    aliases.HasDomainAddress("warm-up"); // the index is built once
    std::size_t rows = 0;
    for (auto _ : state)
        rows = aliases.AccountsWithoutDomainAddress(install.users).size();
    state.SetItemsProcessed(state.iterations() * install.users.GetCount());
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_AccountHasDomainAddressAll)->Unit(benchmark::kMillisecond);

// The same asked one account at a time.
void BM_AccountHasDomainAddressEach(benchmark::State& state) {
    Installation& install = Install();
    const CAliasMap& aliases = LoadedAliases();
    aliases.HasDomainAddress("warm-up");
    std::size_t withAddress = 0;
    for (auto _ : state)
        install.users.ForEach(
            [&](std::string_view account) { withAddress += aliases.HasDomainAddress(account); });
    state.SetItemsProcessed(state.iterations() * install.users.GetCount());
    state.counters["reached"] =
        static_cast<double>(withAddress) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AccountHasDomainAddressEach)->Unit(benchmark::kMillisecond);

// The whole question right after a change of the map, so that the index is rebuilt first.
void BM_AccountHasDomainAddressAllAfterChange(benchmark::State& state) {
    Installation& install = Install();
    CAliasMap& aliases = LoadedAliases();
    for (auto _ : state) {
        aliases.SetAt("bench@d00000.example", Account(0, 0));
        aliases.RemoveKey("bench@d00000.example");
        benchmark::DoNotOptimize(aliases.AccountsWithoutDomainAddress(install.users));
    }
    state.SetItemsProcessed(state.iterations() * install.users.GetCount());
}
BENCHMARK(BM_AccountHasDomainAddressAllAfterChange)->Unit(benchmark::kMillisecond);

void BM_AccountHasDomainAddressAllLiteral(benchmark::State& state) {
    Installation& install = Install();
    const literal::CAliasMap& aliases = LiteralAliases();
    std::vector<std::string> slice;
    for (auto position = install.literalUsers.Names().GetHeadPosition();
         position && slice.size() < kLiteralSlice;)
        slice.emplace_back(install.literalUsers.Names().GetNext(position));
    for (auto _ : state)
        for (const std::string& account : slice)
            benchmark::DoNotOptimize(aliases.HasDomainAddress(account));
    state.SetItemsProcessed(state.iterations() * slice.size());
}
BENCHMARK(BM_AccountHasDomainAddressAllLiteral)->Unit(benchmark::kMillisecond);

void BM_AccountListDomain(benchmark::State& state) {
    const CAliasMap& aliases = LoadedAliases();
    aliases.GetDomainEntries("warm-up"); // the first listing after a change scans,
    aliases.GetDomainEntries("warm-up"); // the second builds the index
    std::size_t rows = 0;
    for (auto _ : state)
        rows = aliases.GetDomainEntries("D04242.example").size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_AccountListDomain)->Unit(benchmark::kMicrosecond);

// The page lists the domain it shows again after every edit.
void BM_AccountListDomainAfterChange(benchmark::State& state) {
    CAliasMap& aliases = LoadedAliases();
    for (auto _ : state) {
        aliases.SetAt("bench@d00000.example", Account(0, 0));
        aliases.RemoveKey("bench@d00000.example");
        benchmark::DoNotOptimize(aliases.GetDomainEntries("D04242.example"));
    }
}
BENCHMARK(BM_AccountListDomainAfterChange)->Unit(benchmark::kMicrosecond);

void BM_AccountListDomainLiteral(benchmark::State& state) {
    const literal::CAliasMap& aliases = LiteralAliases();
    std::size_t rows = 0;
    for (auto _ : state)
        rows = aliases.CountDomainEntries("D04242.example");
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_AccountListDomainLiteral)->Unit(benchmark::kMicrosecond);

} // namespace
