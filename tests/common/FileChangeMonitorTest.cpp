#include "Common/FileChangeMonitor.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSpoolFilter = 83; // names of files and folders, writes, creations

// A watch whose steps fail as the test says, recording what the monitor asked of it.
struct WatchScript {
    int openError = 0;
    int notifierError = 0;
    int addError = 0;
    int closeNotifierError = 0;
    int closeDirectoryError = 0;
    bool directory = false;
    bool notifier = false;
    std::uint32_t filter = 0;
    bool subtree = false;
    int closes = 0;
};

class ScriptedWatch : public platform::DirectoryWatch {
public:
    explicit ScriptedWatch(WatchScript& script) : m_s(script) {}
    int OpenDirectory(const std::string&) override {
        m_s.directory = m_s.openError == 0;
        return m_s.openError;
    }
    int CreateNotifier() override {
        m_s.notifier = m_s.notifierError == 0;
        return m_s.notifierError;
    }
    int AddWatch(std::uint32_t filter, bool subtree) override {
        m_s.filter = filter;
        m_s.subtree = subtree;
        return m_s.addError;
    }
    int CloseNotifier() override {
        m_s.notifier = false;
        ++m_s.closes;
        return m_s.closeNotifierError;
    }
    int CloseDirectory() override {
        m_s.directory = false;
        ++m_s.closes;
        return m_s.closeDirectoryError;
    }
    bool HasDirectory() const override { return m_s.directory; }
    bool HasNotifier() const override { return m_s.notifier; }

private:
    WatchScript& m_s;
};

std::string Line(const char* what, int line, unsigned code) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer,
                  "%s in Common\\FileChangeMonitor:%d failed, error-code: 0x%08X", what, line,
                  code);
    return buffer;
}

// Every match of pattern, name -> is-folder.
std::map<std::string, bool> ScanAll(const std::string& pattern) {
    std::map<std::string, bool> found;
    CDirectoryScan scan(pattern);
    while (scan.Next())
        found[scan.GetName()] = scan.IsDirectory();
    return found;
}

} // namespace

TEST(FileChangeMonitor, MissingDirectoryIsReportedAndALaterStartSucceeds) {
    testutil::TempDir dir;
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor;
    std::string missing = dir / "spool";

    EXPECT_FALSE(monitor.Start(missing, kSpoolFilter, true));
    EXPECT_FALSE(monitor.IsArmed());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].first, 3);
    EXPECT_EQ(log.lines()[0].second, "CreateFile in Common\\FileChangeMonitor:123 on \"" + missing +
                                         "\" failed, error-code: 0x00000002");

    fs::create_directory(missing);
    EXPECT_TRUE(monitor.Start(missing, kSpoolFilter, true));
    EXPECT_TRUE(monitor.IsArmed());
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(FileChangeMonitor, AFileIsNotADirectoryToWatch) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir / "mdad.cfg", "x");
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor;
    EXPECT_FALSE(monitor.Start(dir / "mdad.cfg", kSpoolFilter, false));
    ASSERT_EQ(log.texts().size(), 1u);
    EXPECT_NE(log.texts()[0].find("CreateFile in Common\\FileChangeMonitor:123"),
              std::string::npos);
}

TEST(FileChangeMonitor, SecondStartIsRefusedAndTheFirstWatchStays) {
    testutil::TempDir a;
    testutil::TempDir b;
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor;
    ASSERT_TRUE(monitor.Start(a.path(), kSpoolFilter, true));

    EXPECT_FALSE(monitor.Start(b.path(), kSpoolFilter, true));
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"CFileChangeMonitorEx in Common\\FileChangeMonitor:112 "
                                       "already created"});
    EXPECT_TRUE(monitor.IsArmed());

    monitor.Stop();
    EXPECT_TRUE(monitor.Start(b.path(), kSpoolFilter, true));
}

