// A save that cannot complete, or is killed on the way, must leave the old file exactly as it
// was, and nothing else behind.
#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "platform/FileSystem.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <thread>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

using testutil::ScratchMount;

std::size_t EntriesIn(const std::string& directory) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
        ++n;
    return n;
}

std::uint64_t FreeBlocks(const std::string& where) {
#ifdef _WIN32
    std::error_code ec;
    return std::filesystem::space(where, ec).free / 4096;
#else
    struct statvfs fs {};
    return ::statvfs(where.c_str(), &fs) == 0 ? fs.f_bfree : 0;
#endif
}

// The names in directory that a save gives its temporary files, and the others.
bool IsTemporaryName(const std::string& name) {
    static const std::regex pattern(".+\\.tmp-[A-Za-z0-9]{6}");
    return std::regex_match(name, pattern);
}
std::set<std::string> NamesIn(const std::string& directory, bool temporaries) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        std::string name = entry.path().filename().string();
        if (IsTemporaryName(name) == temporaries)
            names.insert(directory + "/" + name);
    }
    return names;
}

// Both ways a save makes its temporary file: unnamed, and the named fallback.
class BothTemporaryKinds : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { platform::UseUnnamedTemporaryFiles(GetParam()); }
    void TearDown() override { platform::UseUnnamedTemporaryFiles(true); }
};
INSTANTIATE_TEST_SUITE_P(SaveFault, BothTemporaryKinds, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });

} // namespace

TEST(SaveFault, FullFileSystemKeepsTheOldFileAndLeavesNoTemporaryFile) {
    testutil::TempDir dir;
    ScratchMount mount(dir / "small", "size=32k");
    if (!mount.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string cfg = dir / "small/smtpd.cfg";
    const std::string list = dir / "small/domains";
    WriteBytes(cfg, "# keep me\nA: 1\n");
    WriteBytes(list, "example.com\n");

    CConfigMap map;
    ASSERT_TRUE(map.Load(cfg));
    map.SetString("Big", std::string(256 * 1024, 'x'));
    std::filesystem::create_directory(dir / "backup.cfg");
    EXPECT_FALSE(map.Save(true, dir / "backup.cfg/smtpd.cfg"));
    EXPECT_EQ(ReadBytes(cfg), "# keep me\nA: 1\n");
    EXPECT_EQ(EntriesIn(dir / "backup.cfg"), 1u) << "the backup is taken before the write";
    EXPECT_TRUE(map.IsModified());

    CStorableList domains;
    ASSERT_TRUE(domains.Load(list));
    for (int i = 0; i < 20000; ++i)
        domains.AddTail("domain" + std::to_string(i) + ".example");
    EXPECT_FALSE(domains.Save(false));
    EXPECT_EQ(ReadBytes(list), "example.com\n");
    EXPECT_EQ(EntriesIn(dir / "small"), 2u);
}

TEST(SaveFault, ReadOnlyDirectoryKeepsTheOldFile) {
    KORVANE_POSIX_ONLY("the read-only folder is a remounted tmpfs or mode bits; Windows' read-only "
                       "attribute does not stop new files in a folder");
#ifndef _WIN32
    testutil::TempDir dir;
    const std::string where = dir / "ro";
    ScratchMount mount(where, "size=64k");
    const std::string cfg = where + "/pop3d.cfg";
    if (mount.mounted()) {
        WriteBytes(cfg, "A: 1\n");
        ASSERT_TRUE(mount.MakeReadOnly());
    } else if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores permissions, and the tmpfs could not be mounted";
    } else {
        // Without root a plain read-only directory does the same.
        WriteBytes(cfg, "A: 1\n");
        ::chmod(where.c_str(), 0555);
    }
    CConfigMap map;
    ASSERT_TRUE(map.Load(cfg));
    map.SetString("A", "2");
    EXPECT_FALSE(map.Save(false));
    EXPECT_EQ(ReadBytes(cfg), "A: 1\n");
    EXPECT_EQ(EntriesIn(where), 1u);
#endif
}

