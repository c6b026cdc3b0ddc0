// The Windows file-system adapters against the real system calls (run under wine on Linux).
#include "platform/FileSystem.h"
#include "platform/DirectoryList.h"
#include "platform/Memory.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace platform;

// A fresh folder under the system's temporary folder, removed with what it holds.
class Folder {
public:
    Folder() {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        m_path = std::string(temp) + "kfs-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(++s_count);
        EXPECT_TRUE(MakeDirectory(m_path));
    }
    ~Folder() { RemoveTree(m_path); }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }
    const std::string& path() const { return m_path; }

    // Name and kind of every entry, "." and ".." included.
    std::map<std::string, bool> List(const std::string& sub = "") const {
        std::map<std::string, bool> out;
        DirectoryListing listing(sub.empty() ? m_path : *this / sub);
        for (DirectoryEntry e; listing.Next(e);)
            out[e.name] = e.isDirectory;
        return out;
    }

private:
    static void RemoveTree(const std::string& path) {
        DirectoryListing listing(path);
        for (DirectoryEntry e; listing.Next(e);)
            if (e.name != "." && e.name != "..")
                e.isDirectory ? RemoveTree(path + "\\" + e.name)
                              : (void)RemoveFile(path + "\\" + e.name);
        RemoveEmptyDirectory(path);
    }
    static inline int s_count = 0;
    std::string m_path;
};

std::string Read(const std::string& path) {
    std::string out;
    return ReadWholeFile(path, out) ? out : "<unreadable>";
}

