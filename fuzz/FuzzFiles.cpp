#include "fuzz/FuzzFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fuzz {

namespace {

std::string g_folder;

void RemoveScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

std::string MakeScratchFolder() {
    // Memory-backed where there is one: every save flushes to the disk, which would otherwise
    // bound the run to a few dozen inputs a second.
    char shm[] = "/dev/shm/korvane-fuzz-XXXXXX";
    if (::mkdtemp(shm) != nullptr)
        return std::string(shm);
    char tmp[] = "/tmp/korvane-fuzz-XXXXXX";
    if (::mkdtemp(tmp) == nullptr)
        Fail("mkdtemp");
    return std::string(tmp);
}

} // namespace

std::string ScratchPath(const char* name) {
    if (g_folder.empty()) {
        g_folder = MakeScratchFolder();
        std::atexit(RemoveScratchFolder);
    }
    return g_folder + "/" + name;
}

void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string ReadOutput(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace fuzz
