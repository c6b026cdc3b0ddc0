#include "Common/MapEx.h"
#include "tests/Matchers.h"
#include "tests/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

using testutil::Crlf;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

class StorableMapFile : public testing::Test {
protected:
    // Loads text as a file, saves it without backup and returns what was written.
    std::string RoundTrip(const std::string& text) {
        WriteBytes(path, text);
        EXPECT_TRUE(map.Load(path));
        EXPECT_TRUE(map.Save(false));
        return ReadBytes(path);
    }
    std::string Get(const std::string& key) {
        const std::string* value = map.FindValue(key);
        return value ? *value : "<missing>";
    }

    testutil::TempDir dir;
    std::string path = dir / "test.cfg";
    CConfigMap map;
};

std::vector<std::string> FilesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(StorableMapFile, GoldenServiceFileKeepsCommentsColumnsAndBytes) {
    std::string written = RoundTrip(ReadBytes(KORVANE_TEST_DATA "/smtpd.cfg.in"));
    EXPECT_EQ(written, ReadBytes(KORVANE_TEST_DATA "/smtpd.cfg.expected"));
    EXPECT_EQ(Get("Banner"), "Willkommen bei M\xfcller # Co. # kein Kommentar");
    EXPECT_EQ(Get("Greeting"), "<missing>");
    // A second round changes nothing: the format is stable.
    EXPECT_EQ(RoundTrip(written), written);
}

TEST_F(StorableMapFile, SplitsEntriesAtTheFirstColonAndTrims) {
    RoundTrip("Key:Value\nKey2 : Value\n \t Key3 \t:\t Value \t\r\nInterface: 0.0.0.0:25\n");
    EXPECT_EQ(Get("Key"), "Value");
    EXPECT_EQ(Get("Key2"), "Value");
    EXPECT_EQ(Get("Key3"), "Value");
    EXPECT_EQ(Get("Interface"), "0.0.0.0:25");
}

TEST_F(StorableMapFile, DroppedEntryPassesItsCommentToTheNextEntry) {
    std::string written = RoundTrip("# about A\n:nokey\nnovalue:\nA: 1\n");
    EXPECT_EQ(map.GetCount(), 1u);
    EXPECT_EQ(written, Crlf("# about A\nA:\t1\n"));
}

TEST_F(StorableMapFile, TrailingCommentMovesAboveItsEntryAndTheTailIsDropped) {
    EXPECT_EQ(RoundTrip("Name: abc # note\n"), Crlf("# note\nName:\tabc\n"));
    EXPECT_EQ(RoundTrip("# head\n\nA: 1\n# tail\n"), Crlf("# head\n\nA:\t1\n"));
}

TEST_F(StorableMapFile, EscapedHashKeepsTheRestOfTheLineAsData) {
    RoundTrip("Name: a\\#b # note\n");
    EXPECT_EQ(Get("Name"), "a#b # note");
}

TEST_F(StorableMapFile, ValuesWithHashSurviveSaveAndReload) {
    WriteBytes(path, "");
    ASSERT_TRUE(map.Load(path));
    map.SetString("Plain", "a#b");
    map.SetString("Hash", "#start");
    map.SetString("Escaped", "x\\#y");
    map.SetString("Two", "1 # 2 # 3");
    ASSERT_TRUE(map.Save(false));
    CConfigMap again;
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.GetString("Plain", ""), "a#b");
    EXPECT_EQ(again.GetString("Hash", ""), "#start");
    EXPECT_EQ(again.GetString("Escaped", ""), "x\\#y");
    EXPECT_EQ(again.GetString("Two", ""), "1 # 2 # 3");
}

TEST_F(StorableMapFile, DuplicateKeyKeepsTheLastValueAndIsWrittenTwice) {
    EXPECT_EQ(RoundTrip("# one\nA: 1\nA: 2\n"), Crlf("A:\t2\nA:\t2\n"));
    EXPECT_EQ(map.GetCount(), 1u);
}