// A handle as another program holds a file: reading, letting no one delete or rename it.
HANDLE Hold(const std::string& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    return ::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(Win32FileSystem, AtomicReplaceKeepsTheOldFileWhenTheWriteFails) {
    Folder dir;
    const std::string cfg = dir / "smtpd.cfg";
    ASSERT_TRUE(WriteFileAtomic(cfg, "old\r\n"));
    ASSERT_TRUE(WriteFileAtomic(cfg, "new\r\n"));
    EXPECT_EQ(Read(cfg), "new\r\n");

    // The services keep a file open without delete sharing: the rename is refused, the file
    // the service reads stays whole, and no temporary is left behind.
    HANDLE service = Hold(cfg);
    ASSERT_NE(service, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReplaceFileAtomic(cfg, "lost\r\n", 0644));
    EXPECT_EQ(LastError(), EBUSY);
    EXPECT_EQ(WriteFailureCause(cfg, LastError()), "Die Datei ist von einem anderen Programm ge\xF6"
                                                   "ffnet.");
    ::CloseHandle(service);
    EXPECT_EQ(Read(cfg), "new\r\n");

    ASSERT_TRUE(MakeDirectory(dir / "folder"));
    EXPECT_FALSE(WriteFileAtomic(dir / "folder", "x"));
    EXPECT_EQ(WriteFailureCause(dir / "folder", LastError()),
              "An ihrer Stelle steht ein Verzeichnis.");
    EXPECT_FALSE(WriteFileAtomic(dir / "missing\\a.cfg", "x"));
    EXPECT_EQ(LastError(), ENOENT);
    EXPECT_EQ(WriteFailureCause(dir / "missing\\a.cfg", LastError()),
              "Der Ordner \"" + dir / "missing" + "\" ist nicht vorhanden.");
    EXPECT_EQ(dir.List(), (std::map<std::string, bool>{
                              {".", true}, {"..", true}, {"folder", true}, {"smtpd.cfg", false}}));

    // A read-only file is replaced all the same and stays read-only.
    ASSERT_TRUE(::SetFileAttributesA(cfg.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(WriteFileAtomic(cfg, "third\r\n"));
    EXPECT_EQ(Read(cfg), "third\r\n");
    EXPECT_EQ(StatPath(cfg)->permissions, 0444u);
}

TEST(Win32FileSystem, SaveRemovesOrphansButNotTemporariesOfLiveWriters) {
    Folder dir;
    const std::string cfg = dir / "aliases";
    ASSERT_TRUE(WriteFileAtomic(dir / "aliases.tmp-Orphan", "killed writer"));
    ASSERT_TRUE(WriteFileAtomic(dir / "aliases.tmp-Live01", "live writer"));
    ASSERT_TRUE(WriteFileAtomic(dir / "domains.tmp-Other1", "another target"));
    ASSERT_TRUE(WriteFileAtomic(dir / "aliases.tmp-toolong", "not a temporary"));
    ASSERT_TRUE(
        ::SetFileAttributesA((dir / "aliases.tmp-Orphan").c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE live =
        Hold(dir / "aliases.tmp-Live01", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_NE(live, INVALID_HANDLE_VALUE);

    ASSERT_TRUE(WriteFileAtomic(cfg, "a: b\r\n"));
    // Closed before the look: a deletion the cleaner had merely scheduled would happen now.
    ::CloseHandle(live);
    auto names = dir.List();
    EXPECT_FALSE(names.count("aliases.tmp-Orphan"));
    EXPECT_TRUE(names.count("aliases.tmp-Live01"));
    EXPECT_TRUE(names.count("domains.tmp-Other1"));
    EXPECT_TRUE(names.count("aliases.tmp-toolong"));

    // Now the writer is gone (killed: the system closed its handle).
    RemoveStaleTemporaries(dir.path(), [](std::string_view t) { return t != "domains"; });
    names = dir.List();
    EXPECT_FALSE(names.count("aliases.tmp-Live01"));
    EXPECT_TRUE(names.count("domains.tmp-Other1"));
}

// Savers of one target on two threads: each one's cleaning never takes the other's temporary
// file, so every save succeeds, the file is always one whole version, and nothing is left over.
// (Our reads share deletion, so they never stand in a rename's way.)
TEST(Win32FileSystem, ConcurrentSavesNeverTakeEachOthersTemporaries) {
    Folder dir;
    const std::string cfg = dir / "mdad.cfg";
    const std::string a(100000, 'a'), b(100000, 'b');
    std::atomic<int> failed{0};
    auto saver = [&](const std::string& content) {
        for (int i = 0; i < 40; ++i) {
            failed += WriteFileAtomic(cfg, content) ? 0 : 1;
            const std::string now = Read(cfg);
            failed += now == a || now == b ? 0 : 100;
        }
    };
    std::thread first(saver, a), second(saver, b);
    first.join();
    second.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(dir.List().size(), 3u);
}

TEST(Win32FileSystem, RenameAndLinksNeverReplace) {
    Folder dir;
    ASSERT_TRUE(WriteFileAtomic(dir / "a", "A"));
    ASSERT_TRUE(WriteFileAtomic(dir / "b", "B"));
    EXPECT_FALSE(RenameNoReplace(dir / "a", dir / "b"));
    EXPECT_EQ(LastError(), EEXIST);
    EXPECT_EQ(Read(dir / "a"), "A");
    EXPECT_EQ(Read(dir / "b"), "B");
    EXPECT_TRUE(RenameNoReplace(dir / "a", dir / "c"));
    EXPECT_EQ(QueryPathKind(dir / "a"), PathKind::Missing);
    EXPECT_FALSE(MakeHardLink(dir / "c", dir / "b"));
    EXPECT_TRUE(MakeHardLink(dir / "c", dir / "d"));
    EXPECT_EQ(Read(dir / "d"), "A");
    EXPECT_FALSE(RemoveEmptyDirectory(dir / "d"));
    EXPECT_TRUE(RemoveFile(dir / "d"));
    EXPECT_EQ(Read(dir / "c"), "A");
}

TEST(Win32FileSystem, ConfinementRefusesPathsLeadingOutOfRoot) {
    Folder dir;
    ASSERT_TRUE(MakeDirectory(dir / "spool"));
    ASSERT_TRUE(MakeDirectory(dir / "spool\\user"));
    ASSERT_TRUE(WriteFileAtomic(dir / "spool\\user\\config", "in"));
    ASSERT_TRUE(WriteFileAtomic(dir / "secret", "out"));
    const std::string root = dir / "spool";

    EXPECT_TRUE(StaysWithin(dir / "spool\\user\\config", root, Access::Read));
    EXPECT_TRUE(StaysWithin(dir / "SPOOL/user/new", root, Access::Write));
    EXPECT_FALSE(StaysWithin(root, root, Access::Read));
    EXPECT_FALSE(StaysWithin(dir / "spool\\user\\..\\..\\secret", root, Access::Read));
    EXPECT_FALSE(StaysWithin(dir / "spool\\..\\secret", root, Access::Write));
    EXPECT_FALSE(StaysWithin(dir / "spool2\\x", root, Access::Write));

    std::string out;
    EXPECT_TRUE(ReadWholeFileWithin(dir / "spool\\user\\config", root, out));
    EXPECT_EQ(out, "in");
    EXPECT_FALSE(ReadWholeFileWithin(dir / "spool\\user\\..\\..\\secret", root, out));
    EXPECT_EQ(LastError(), EACCES);
    EXPECT_FALSE(ReplaceFileAtomicWithin(dir / "spool\\..\\secret", root, "x", 0600));
    EXPECT_EQ(LastError(), EACCES);
    EXPECT_EQ(Read(dir / "secret"), "out");
    EXPECT_TRUE(ReplaceFileAtomicWithin(dir / "spool\\user\\config", root, "new", 0600));
    EXPECT_EQ(Read(dir / "spool\\user\\config"), "new");
}

TEST(Win32FileSystem, ListingKindsAndMissingFolders) {
    Folder dir;
    ASSERT_TRUE(MakeDirectory(dir / "user.example.com"));
    ASSERT_TRUE(WriteFileSynced(dir / "k\xE4se", "bytes"));
    EXPECT_EQ(dir.List(),
              (std::map<std::string, bool>{
                  {".", true}, {"..", true}, {"k\xE4se", false}, {"user.example.com", true}}));
    EXPECT_EQ(QueryPathKind(dir / "k\xE4se"), PathKind::File);
    EXPECT_EQ(QueryPathKind(dir / "user.example.com"), PathKind::Directory);
    EXPECT_FALSE(StatPath(dir / "k\xE4se")->isDirectory);
    EXPECT_EQ(StatPath(dir / "k\xE4se")->size, 5u);

    DirectoryListing missing(dir / "nothing");
    DirectoryEntry e;
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.Next(e));
    EXPECT_FALSE(ReadWholeFile(dir / "user.example.com", e.name));
}

TEST(Win32FileSystem, EnvironmentConsoleAndMemory) {
    ASSERT_TRUE(SetEnvironment("KORVANE_TEST_DIR", "c:\\mail\\k\xE4se"));
    EXPECT_EQ(GetEnvironment("KORVANE_TEST_DIR"), "c:\\mail\\k\xE4se");
    ASSERT_TRUE(SetEnvironment("KORVANE_TEST_DIR", ""));
    EXPECT_EQ(GetEnvironment("KORVANE_TEST_DIR"), "");
    EXPECT_EQ(GetEnvironment("KORVANE_TEST_UNSET"), std::nullopt);

    if (StandardInputIsTerminal())
        GTEST_SKIP() << "standard input is a console; run with input from a file or pipe";
    EXPECT_EQ(ReadHiddenLine("Passwort: "), std::nullopt);

    void* block = AllocateLarge(3 << 20);
    ASSERT_NE(block, nullptr);
    static_cast<char*>(block)[(3 << 20) - 1] = 'x';
    FreeLarge(block, 3 << 20);
    EXPECT_EQ(AllocateLarge(3 << 20), block); // the freed block is kept for the same size
    FreeLarge(block, 3 << 20);
}

} // namespace
