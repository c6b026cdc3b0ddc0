// OK on the large installation (10,000 domains, 100,000 accounts, 200,000 alias lines, the
// sample's service files pointing into the work folder): from the click until every file is
// written. The real cycle runs, CQuibrelApp::Run, with a sheet that makes the pages the Qt
// sheet makes, shows each once (so the sheet applies every one of them), and on OK applies them
// in tab order as CQuibrelDlg::Apply does; then the app saves the whole set as it always does.
// No service runs, so nothing is restarted. The load and the first showing of the pages are
// the start, not OK: they run with the timer paused.
//
// Beside it the floor: the same bytes written to the same number of files in a folder on the
// same disk, each file with one fdatasync and nothing else (no temporary file, no rename, no
// folder sync, no backup read).
#include "Installation.h"
#include "accounts/AccountStore.h"
#include "app/QuibrelApp.h"
#include "pages/Pages.h"
#include "platform/DirectoryList.h"
#include "platform/FileSystem.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// The administrator: answers every question with No (OK changes nothing the pages offer to
// change), every other message with OK; keeps the texts for the report of a run that failed.
class CBenchUser : public CPrompter {
public:
    std::vector<std::string> messages;
    Answer ShowMessage(const PromptMessage& message) override {
        messages.push_back(message.text);
        return message.kind == MessageKind::Question ? Answer::No : Answer::Ok;
    }
    bool RunDialog(CDialogModel&) override { return false; }
    void OpenProgress(std::string_view) override {}
    void CloseProgress() override {}
    std::optional<std::string> BrowseForFolder(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    void Help(unsigned, unsigned long) override {}
};

// No service of the suite runs, so OK asks none to restart.
class CNoServices : public platform::ServiceManager {
public:
    bool QueryStatus(const std::string&, platform::ServiceStatus& status) override {
        status.state = platform::ServiceState::Stopped;
        return true;
    }
    bool Start(const std::string&) override { return false; }
    bool SendRestartRequest(const std::string&) override { return false; }
};

// The sheet after the administrator has looked at every tab and pressed OK. The timer (when
// there is one) starts at the click; the pages are destroyed before Run returns, as the Qt
// sheet's are.
class COkSheet : public CSheet {
public:
    explicit COkSheet(benchmark::State* state) : m_state(state) {}
    bool resumed = false;
    bool applied = false;

    bool Run(CConfigSet& set, CPrompter& prompter) override {
        const auto pages = CreatePages(set);
        for (const auto& page : pages)
            page->OnFirstShow(prompter);
        if (m_state) {
            m_state->ResumeTiming();
            resumed = true;
        }
        for (const auto& page : pages) {
            if (!page->OnApply(prompter))
                return false;
            page->SetModified(false);
        }
        applied = true;
        return true;
    }

private:
    benchmark::State* m_state;
};

struct WrittenFile {
    std::string path;
    std::string bytes;
};

class Installation {
public:
    Installation() {
        std::random_device seed;
        for (;;) {
            m_root = bench::Cat("/tmp/korvane-okbench-", seed());
            if (platform::MakeDirectory(m_root))
                break;
        }
        m_config = m_root + "/config";
        m_floor = m_root + "/floor";
        platform::MakeDirectory(m_config);
        platform::MakeDirectory(m_floor);
        CopySampleServiceFiles();
        bench::WriteInstallation(m_config, m_root + "/spool");
        platform::SetEnvironment("MAILCONFIGDIR", m_config);

        // The first OK writes the list files the sample does not have; from the second on
        // every OK writes the same files, and those are what the floor writes.
        for (int round = 0; round < 2; ++round) {
            ClearBackups();
            if (!RunOk(nullptr)) {
                std::fprintf(stderr, "OK on the installation failed:\n");
                for (const std::string& text : lastMessages)
                    std::fprintf(stderr, "  %s\n", text.c_str());
                std::abort();
            }
        }
        CollectWritten(m_config);
        CollectWritten(Backups());
        for (std::size_t i = 0; i < written.size(); ++i)
            floorFiles.push_back({bench::Cat(m_floor, "/file", i), written[i].bytes});
    }
    ~Installation() { RemoveTree(m_root); }