TEST(FileChangeMonitor, StopIsSafeWhenNotArmedAndWhenRepeated) {
    testutil::TempDir dir;
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor;
    monitor.Stop();
    ASSERT_TRUE(monitor.Start(dir.path(), kSpoolFilter, false));
    monitor.Stop();
    monitor.Stop();
    EXPECT_FALSE(monitor.IsArmed());
    EXPECT_TRUE(log.lines().empty());
}

TEST(FileChangeMonitor, FilterWithoutAnyKnownKindFailsAndReleasesEverything) {
    testutil::TempDir dir;
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor;
    EXPECT_FALSE(monitor.Start(dir.path(), 0, false));
    // The system's code for an invalid argument: EINVAL, or Windows' ERROR_INVALID_PARAMETER.
    const int invalid = testutil::kWindows ? 87 : 22;
    EXPECT_EQ(log.texts(), std::vector<std::string>{Line("ReadDirectoryChangesW", 147, invalid)});
    EXPECT_FALSE(monitor.IsArmed());
    EXPECT_TRUE(monitor.Start(dir.path(), kSpoolFilter, false));
}

TEST(FileChangeMonitor, SubtreeWatchEndsOnLinkLoopsAndUnreadableFolders) {
    KORVANE_NEEDS_LINKS();
    testutil::TempDir dir;
    fs::create_directories(dir / "bob/inbox/2024");
    fs::create_directories(dir / "info.example.com");
    fs::create_directory_symlink(dir.path(), dir / "bob/inbox/up");
    fs::create_directory_symlink("..", dir / "info.example.com/parent");
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::none);
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor;
    EXPECT_TRUE(monitor.Start(dir.path(), kSpoolFilter, true));
    EXPECT_TRUE(log.lines().empty());
}

TEST(FileChangeMonitorFailure, NotifierFailureReleasesTheDirectory) {
    WatchScript script;
    script.notifierError = 24;
    script.closeDirectoryError = 5;
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor(std::make_unique<ScriptedWatch>(script));

    EXPECT_FALSE(monitor.Start("/spool", kSpoolFilter, true));
    EXPECT_EQ(log.texts(), (std::vector<std::string>{Line("CreateEvent", 130, 24),
                                                     Line("CloseHandle", 134, 5)}));
    EXPECT_FALSE(script.directory);

    // Nothing is left held, so the next attempt is a fresh start, not "already created".
    script.notifierError = 0;
    EXPECT_TRUE(monitor.Start("/spool", kSpoolFilter, true));
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST(FileChangeMonitorFailure, WatchFailureClosesBothAndReportsEachClose) {
    WatchScript script;
    script.addError = 87;
    script.closeNotifierError = 6;
    script.closeDirectoryError = 5;
    testutil::CapturedLog log;
    CFileChangeMonitorEx monitor(std::make_unique<ScriptedWatch>(script));

    EXPECT_FALSE(monitor.Start("/spool", 3, false));
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{Line("ReadDirectoryChangesW", 147, 87),
                                        Line("CloseHandle", 151, 6), Line("CloseHandle", 158, 5)}));
    EXPECT_FALSE(script.directory);
    EXPECT_FALSE(script.notifier);
    EXPECT_FALSE(monitor.IsArmed());
}

TEST(FileChangeMonitorFailure, StopReportsCloseFailuresOnceAndTheDestructorStops) {
    WatchScript script;
    {
        CFileChangeMonitorEx monitor(std::make_unique<ScriptedWatch>(script));
        ASSERT_TRUE(monitor.Start("/spool", kSpoolFilter, true));
        EXPECT_EQ(script.filter, kSpoolFilter);
        EXPECT_TRUE(script.subtree);

        script.closeNotifierError = 6;
        script.closeDirectoryError = 5;
        testutil::CapturedLog log;
        monitor.Stop();
        monitor.Stop();
        EXPECT_EQ(log.texts(), (std::vector<std::string>{Line("CloseHandle", 177, 6),
                                                         Line("CloseHandle", 187, 5)}));

        script.closeNotifierError = script.closeDirectoryError = 0;
        ASSERT_TRUE(monitor.Start("/spool", kSpoolFilter, true));
        script.closes = 0;
    }
    EXPECT_EQ(script.closes, 2);
    EXPECT_FALSE(script.directory || script.notifier);
}

