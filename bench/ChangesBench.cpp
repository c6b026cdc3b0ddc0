// The preview of a save and the history of backup copies on the large installation (10,000
// domains, 100,000 accounts, 200,000 lines of "aliases"):
//   the preview of one changed key: the bytes the save would write (TextToSave) compared with
//   the file on disk into a unified diff (preview::OfFile), for "aliases" loaded as the set
//   loads it (CAliasMap, with the domains and the accounts), for the sample's smtpd.cfg and for
//   a service file of 200,000 entries;
//   the listing of a backup folder of 1,000 save moments of 9 copies each (backupfolder::List).
//
// Before the change each file on disk is replaced by what its map would write, as after any
// earlier save: the preview then holds the one changed line and not also the lines the alias
// filter drops at the first load after generating.
//
// Everything is generated once per run, on first use, in a temporary folder on the disk that
// holds /tmp, and removed at exit.
#include "Installation.h"
#include "Common/BackupFolder.h"
#include "Common/MapEx.h"
#include "accounts/AccountStore.h"
#include "accounts/AliasMap.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"
#include "app/ChangePreview.h"
#include "platform/FileSystem.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>

namespace {

using bench::Account;
using bench::Cat;
using bench::Domain;

// The files of the set, as one save copies them.
const char* const kSetFiles[] = {"smtpd.cfg", "pop3d.cfg",  "imap4d.cfg", "syslogd.cfg",
                                 "mdad.cfg",  "domains",    "aliases",    "smarthosts",
                                 "backupdomains"};
constexpr int kMoments = 1000;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

// Makes the bytes on disk those map would write; checks that the preview then finds nothing.
template <class Map> void WriteAsSaved(const Map& map, const std::string& name,
                                       const std::string& path) {
    if (!platform::WriteFileAtomic(path, map.TextToSave()))
        Fail("cannot write " + path);
    if (preview::OfFile(name, path, map.TextToSave()).state !=
        preview::FileChange::State::Unchanged)
        Fail("the preview of the unchanged " + name + " is not empty");
}

class Installation {
public:
    Installation() {
        std::random_device seed;
        for (;;) {
            m_root = Cat("/tmp/korvane-chgbench-", seed());
            if (platform::MakeDirectory(m_root))
                break;
        }
        m_spool = m_root + "/spool";
        mdad.SetString("SpoolDir", m_spool);
        bench::WriteInstallation(m_root, m_spool);
        domains.Load(Path("domains"));
        users.Refresh();

        aliases = std::make_unique<CAliasMap>(domains, users);
        if (!aliases->Load(Path("aliases")))
            Fail("cannot load aliases");
        WriteAsSaved(*aliases, "aliases", Path("aliases"));

        CopySampleSmtpd();
        if (!smtpd.Load(Path("smtpd.cfg")))
            Fail("cannot load smtpd.cfg");
        WriteAsSaved(smtpd, "smtpd.cfg", Path("smtpd.cfg"));

        bench::WriteServiceFile(Path("large.cfg"), 200000);
        if (!large.Load(Path("large.cfg")))
            Fail("cannot load large.cfg");
        WriteAsSaved(large, "large.cfg", Path("large.cfg"));

        MakeBackupFolder(Path("backup.cfg"));
    }
    ~Installation() { RemoveTree(m_root); }

    std::string Path(const char* name) const { return m_root + "/" + name; }

    CConfigMap mdad;
    CDomainList domains;
    CUserList users{mdad};
    std::unique_ptr<CAliasMap> aliases;
    CConfigMap smtpd;
    CConfigMap large;

private:
    void CopySampleSmtpd() const {
        std::string text;
        if (!platform::ReadWholeFile(std::string(KORVANE_SAMPLE_CONFIG) + "/smtpd.cfg", text) ||
            !platform::WriteFileAtomic(Path("smtpd.cfg"), text))
            Fail("cannot copy the sample's smtpd.cfg");
    }

    // kMoments saves an hour apart, each with a small copy of every file of the set.
    static void MakeBackupFolder(const std::string& folder) {
        if (!platform::MakeDirectory(folder))
            Fail("cannot make " + folder);
        for (int i = 0; i < kMoments; ++i) {
            const int day = i / 24;
            char moment[32];
            std::snprintf(moment, sizeof moment, "26%02d%02d-%02d0000", 1 + day / 28, 1 + day % 28,
                          i % 24);
            for (const char* file : kSetFiles) {
                std::ofstream out(Cat(folder, "/", file, "-", moment), std::ios::binary);
                out << "Copy of " << file << " at " << moment << "\r\n";
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

// One key of map changed, the preview of the save timed: the rendering of the bytes to save
// and their comparison with the file, as the dry run and the sheet's preview do it.
template <class Map>
void PreviewOneKey(benchmark::State& state, Map& map, const char* name, const std::string& path,
                   const std::string& key, const std::string& value) {
    std::string before;
    if (!map.Lookup(key, before) || before == value) {
        state.SkipWithError("the key to change is missing or holds the new value already");
        return;
    }
    map.SetAt(key, value);
    std::size_t diffBytes = 0;
    for (auto _ : state) {
        const preview::FileChange change = preview::OfFile(name, path, map.TextToSave());
        if (change.state != preview::FileChange::State::Changed) {
            state.SkipWithError("the preview finds no change");
            break;
        }
        diffBytes = change.diff.size();
    }
    map.SetAt(key, before);
    // A label, not a counter: the CSV report wants the same counters in every benchmark.
    state.SetLabel(Cat("diff of ", diffBytes, " bytes"));
}

void BM_Preview_Aliases(benchmark::State& state) {
    Installation& install = Install();
    PreviewOneKey(state, *install.aliases, "aliases", install.Path("aliases"),
                  Cat("u1@", Domain(5000)), Account(2, 5000));
}
BENCHMARK(BM_Preview_Aliases)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Preview_ServiceFile(benchmark::State& state) {
    Installation& install = Install();
    PreviewOneKey(state, install.smtpd, "smtpd.cfg", install.Path("smtpd.cfg"), "MaxThreads",
                  install.smtpd.GetString("MaxThreads", "") == "12" ? "13" : "12");
}
BENCHMARK(BM_Preview_ServiceFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Preview_LargeServiceFile(benchmark::State& state) {
    Installation& install = Install();
    PreviewOneKey(state, install.large, "large.cfg", install.Path("large.cfg"),
                  "Section90.Key100000", "changed");
}
BENCHMARK(BM_Preview_LargeServiceFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BackupList(benchmark::State& state) {
    const std::string folder = Install().Path("backup.cfg");
    std::size_t moments = 0;
    for (auto _ : state) {
        const backupfolder::Listing listing = backupfolder::List(folder);
        moments = listing.moments.size();
        benchmark::DoNotOptimize(listing.moments.data());
    }
    if (moments != kMoments)
        state.SkipWithError("the listing does not hold every moment");
    state.SetLabel(Cat(moments, " moments"));
}
BENCHMARK(BM_BackupList)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