    std::string Backups() const { return m_config + "/backup.cfg"; }

    // Each OK leaves a time-stamped copy of every file; removed between runs, so that every
    // OK meets the same backup folder.
    void ClearBackups() const {
        platform::DirectoryListing listing(Backups());
        std::vector<std::string> names;
        platform::DirectoryEntry entry;
        while (listing.Next(entry))
            if (!entry.isDirectory)
                names.push_back(entry.name);
        for (const std::string& name : names)
            platform::RemoveFile(Backups() + "/" + name);
    }

    // One whole cycle: load, the sheet, OK. With a state the timer runs from the click until
    // Run returns; the app's end (freeing the set) is not part of OK.
    bool RunOk(benchmark::State* state) {
        CBenchUser user;
        CNoServices services;
        COkSheet sheet(state);
        auto app = std::make_unique<CQuibrelApp>(CAppEnvironment{
            user, services, sheet, [] { return true; }, [] { return 0; }, [](unsigned) {}});
        const AppOutcome outcome = app->Run("");
        if (sheet.resumed)
            state->PauseTiming();
        app.reset();
        lastMessages = std::move(user.messages);
        return outcome == AppOutcome::Saved && sheet.applied;
    }

    std::vector<WrittenFile> written;    // what one OK writes, with the bytes it writes
    std::vector<WrittenFile> floorFiles; // the same bytes under the floor's names
    std::vector<std::string> lastMessages;

private:
    // The sample's service files, as bench/start-time prepares them: the spool and the other
    // folders of the suite point into the work folder.
    void CopySampleServiceFiles() const {
        const std::string sample = KORVANE_SAMPLE_CONFIG;
        platform::DirectoryListing listing(sample);
        platform::DirectoryEntry entry;
        while (listing.Next(entry)) {
            if (entry.isDirectory || !entry.name.ends_with(".cfg"))
                continue;
            std::string text;
            if (!platform::ReadWholeFile(sample + "/" + entry.name, text))
                std::abort();
            const std::string from = "/var/spool/korvane/";
            for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos;) {
                text.replace(at, from.size(), m_root + "/");
                at += m_root.size() + 1;
            }
            if (!platform::WriteFileAtomic(m_config + "/" + entry.name, text))
                std::abort();
        }
    }

    void CollectWritten(const std::string& folder) {
        platform::DirectoryListing listing(folder);
        platform::DirectoryEntry entry;
        while (listing.Next(entry)) {
            if (entry.isDirectory)
                continue;
            WrittenFile file{folder + "/" + entry.name, {}};
            if (!platform::ReadWholeFile(file.path, file.bytes))
                std::abort();
            written.push_back(std::move(file));
        }
    }

    std::string m_root;
    std::string m_config;
    std::string m_floor;
};

Installation& Install() {
    static Installation installation;
    return installation;
}

void Describe(benchmark::State& state, const std::vector<WrittenFile>& files) {
    std::size_t bytes = 0;
    for (const WrittenFile& file : files)
        bytes += file.bytes.size();
    state.counters["files"] = static_cast<double>(files.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_Ok(benchmark::State& state) {
    Installation& install = Install();
    for (auto _ : state) {
        state.PauseTiming();
        install.ClearBackups();
        const bool ok = install.RunOk(&state); // the timer runs from the click on
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("OK did not save the set");
            break;
        }
    }
    Describe(state, install.written);
}
BENCHMARK(BM_Ok)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Ok_Floor(benchmark::State& state) {
    Installation& install = Install();
    for (auto _ : state)
        for (const WrittenFile& file : install.floorFiles)
            if (!platform::WriteFileSynced(file.path, file.bytes))
                state.SkipWithError("write failed");
    Describe(state, install.floorFiles);
}
BENCHMARK(BM_Ok_Floor)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