TEST_P(BothTemporaryKinds, ABackupThatFailsOnAFullDiskLeavesNothing) {
    testutil::TempDir dir;
    ScratchMount mount(dir / "small", "size=32k");
    if (!mount.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string cfg = dir / "small/smtpd.cfg";
    const std::string backups = dir / "small/backup.cfg";
    std::filesystem::create_directory(backups);
    const std::string old = "Big: " + std::string(20 * 1024, 'x') + "\n";
    WriteBytes(cfg, old);
    const std::uint64_t free = FreeBlocks(dir / "small");

    CConfigMap map;
    ASSERT_TRUE(map.Load(cfg));
    map.SetString("A", "1");
    EXPECT_FALSE(map.Save(true, backups + "/smtpd.cfg"));
    EXPECT_EQ(ReadBytes(cfg), old);
    EXPECT_EQ(EntriesIn(backups), 0u);
    EXPECT_EQ(EntriesIn(dir / "small"), 2u);
    EXPECT_EQ(FreeBlocks(dir / "small"), free) << "a failed copy must give its space back";
}

TEST_P(BothTemporaryKinds, ASaveRemovesOnlyStaleTemporariesOfItsTargetAndItsBackups) {
    KORVANE_POSIX_ONLY("the live writer is an flock and the planted link a symbolic link; the "
                       "Windows writer's open handle is tested in the adapters' own tests");
#ifndef _WIN32
    testutil::TempDir dir;
    const std::string cfg = dir / "t.cfg";
    const std::string backups = dir / "bak";
    std::filesystem::create_directory(backups);
    WriteBytes(cfg, "A: 1\n");
    ::chmod(cfg.c_str(), 0640);
    WriteBytes(dir / "victim", "v");
    const std::set<std::string> stale = {dir / "t.cfg.tmp-AbC123",
                                         backups + "/t.cfg-240101-120000.tmp-Zz9999"};
    // A live writer's file, a link, other names and another target's temporary stay.
    const std::set<std::string> kept = {dir / "t.cfg.tmp-HeLd42", dir / "t.cfg.tmp-LnK456",
                                        dir / "t.cfg.tmp-abc", dir / "u.cfg.tmp-AbC123",
                                        backups + "/t.cfg-240101-120000"};
    for (const std::string& path : stale)
        WriteBytes(path, "stale");
    for (const std::string& path : kept)
        if (!path.ends_with("LnK456"))
            WriteBytes(path, "kept");
    std::filesystem::create_symlink(dir / "victim", dir / "t.cfg.tmp-LnK456");
    const int held = ::open((dir / "t.cfg.tmp-HeLd42").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    CConfigMap map;
    ASSERT_TRUE(map.Load(cfg));
    map.SetString("A", "2");
    ASSERT_TRUE(map.Save(true, backups + "/t.cfg"));
    ::close(held);
    for (const std::string& path : stale)
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << path;
    for (const std::string& path : kept)
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path))) << path;
    EXPECT_EQ(ReadBytes(dir / "victim"), "v");
    EXPECT_EQ(NamesIn(backups, false).size(), 2u);
    EXPECT_EQ(std::filesystem::status(cfg).permissions() & std::filesystem::perms::mask,
              std::filesystem::perms(0640));
#endif
}