TEST_F(StorableMapFile, ValuesStartInOneColumnAfterTabs) {
    // Keys of 3 and 14 characters: two tab stops, values in column 16.
    EXPECT_EQ(RoundTrip("Abc: 1\nAbcdefghijklmn: 2\n"), Crlf("Abc:\t\t1\nAbcdefghijklmn:\t2\n"));
    // A key that fills its tab stops exactly gets no tab at all.
    EXPECT_EQ(RoundTrip("Abcdefg: 1\nA: 2\n"), Crlf("Abcdefg:1\nA:\t2\n"));
    EXPECT_EQ(RoundTrip("Abcdefghijklmno: 1\nA: 2\n"), Crlf("Abcdefghijklmno:1\nA:\t\t2\n"));
}

TEST_F(StorableMapFile, KeysAddedAfterLoadFollowInTheOrderTheyWereAdded) {
    WriteBytes(path, "# c\nB: 1\n");
    ASSERT_TRUE(map.Load(path));
    map.SetString("Zeta", "z");
    map.SetString("Alpha", "a");
    map.SetString("B", "");      // removed: its line and comment go
    map.SetString("B", "again"); // added back: written in its old place with its comment
    ASSERT_TRUE(map.Save(false));
    EXPECT_EQ(ReadBytes(path), Crlf("# c\nB:\tagain\nZeta:\tz\nAlpha:\ta\n"));
}

TEST_F(StorableMapFile, ARenamedKeyKeepsItsLineAndCommentBlock) {
    WriteBytes(path, "# a\nalpha: 1\nbeta: 2\n# g\ngamma: 3\n");
    ASSERT_TRUE(map.Load(path));
    map.SetString("gamma", ""); // its name is free again; its old line and comment go
    map.SetModified(false);
    EXPECT_FALSE(map.RenameKey("beta", "alpha")) << "taken";
    EXPECT_FALSE(map.RenameKey("none", "x"));
    EXPECT_FALSE(map.IsModified());
    EXPECT_TRUE(map.RenameKey("alpha", "gamma"));
    EXPECT_TRUE(map.IsModified());
    EXPECT_EQ(Get("gamma"), "1");
    EXPECT_EQ(Get("alpha"), "<missing>");
    map.SetString("alpha", "new"); // a new key, after the file's lines
    ASSERT_TRUE(map.Save(false));
    EXPECT_EQ(ReadBytes(path), Crlf("# a\ngamma:\t1\nbeta:\t2\nalpha:\tnew\n"));
}

TEST_F(StorableMapFile, EmptyFileGivesEmptyMapAndEmptyMapWritesEmptyFile) {
    EXPECT_EQ(RoundTrip(""), "");
    EXPECT_TRUE(map.IsLoaded());
    EXPECT_TRUE(map.IsEmpty());
}

TEST_F(StorableMapFile, LoadRecordsFileStateAndClearsTheModifiedFlag) {
    WriteBytes(path, "A: 1\n");
    map.SetAt("old", "x");
    ASSERT_TRUE(map.Load(path));
    EXPECT_FALSE(map.Contains("old"));
    EXPECT_FALSE(map.IsModified());
    EXPECT_EQ(map.GetFileSize(), 5u);
    EXPECT_GT(map.GetFileTime(), 0);
    map.SetString("B", "2");
    ASSERT_TRUE(map.Save(false));
    EXPECT_FALSE(map.IsModified());
    EXPECT_EQ(map.GetFileSize(), ReadBytes(path).size());
}

TEST_F(StorableMapFile, MissingOrUnreadableFilesFailAndKeepTheContent) {
    map.SetAt("kept", "1");
    EXPECT_FALSE(map.Load(dir / "missing.cfg"));
    EXPECT_FALSE(map.Load(dir.path())); // a directory
    EXPECT_TRUE(map.Contains("kept"));
    EXPECT_FALSE(map.IsLoaded());
#ifndef _WIN32 // neither named pipes in a folder nor mode bits on Windows
    ::mkfifo((dir / "fifo").c_str(), 0600);
    EXPECT_FALSE(map.Load(dir / "fifo")); // and never waits for a writer
    if (::geteuid() != 0) {
        WriteBytes(path, "A: 1\n");
        ::chmod(path.c_str(), 0);
        EXPECT_FALSE(map.Load(path));
    }
#endif
}

