// Load and save of large configuration files against the bare cost of reading their bytes.
// The files are generated once per run in a temporary folder on the disk that holds /tmp.
#include "Installation.h"
#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "platform/FileSystem.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

class Files {
public:
    Files() {
        char pattern[] = "/tmp/korvane-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::abort();
        m_folder = pattern;
        bench::WriteServiceFile(m_folder + "/big.cfg", 200000);
        WriteListFile(m_folder + "/big.lst", 100000);
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string keyValue() const { return m_folder + "/big.cfg"; }
    std::string list() const { return m_folder + "/big.lst"; }
    std::string scratch(const char* name) const { return m_folder + "/" + name; }

private:
    static void WriteListFile(const std::string& path, int lines) {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lines; ++i) {
            if (i % 20 == 0)
                out << "# block " << i << "\r\n";
            out << "host" << i << ".domain" << i % 1000 << ".example.com\r\n";
        }
        out << "# end of list\r\n";
    }

    std::string m_folder;
};

const Files& TheFiles() {
    static Files files;
    return files;
}

// The bare cost a load cannot avoid: the file's bytes read into a fresh buffer.
void ReadBytes(benchmark::State& state, const std::string& path) {
    std::size_t size = 0;
    for (auto _ : state) {
        std::string bytes;
        platform::ReadWholeFile(path, bytes);
        benchmark::DoNotOptimize(bytes.data());
        size = bytes.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_KeyValue_ReadBytes(benchmark::State& state) {
    ReadBytes(state, TheFiles().keyValue());
}

void BM_KeyValue_Load(benchmark::State& state) {
    for (auto _ : state) {
        auto map = std::make_unique<CConfigMap>();
        if (!map->Load(TheFiles().keyValue()))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(map->GetCount());
        // Freeing the map is not part of a load.
        state.PauseTiming();
        map.reset();
        state.ResumeTiming();
    }
}

void BM_KeyValue_Save(benchmark::State& state) {
    std::filesystem::copy_file(TheFiles().keyValue(), TheFiles().scratch("save.cfg"),
                               std::filesystem::copy_options::overwrite_existing);
    CConfigMap map;
    map.Load(TheFiles().scratch("save.cfg"));
    for (auto _ : state)
        if (!map.Save(false))
            state.SkipWithError("save failed");
}

// What a save cannot avoid once it is durable: the file's bytes written into a file of their
// own with one sync, as the OK benchmark's floor writes each file. A real save also syncs the
// folder after its rename.
void WriteSynced(benchmark::State& state, const std::string& path, const char* scratch) {
    std::string bytes;
    platform::ReadWholeFile(path, bytes);
    for (auto _ : state)
        if (!platform::WriteFileSynced(TheFiles().scratch(scratch), bytes))
            state.SkipWithError("write failed");
}

void BM_KeyValue_WriteSynced(benchmark::State& state) {
    WriteSynced(state, TheFiles().keyValue(), "synced.cfg");
}

void BM_List_WriteSynced(benchmark::State& state) {
    WriteSynced(state, TheFiles().list(), "synced.lst");
}

void BM_List_ReadBytes(benchmark::State& state) {
    ReadBytes(state, TheFiles().list());
}

void BM_List_Load(benchmark::State& state) {
    for (auto _ : state) {
        auto list = std::make_unique<CStorableList>();
        if (!list->Load(TheFiles().list()))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(list->GetCount());
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
}

void BM_List_Save(benchmark::State& state) {
    std::filesystem::copy_file(TheFiles().list(), TheFiles().scratch("save.lst"),
                               std::filesystem::copy_options::overwrite_existing);
    CStorableList list;
    list.Load(TheFiles().scratch("save.lst"));
    for (auto _ : state)
        if (!list.Save(false))
            state.SkipWithError("save failed");
}

} // namespace

BENCHMARK(BM_KeyValue_ReadBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyValue_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyValue_Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyValue_WriteSynced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List_ReadBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List_Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List_WriteSynced)->Unit(benchmark::kMillisecond);