// A child saves a file of a few megabytes in a loop, with backups, and is killed at random
// moments. After every kill the target must be one of the two contents whole, every backup as
// well, and the temporary files a kill left must be gone once the next child has saved.
TEST(SaveCrash, KilledSavesLeaveWholeFilesAndNoLastingOrphans) {
    KORVANE_POSIX_ONLY("the saving child is forked and killed with SIGKILL; Windows has no fork");
#ifndef _WIN32
    testutil::TempDir dir;
    const std::string target = dir / "big.cfg";
    const std::string backups = dir / "backup.cfg";
    std::filesystem::create_directory(backups);
    WriteBytes(target, "");
    CConfigMap map;
    ASSERT_TRUE(map.Load(target));
    auto fill = [&map](char c) {
        for (int i = 0; i < 3000; ++i)
            map.SetString("Key" + std::to_string(i), std::string(1000, c));
    };
    fill('b');
    ASSERT_TRUE(map.Save(false));
    const std::string contentB = ReadBytes(target);
    // Timed as the child saves, with the backup: kills land anywhere from the start of a
    // child's first save to well into its third.
    const auto started = std::chrono::steady_clock::now();
    fill('a');
    ASSERT_TRUE(map.Save(true, backups + "/big.cfg"));
    const auto saveTime = std::chrono::steady_clock::now() - started;
    const std::string contentA = ReadBytes(target);
    auto isWhole = [&](const std::string& path) {
        const std::string bytes = ReadBytes(path);
        return bytes == contentA || bytes == contentB;
    };

    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    const auto maxDelay = std::chrono::duration_cast<std::chrono::microseconds>(saveTime * 3);
    std::uniform_int_distribution<long> delay(0, std::clamp<long>(maxDelay.count(), 1000, 1000000));

    int kills = 0, lasting = 0, torn = 0, truncated = 0, saves = 0;
    int orphans[2] = {0, 0};       // left by kills of saves with named, with unnamed temporaries
    std::set<std::string> pending; // orphans the next completed save must remove
    std::set<std::string> seen;
    std::map<std::string, std::pair<ino_t, long>> checked;
    const auto begin = std::chrono::steady_clock::now();
    while (kills < 150 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(20)) {
        const bool unnamed = kills % 2 == 0;
        platform::UseUnnamedTemporaryFiles(unnamed);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            (void)!::write(pipeFds[1], "r", 1);
            for (int i = 0; i < 100000; ++i) {
                fill(i % 2 ? 'a' : 'b');
                if (map.Save(true, backups + "/big.cfg"))
                    (void)!::write(pipeFds[1], "s", 1);
            }
            ::_exit(0);
        }
        // The delay counts from the child's start, not from the fork, which takes long under
        // the address sanitizer.
        pollfd ready{pipeFds[0], POLLIN, 0};
        char started = 0;
        const bool running = ::poll(&ready, 1, 10000) == 1 && ::read(pipeFds[0], &started, 1) == 1;
        if (running)
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(running && started == 'r');
        ++kills;
        int completed = 0;
        char buffer[256];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            completed += static_cast<int>(n);
        saves += completed;

        torn += isWhole(target) ? 0 : 1;
        // A backup is read again only when it changed: there is one for every second.
        for (const std::string& backup : NamesIn(backups, false)) {
            struct stat st {};
            ::stat(backup.c_str(), &st);
            const auto stamp = std::make_pair(st.st_ino, st.st_mtim.tv_nsec);
            if (std::exchange(checked[backup], stamp) != stamp)
                truncated += isWhole(backup) ? 0 : 1;
        }
        std::set<std::string> now = NamesIn(dir.path(), true);
        now.merge(NamesIn(backups, true));
        if (completed > 0) {
            for (const std::string& path : pending)
                lasting += now.count(path);
            pending.clear();
        }
        for (const std::string& path : now) {
            pending.insert(path);
            orphans[unnamed] += seen.insert(path).second ? 1 : 0;
        }
    }
    platform::UseUnnamedTemporaryFiles(true);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    // One more save cleans whatever the last kill left.
    ASSERT_TRUE(map.Save(true, backups + "/big.cfg"));
    EXPECT_TRUE(NamesIn(dir.path(), true).empty());
    EXPECT_TRUE(NamesIn(backups, true).empty());

    const auto ms = [](auto duration) { return duration / std::chrono::milliseconds(1); };
    std::cout << "[ figures  ] " << kills << " kills (seed " << seed << ") over " << saves
              << " completed saves of " << ms(saveTime) << " ms each in "
              << ms(std::chrono::steady_clock::now() - begin) << " ms: " << orphans[1] << " + "
              << orphans[0] << " orphans left by a kill (unnamed + named temporaries), " << lasting
              << " survived the next save, " << torn << " torn targets, " << truncated
              << " truncated backups\n";
    EXPECT_GE(kills, 10); // a loaded machine runs fewer rounds in the time
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(truncated, 0);
    EXPECT_EQ(lasting, 0);
#endif
}