TEST(DirectoryScan, WildcardRules) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.*", "bob", true},
        {"*.*", "info.example.com", true},
        {"*.*", ".", true},
        {"*.*", "..", true},
        {"*", "a.b.c", true},
        {"bob.*", "bob", true},
        {"bob.*", "bob.cfg", true},
        {"bob.*", "bobby", false},
        {"*.cfg", "SMTPD.CFG", true},
        {"Info.*", "info.example.com", true},
        {"*.cfg", "smtpd.cfg.bak", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"??", "ab", true},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false},
        {"*ab", "aab", true},
        {"password", "PASSWORD", true},
        {"password", "password2", false},
        {"", "a", false},
        {"\xC4*", "\xE4x", false}, // only ASCII letters fold
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchFileName(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;

    // Backtracking stays linear in the number of stars tried, not exponential.
    std::string name(5000, 'a');
    EXPECT_FALSE(MatchFileName("*a*a*a*a*a*a*a*a*a*a*b", name));
}

TEST(DirectoryScan, NoMatchOrNoDirectoryEndsAtTheFirstStep) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir / "config", "");
    CDirectoryScan none(dir / "*.emt");
    EXPECT_FALSE(none.Next());
    EXPECT_EQ(none.GetName(), "");
    EXPECT_FALSE(none.Next());

    CDirectoryScan missing(dir / "spool/*.*");
    EXPECT_FALSE(missing.Next());
}

TEST(DirectoryScan, StarDotStarReportsEveryEntryWithItsKind) {
    KORVANE_NEEDS_LINKS();
    testutil::TempDir dir;
    fs::create_directory(dir / "bob");
    fs::create_directory(dir / "info.example.com");
    testutil::WriteBytes(dir / "password", "x");
    fs::create_directory_symlink(dir / "bob", dir / "alias-of-bob");

    std::map<std::string, bool> expected{{".", true},         {"..", true},
                                         {"bob", true},       {"info.example.com", true},
                                         {"password", false}, {"alias-of-bob", false}};
    EXPECT_EQ(ScanAll(dir / "*.*"), expected);
    EXPECT_EQ(ScanAll(dir / "*"), expected);
    EXPECT_EQ(ScanAll(dir / "INFO.*"), (std::map<std::string, bool>{{"info.example.com", true}}));
    EXPECT_EQ(ScanAll(dir / "b?b"), (std::map<std::string, bool>{{"bob", true}}));
}

TEST(DirectoryScan, PatternWithoutDirectoryScansTheCurrentDirectory) {
    testutil::TempDir dir;
    fs::create_directory(dir / "sub");
    testutil::WriteBytes(dir / "sub/reply.emt", "x");
    fs::path previous = fs::current_path();
    fs::current_path(dir / "sub");
    auto found = ScanAll("*.emt");
    fs::current_path(previous);
    EXPECT_EQ(found, (std::map<std::string, bool>{{"reply.emt", false}}));
}

TEST(DirectoryScan, LargeSpoolIsScannedCompletely) {
    testutil::TempDir dir;
    constexpr int kAccounts = 5000;
    for (int i = 0; i < kAccounts; ++i)
        fs::create_directory(dir / ("user" + std::to_string(i)));
    testutil::WriteBytes(dir / "user.lock", "");

    int folders = 0;
    int files = 0;
    CDirectoryScan scan(dir / "*.*");
    while (scan.Next())
        ++(scan.IsDirectory() ? folders : files);
    EXPECT_EQ(folders, kAccounts + 2);
    EXPECT_EQ(files, 1);
    EXPECT_FALSE(scan.Next());
}
