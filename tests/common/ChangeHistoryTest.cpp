// The unified diff of the preview and the backup history, and the folder of backup copies:
// names, moments, grouping, and copies that share their bytes.
#include "Common/BackupFolder.h"
#include "Common/MapEx.h"
#include "Common/UnifiedDiff.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/stat.h>

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Applies a unified diff to before the way patch does, checking every kept and removed line
// against before; the lines of after, or a message of what did not fit.
std::vector<std::string> Patch(const std::vector<std::string>& before, const std::string& diff,
                               std::string& error) {
    std::vector<std::string> out;
    std::size_t at = 0; // next line of before
    const std::vector<std::string> lines = Lines(diff);
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.rfind("@@ -", 0) == 0) {
            std::size_t start = std::stoul(line.substr(4));
            const std::size_t comma = line.find(',');
            const std::size_t space = line.find(' ', 4);
            const bool empty = comma < space && line.substr(comma + 1, 2) == "0 ";
            const std::size_t first = empty ? start : start - 1;
            if (first < at) {
                error = "hunk goes back: " + line;
                return out;
            }
            for (; at < first; ++at)
                out.push_back(before.at(at));
            continue;
        }
        const std::string text = line.substr(1);
        if (line[0] == '+') {
            out.push_back(text);
            continue;
        }
        if (at >= before.size() || before[at] != text) {
            error = "line " + std::to_string(at + 1) + " does not match: " + line;
            return out;
        }
        if (line[0] == ' ')
            out.push_back(text);
        ++at;
    }
    for (; at < before.size(); ++at)
        out.push_back(before[at]);
    return out;
}

} // namespace

TEST(UnifiedDiff, ShowsOneChangeWithItsContextAndNumbers) {
    std::string before, after;
    for (int i = 1; i <= 20; ++i) {
        before += "k" + std::to_string(i) + "\r\n";
        after += (i == 10 ? "k10 neu" : "k" + std::to_string(i)) + "\r\n";
    }
    EXPECT_EQ(textdiff::Unified(before, after, "a", "b"),
              "--- a\n+++ b\n@@ -7,7 +7,7 @@\n k7\n k8\n k9\n-k10\n+k10 neu\n k11\n k12\n k13\n");
    // A file made new, and one emptied.
    EXPECT_EQ(textdiff::Unified("", "x\r\ny\r\n", "a", "b"),
              "--- a\n+++ b\n@@ -0,0 +1,2 @@\n+x\n+y\n");
    EXPECT_EQ(textdiff::Unified("x\n", "", "a", "b"), "--- a\n+++ b\n@@ -1 +0,0 @@\n-x\n");
    // The whole of the shorter text is the longer one's tail.
    EXPECT_EQ(textdiff::Unified("a\nb\n", "b\n", "a", "b"),
              "--- a\n+++ b\n@@ -1,2 +1 @@\n-a\n b\n");
    // Line ends alone are no changed line, but they are told apart.
    EXPECT_EQ(textdiff::Unified("a\nb", "a\r\nb\r\n", "a", "b"), "");
    EXPECT_TRUE(textdiff::LineEndsOnly("a\nb", "a\r\nb\r\n"));
    EXPECT_FALSE(textdiff::LineEndsOnly("a\n", "a\n"));
}

TEST(UnifiedDiff, EveryDiffTurnsTheOldTextIntoTheNew) {
    // Random edits of short texts from a few distinct lines (many equal lines make the edit
    // script ambiguous, which is where hunk numbers go wrong), with and without the search.
    // Lines that end alike, so that equal bytes at the end of a file reach into changed lines.
    const char* const kLines[] = {"a", "ba", "cba", "b", "ab", "x"};
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::string> a, b;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            a.push_back(kLines[random() % 4]);
        b = a;
        for (int edits = static_cast<int>(random() % 5); edits > 0; --edits) {
            const std::size_t at = b.empty() ? 0 : random() % (b.size() + 1);
            if (random() % 2 == 0 && at < b.size())
                b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
            else
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), kLines[random() % 6]);
        }
        std::string before, after;
        for (const auto& line : a)
            before += line + "\n";
        // Mostly the same line ends on both sides, where most of a file is passed over as equal
        // bytes; now and then CR LF against LF, where every line differs as bytes.
        for (const auto& line : b)
            after += line + (round % 4 == 0 ? "\r\n" : "\n");
        textdiff::Options options;
        options.context = random() % 4;
        options.searchLimit = round % 3 == 0 ? 2 : 50000;
        const std::string diff = textdiff::Unified(before, after, "a", "b", options);
        if (a == b) {
            EXPECT_EQ(diff, "");
            continue;
        }
        std::string error;
        EXPECT_EQ(Patch(a, diff, error), b) << error << "\n" << diff;
    }
}