TEST_F(StorableMapFile, HostileBytesLoadAndSurviveUnchanged) {
    std::string nul("A: x\0y\nB: 1\n", 12);
    RoundTrip(nul);
    EXPECT_EQ(Get("A"), std::string("x\0y", 3));
    RoundTrip("A: \x80\x81\x8d\x8f\x90\x9d\xff\n");
    EXPECT_EQ(Get("A"), "\x80\x81\x8d\x8f\x90\x9d\xff");
    RoundTrip("A: 1\rB: 2\nC: 3"); // a lone CR is data; no final line end
    EXPECT_EQ(Get("A"), "1\rB: 2");
    EXPECT_EQ(Get("C"), "3");
    std::string huge = "Big: " + std::string(5 * 1024 * 1024, 'v') + "\nSmall: s\n";
    RoundTrip(huge);
    EXPECT_EQ(Get("Big").size(), 5u * 1024 * 1024);
    EXPECT_EQ(Get("Small"), "s");
}

TEST_F(StorableMapFile, SaveWithBackupCopiesTheOldFileUnderATimeStamp) {
    std::string backups = dir / "backup.cfg";
    std::filesystem::create_directory(backups);
    WriteBytes(path, "A: old\n");
    ASSERT_TRUE(map.Load(path));
    map.SetString("A", "new");
    ASSERT_TRUE(map.Save(true, backups + "/test.cfg"));
    auto names = FilesIn(backups);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_THAT(names[0], testutil::MatchesPattern("test\\.cfg-[0-9]{6}-[0-9]{6}"));
    EXPECT_EQ(ReadBytes(backups + "/" + names[0]), "A: old\n");
    EXPECT_EQ(ReadBytes(path), Crlf("A:\tnew\n"));

    // Without a base the copy goes beside the file.
    ASSERT_TRUE(map.Save(true));
    EXPECT_EQ(FilesIn(dir.path()).size(), 3u);

    // Quick saves, most likely within one second, each keep their copy: a later one of the same
    // second is named with "-2", "-3".
    for (const char* value : {"x", "y"}) {
        map.SetString("A", value);
        ASSERT_TRUE(map.Save(true, backups + "/test.cfg"));
    }
    std::set<std::string> copies;
    for (const std::string& name : FilesIn(backups)) {
        EXPECT_THAT(name, testutil::MatchesPattern("test\\.cfg-[0-9]{6}-[0-9]{6}(-[0-9]+)?"));
        copies.insert(ReadBytes(backups + "/" + name));
    }
    EXPECT_EQ(copies, (std::set<std::string>{"A: old\n", Crlf("A:\tnew\n"), Crlf("A:\tx\n")}));
}

TEST_F(StorableMapFile, SaveWithBackupOfANewFileStillWritesIt) {
    ASSERT_FALSE(map.Load(path));
    map.SetString("A", "1");
    EXPECT_TRUE(map.Save(true, dir / "nowhere/test.cfg"));
    EXPECT_EQ(ReadBytes(path), Crlf("A:\t1\n"));
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"test.cfg"});
}