// Inside a batch of deferred flushes the files come out as they do outside: whole, with their
// modes, and without temporaries left beside them, whether new or replacing; batches nest.
TEST_P(BothTemporaryKinds, ABatchWritesNewAndReplacedFilesWhole) {
    testutil::TempDir dir;
    WriteBytes(dir / "old", "before\r\n");
    std::filesystem::permissions(dir / "old", std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write |
                                                  std::filesystem::perms::group_read);
    {
        platform::SyncBatch outer;
        ASSERT_TRUE(platform::ReplaceFileAtomic(dir / "new", "neu\r\n", 0600));
        {
            platform::SyncBatch inner;
            ASSERT_TRUE(platform::ReplaceFileAtomic(dir / "old", "after\r\n", 0644));
            ASSERT_TRUE(platform::WriteFileAtomic(dir / "inner", "x"));
        }
        ASSERT_TRUE(platform::WriteFileAtomic(dir / "late", "y"));
        EXPECT_TRUE(outer.Commit());
        EXPECT_TRUE(outer.Commit()); // nothing left to flush
    }
    EXPECT_EQ(ReadBytes(dir / "new"), "neu\r\n");
    EXPECT_EQ(ReadBytes(dir / "old"), "after\r\n");
    EXPECT_EQ(ReadBytes(dir / "inner") + ReadBytes(dir / "late"), "xy");
#ifndef _WIN32 // Windows files have no mode bits to keep
    const auto mode = [&](const char* name) {
        return std::filesystem::status(dir / name).permissions() & std::filesystem::perms::mask;
    };
    EXPECT_EQ(mode("new"),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(mode("old"), std::filesystem::perms::owner_read |
                               std::filesystem::perms::owner_write |
                               std::filesystem::perms::group_read);
#endif
    EXPECT_TRUE(NamesIn(dir.path(), true).empty());
}

// The benchmarks' floor writes over its files again and again: a shorter text must not keep the
// tail of a longer one, and a write that cannot happen must say so.
TEST(PlainSyncedWrite, ReplacesTheWholeContentAndReportsAMissingFolder) {
    testutil::TempDir dir;
    ASSERT_TRUE(platform::WriteFileSynced(dir / "file", "a longer first text\r\n"));
    ASSERT_TRUE(platform::WriteFileSynced(dir / "file", "short\r\n"));
    EXPECT_EQ(ReadBytes(dir / "file"), "short\r\n");
    EXPECT_FALSE(platform::WriteFileSynced(dir / "missing/file", "x"));
}

// A read sized from the file's status must still take what lies beyond it (a file that grew, or
// one like those of /proc that report no size at all), and the buffer for large files must keep
// its bytes across growing past the size where it is mapped on its own.
TEST(LargeBuffers, ReadsPastTheReportedSizeAndKeepBytesAcrossGrowth) {
    platform::LargeString status;
    ASSERT_TRUE(platform::ReadWholeFile("/proc/self/status", status));
    EXPECT_NE(status.find("Name:"), std::string::npos);
    EXPECT_EQ(status.back(), '\n');

    std::vector<std::uint32_t, platform::LargeAllocator<std::uint32_t>> numbers;
    for (std::uint32_t i = 0; i < 2'000'000; ++i) // 8 MB: small blocks first, then large ones
        numbers.push_back(i * 7);
    bool kept = true;
    for (std::uint32_t i = 0; i < numbers.size(); ++i)
        kept = kept && numbers[i] == i * 7;
    EXPECT_TRUE(kept);
    numbers.resize(10);
    numbers.shrink_to_fit(); // back from a large block to a small one
    EXPECT_EQ(numbers[9], 63u);

    // Blocks given back are handed out again, but never one to two holders at once.
    using Block = std::vector<char, platform::LargeAllocator<char>>;
    for (int round = 0; round < 3; ++round) {
        Block a(3 << 20, 'a');
        Block b(3 << 20, 'b');
        EXPECT_NE(a.data(), b.data());
        EXPECT_EQ(a.back(), 'a');
        EXPECT_EQ(b.front(), 'b');
    }

    testutil::TempDir dir;
    const std::string big(3 << 20, 'x');
    WriteBytes(dir / "big", big + "end");
    platform::LargeString read;
    ASSERT_TRUE(platform::ReadWholeFile(dir / "big", read));
    EXPECT_EQ(read.size(), big.size() + 3);
    EXPECT_TRUE(read.ends_with("xend"));
}