TEST(BackupFolder, NamesAndMomentsOfCopies) {
    const auto copy = backupfolder::ParseCopyName("access-2.allow-261209-121530-2");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->file, "access-2.allow");
    EXPECT_EQ(copy->moment, "261209-121530-2");
    EXPECT_EQ(backupfolder::ParseCopyName("smtpd.cfg-261209-121530")->file, "smtpd.cfg");
    for (const char* foreign : {"smtpd.cfg", "smtpd.cfg-261309-121530", "smtpd.cfg-261209-251530",
                                "-261209-121530", "x-261209-121530-", "x-261209-12153"})
        EXPECT_FALSE(backupfolder::ParseCopyName(foreign)) << foreign;
    EXPECT_EQ(backupfolder::MomentText("261209-121530-3"), "09.12.2026 12:15:30 (3)");
    EXPECT_TRUE(backupfolder::MomentBefore("261209-121530-2", "261209-121530-10"));
    EXPECT_TRUE(backupfolder::MomentBefore("261209-121530", "261209-121530-2"));
    EXPECT_TRUE(backupfolder::MomentBefore("261209-121530-9", "261209-121531"));
}

TEST(BackupFolder, ListsMomentsNewestFirstWithoutForeignFiles) {
    testutil::TempDir dir;
    for (const char* name :
         {"smtpd.cfg-261209-100000", "aliases-261209-100000", "smtpd.cfg-261209-100000-2",
          "smtpd.cfg-261208-090000", "aliases-261208-090000", "notes.txt",
          "smtpd.cfg-261209-100000.tmp-AbC123"})
        WriteBytes(dir / name, "x");
    fs::create_directory(dir / "old-261209-100000");
    const backupfolder::Listing listing = backupfolder::List(dir.path());
    ASSERT_TRUE(listing.readable);
    std::vector<std::string> ids;
    for (const auto& moment : listing.moments)
        ids.push_back(moment.id + ":" + std::to_string(moment.copies.size()));
    EXPECT_EQ(
        ids, (std::vector<std::string>{"261209-100000-2:1", "261209-100000:2", "261208-090000:2"}));
    EXPECT_EQ(listing.foreign, (std::vector<std::string>{"notes.txt", "old-261209-100000"}));
    EXPECT_EQ(listing.moments[1].copies[0].file, "aliases");
    EXPECT_FALSE(backupfolder::List(dir / "missing").readable);
}

TEST(BackupFolder, ACopyLikeTheOneBeforeSharesItsBytesAndAMomentIsShared) {
    testutil::TempDir dir;
    const std::string backups = dir / "backup.cfg";
    fs::create_directory(backups);
    WriteBytes(dir / "a.cfg", "A: 1\n");
    WriteBytes(dir / "b.cfg", "B: 1\n");
    CConfigMap a, b;
    ASSERT_TRUE(a.Load(dir / "a.cfg"));
    ASSERT_TRUE(b.Load(dir / "b.cfg"));
    std::vector<std::string> moments;
    for (const char* value : {"2", "3", "4"}) {
        const std::string moment = backupfolder::NewMoment(backups);
        moments.push_back(moment);
        a.SetString("A", value); // only "a.cfg" changes; "b.cfg" is saved unchanged each time
        ASSERT_TRUE(a.Save(true, backups + "/a.cfg", moment));
        ASSERT_TRUE(b.Save(true, backups + "/b.cfg", moment));
    }
    EXPECT_NE(moments[0], moments[1]); // two saves, two moments, even within one second
    const backupfolder::Listing listing = backupfolder::List(backups);
    ASSERT_EQ(listing.moments.size(), 3u);
    for (const auto& moment : listing.moments)
        EXPECT_EQ(moment.copies.size(), 2u);
    struct stat first {
    }, last{}, changed{};
    ASSERT_EQ(::stat((backups + "/b.cfg-" + moments[1]).c_str(), &first), 0);
    ASSERT_EQ(::stat((backups + "/b.cfg-" + moments[2]).c_str(), &last), 0);
    ASSERT_EQ(::stat((backups + "/a.cfg-" + moments[2]).c_str(), &changed), 0);
    if (!testutil::kWindows) {                // Windows' stat gives no file number to compare
        EXPECT_EQ(first.st_ino, last.st_ino); // the same bytes, stored once
        EXPECT_NE(changed.st_ino, last.st_ino);
    }
    EXPECT_EQ(ReadBytes(backups + "/a.cfg-" + moments[2]), testutil::Crlf("A:\t3\n"));
    EXPECT_EQ(ReadBytes(backups + "/b.cfg-" + moments[0]), "B: 1\n");
}