TEST_F(StorableMapFile, SaveReplacesTheTargetOfALinkAndKeepsItsMode) {
    KORVANE_POSIX_ONLY("symbolic links need a privilege on Windows, and files there have no mode");
#ifndef _WIN32
    std::string real = dir / "real.cfg";
    WriteBytes(real, "A: 1\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, path);
    ASSERT_TRUE(map.Load(path));
    map.SetString("A", "2");
    ASSERT_TRUE(map.Save(false));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadBytes(real), Crlf("A:\t2\n"));
    struct stat st;
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST_F(StorableMapFile, LoadFromEnvJoinsTheDirectoryOrFailsWithoutIt) {
    WriteBytes(path, "A: 1\n");
    ::unsetenv("KORVANE_TEST_DIR");
    map.SetAt("kept", "1");
    EXPECT_FALSE(map.LoadFromEnv("test.cfg", "KORVANE_TEST_DIR"));
    EXPECT_TRUE(map.Contains("kept"));
    ::setenv("KORVANE_TEST_DIR", dir.path().c_str(), 1);
    EXPECT_TRUE(map.LoadFromEnv("test.cfg", "KORVANE_TEST_DIR"));
    EXPECT_EQ(map.GetPath(), path);
    // A complete path does not use the directory.
    ::setenv("KORVANE_TEST_DIR", "/nonexistent", 1);
    EXPECT_TRUE(map.LoadFromEnv(path, "KORVANE_TEST_DIR"));
    ::unsetenv("KORVANE_TEST_DIR");
}

namespace {

// Lower-cases keys and refuses entries whose value is "drop", as a filtering map would.
class FilteringMap : public CStorableMap {
public:
    bool refuseParse = false;
    bool refuseAfter = false;
    int afterLoadCalls = 0;

protected:
    bool AcceptEntry(std::string& key, std::string& value) override {
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return value != "drop";
    }
    bool BeforeParse() override { return !refuseParse; }
    bool AfterParse() override { return !refuseAfter; }
    void AfterLoad() override { ++afterLoadCalls; }
};

} // namespace

// Records the hints a load gives about the lines ahead.
class HintedMap : public CStorableMap {
public:
    std::vector<std::string> far;
    std::vector<std::string> near;

protected:
    void HintEntries(const LineHint& farLine, const LineHint& nearLine) const override {
        const auto note = [](std::vector<std::string>& to, const LineHint& line) {
            if (!line.key.empty())
                to.push_back(std::string(line.key) + "=" + std::string(line.value));
        };
        note(const_cast<HintedMap*>(this)->far, farLine);
        note(const_cast<HintedMap*>(this)->near, nearLine);
    }
};

// Every entry line is announced twice, first as far and then as near, in file order, with its
// key and value cut as the load will cut them; blank lines, comments and lines without a
// separator are announced as nothing. Files shorter than the look-ahead included.
TEST(StorableMapHooks, EveryEntryLineIsHintedFarThenNearInFileOrder) {
    testutil::TempDir dir;
    for (int lines : {3, 40}) {
        std::string text;
        std::vector<std::string> expected;
        for (int i = 0; i < lines; ++i) {
            text += i % 5 == 0 ? "# note\r\n\r\nno separator\r\n" : "";
            text += "  Key" + std::to_string(i) + " :\t value " + std::to_string(i) + " # c\r\n";
            expected.push_back("Key" + std::to_string(i) + "=value " + std::to_string(i));
        }
        WriteBytes(dir / "hinted.cfg", text);
        HintedMap map;
        ASSERT_TRUE(map.Load(dir / "hinted.cfg"));
        EXPECT_EQ(map.far, expected) << lines;
        EXPECT_EQ(map.near, expected) << lines;
        EXPECT_EQ(map.GetCount(), static_cast<std::size_t>(lines));
    }
}

TEST(StorableMapHooks, FilterRewritesAndDropsEntriesAndHooksCanRefuse) {
    testutil::TempDir dir;
    std::string path = dir / "aliases";
    WriteBytes(path, "# c\nBob: drop\nALICE: alice\n");
    FilteringMap map;
    ASSERT_TRUE(map.Load(path));
    EXPECT_EQ(map.GetCount(), 1u);
    EXPECT_TRUE(map.Contains("alice"));
    EXPECT_EQ(*map.GetComments().FindValue("alice"), "# c\n");
    EXPECT_EQ(map.afterLoadCalls, 1);

    map.refuseParse = true;
    EXPECT_FALSE(map.Load());
    EXPECT_TRUE(map.IsEmpty());
    map.refuseParse = false;
    map.refuseAfter = true;
    EXPECT_FALSE(map.Load());
    EXPECT_EQ(map.afterLoadCalls, 1);
}

// The loaded entries are views into the file's text, and rewritten values go to the map's
// own storage, which is packed anew once rewrites outweigh the content: every value, the
// string FindValue handed out, the order and the comment blocks must come through.
TEST_F(StorableMapFile, ValuesSurviveManyRewritesRemovalsAndReAdding) {
    WriteBytes(path, Crlf("# about a\na: 1\nb: 2\n# about c\nc: 3\n"));
    ASSERT_TRUE(map.Load(path));
    const std::string* handedOut = map.FindValue("a");
    for (int i = 0; i < 20000; ++i) {
        map.SetString("b", "value number " + std::to_string(i));
        map.SetString("a", std::to_string(i));
    }
    EXPECT_EQ(*handedOut, "19999");
    map.SetString("c", ""); // removed, then back at its old line with its block
    map.SetString("d", "4");
    map.SetString("c", "33");
    ASSERT_TRUE(map.Save(false));
    EXPECT_EQ(ReadBytes(path),
              Crlf("# about a\na:\t19999\nb:\tvalue number 19999\n# about c\nc:\t33\nd:\t4\n"));
}
