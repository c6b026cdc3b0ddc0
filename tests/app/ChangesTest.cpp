// What the preview shows before a save, and the backup history's restore and prune.
#include "Common/BackupFolder.h"
#include "app/BackupHistory.h"
#include "app/ChangePreview.h"
#include "app/QuibrelApp.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"
#include "tests/app/AppDoubles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

class Changes : public testing::Test {
protected:
    void SetUp() override {
        CopySampleInstallation(dir);
        ::setenv("KORVANE_CHANGES_CONFIG", config.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVANE_CHANGES_CONFIG"); }
    AppOutcome Run(std::function<void(CConfigSet&)> edit, bool ok = true) {
        sheet.edit = std::move(edit);
        sheet.ok = ok;
        CAppEnvironment environment{prompter,
                                    services,
                                    sheet,
                                    [] { return true; },
                                    [] { return 0; },
                                    [](unsigned) {},
                                    "KORVANE_CHANGES_CONFIG"};
        CQuibrelApp app(std::move(environment));
        return app.Run("");
    }
    static const preview::FileChange& Of(const std::vector<preview::FileChange>& changes,
                                         const std::string& name) {
        for (const auto& change : changes)
            if (change.name == name)
                return change;
        throw std::runtime_error("no " + name);
    }
    backupfolder::Listing History() { return backupfolder::List(config + "/backup.cfg"); }

    testutil::TempDir dir;
    std::string config = dir / "config";
    CScriptedPrompter prompter;
    NoServices services;
    EditSheet sheet;
};

} // namespace

TEST_F(Changes, ThePreviewComparesWhatTheSaveWritesWithTheDisk) {
    fs::remove(config + "/backupdomains");
    fs::remove(config + "/smarthosts");
    fs::create_directory(config + "/smarthosts"); // exists, cannot be read: never written
    std::vector<preview::FileChange> changes;
    std::string listDiff;
    ASSERT_EQ(Run(
                  [&](CConfigSet& set) {
                      EXPECT_FALSE(preview::AnyChange(preview::OfSet(set)) &&
                                   Of(preview::OfSet(set), "smtpd.cfg").state !=
                                       preview::FileChange::State::Unchanged);
                      set.smtpd.SetInt("MaxThreads", 12);
                      set.backupDomains.AddTail("neu.test");
                      set.aliases.SetAt("chef@example.test", "info.example.test");
                      CStorableList& allow = set.SharedList(config + "/access.allow");
                      allow.AddTail("10.0.0.0/8");
                      // Lists appear once a page staged them; the command line stages none.
                      set.SharedList(config + "/access.relay");
                      set.StageSharedList(config + "/access.allow");
                      changes = preview::OfSet(set);
                  },
                  false), // Cancel: the preview wrote nothing
              AppOutcome::Cancelled);
    using State = preview::FileChange::State;
    const auto& smtpd = Of(changes, "smtpd.cfg");
    EXPECT_EQ(smtpd.state, State::Changed);
    EXPECT_NE(smtpd.diff.find("-MaxThreads:\t\t8\n+MaxThreads:\t\t12\n"), std::string::npos)
        << smtpd.diff;
    EXPECT_NE(smtpd.diff.find("\n # "), std::string::npos); // the comments are context
    EXPECT_EQ(Of(changes, "pop3d.cfg").state, State::Unchanged);
    EXPECT_EQ(Of(changes, "backupdomains").state, State::Created);
    EXPECT_NE(Of(changes, "backupdomains").diff.find("+neu.test\n"), std::string::npos);
    EXPECT_EQ(Of(changes, "smarthosts").state, State::Kept);
    EXPECT_NE(Of(changes, "aliases").diff.find("+chef@example.test:\tinfo.example.test\n"),
              std::string::npos);
    EXPECT_NE(Of(changes, config + "/access.allow").diff.find("+10.0.0.0/8\n"), std::string::npos);
    EXPECT_THROW(Of(changes, config + "/access.relay"), std::runtime_error);
    EXPECT_FALSE(fs::exists(config + "/backup.cfg"));
    EXPECT_FALSE(fs::exists(config + "/backupdomains"));
    // The report for a terminal names what is not a diff.
    const std::string report = preview::Report(changes, CJournal{});
    EXPECT_NE(report.find("smarthosts: wird nicht geschrieben"), std::string::npos);
}

TEST_F(Changes, ARestoreIsASaveThatCanItselfBeUndone) {
    const std::string original = ReadBytes(config + "/smtpd.cfg");
    const std::string domains = ReadBytes(config + "/domains");
    ASSERT_EQ(Run([](CConfigSet& set) {
                  set.smtpd.SetInt("MaxThreads", 12);
                  set.domains.AddTail("neu.test");
              }),
              AppOutcome::Saved);
    const std::string changed = ReadBytes(config + "/smtpd.cfg");
    auto listing = History();
    ASSERT_EQ(listing.moments.size(), 1u);
    EXPECT_EQ(listing.moments[0].copies.size(), 9u);
    const backupfolder::Moment first = listing.moments[0];

    // One file of the moment: exactly its bytes come back, after a copy of today's.
    backups::RestoreOptions one;
    one.files = {"smtpd.cfg"};
    auto result = backups::Restore(config, first, one, prompter);
    ASSERT_EQ(result.outcome, backups::RestoreResult::Outcome::Restored);
    EXPECT_EQ(ReadBytes(config + "/smtpd.cfg"), original);
    EXPECT_NE(ReadBytes(config + "/domains"), domains);
    EXPECT_EQ(ReadBytes(config + "/backup.cfg/smtpd.cfg-" + result.moment), changed);
    // Again: nothing left to do.
    EXPECT_EQ(backups::Restore(config, first, one, prompter).outcome,
              backups::RestoreResult::Outcome::NothingToDo);

    // The whole moment; then the restore's own moment undoes it.
    result = backups::Restore(config, first, {}, prompter);
    ASSERT_EQ(result.outcome, backups::RestoreResult::Outcome::Restored);
    EXPECT_EQ(result.restored, std::vector<std::string>{"domains"});
    EXPECT_EQ(ReadBytes(config + "/domains"), domains);
    listing = History();
    const backupfolder::Moment* undo = backups::Find(listing, result.moment);
    ASSERT_TRUE(undo);
    ASSERT_EQ(backups::Restore(config, *undo, {}, prompter).outcome,
              backups::RestoreResult::Outcome::Restored);
    EXPECT_NE(ReadBytes(config + "/domains").find("neu.test"), std::string::npos);
}

TEST_F(Changes, ARestoreRefusesWhatItCannotDoWholeAndWritesNothing) {
    KORVANE_NEEDS_LINKS(); // one of the refusals is for a link in a copy's place
    ASSERT_EQ(Run([](CConfigSet& set) { set.smtpd.SetInt("MaxThreads", 12); }), AppOutcome::Saved);
    const backupfolder::Moment moment = History().moments.at(0);
    const std::string today = ReadBytes(config + "/smtpd.cfg");
    using Outcome = backups::RestoreResult::Outcome;

    prompter.ExpectText("seit der Anzeige")
        .ExpectText("nicht.da")
        .ExpectText(dir / "gone")
        .ExpectText(dir / "link")
        .ExpectText("ist keine Datei");
    // The file changed since the user looked at it.
    backups::RestoreOptions seen;
    seen.expected["smtpd.cfg"] = backups::TodaysHash(config, "smtpd.cfg") + 1;
    EXPECT_EQ(backups::Restore(config, moment, seen, prompter).outcome, Outcome::Refused);
    // A file the moment has no copy of, and a copy that cannot be read.
    backups::RestoreOptions other;
    other.files = {"smtpd.cfg", "nicht.da"};
    EXPECT_EQ(backups::Restore(config, moment, other, prompter).outcome, Outcome::Refused);
    backupfolder::Moment broken = moment;
    broken.copies.back().path = dir / "gone";
    EXPECT_EQ(backups::Restore(config, broken, {}, prompter).outcome, Outcome::Refused);
    // A link in a copy's place is no copy, wherever it points.
    fs::create_symlink(config + "/pop3d.cfg", dir / "link");
    broken.copies.back().path = dir / "link";
    EXPECT_EQ(backups::Restore(config, broken, {}, prompter).outcome, Outcome::Refused);
    // A folder where the file belongs.
    fs::remove(config + "/smarthosts");
    fs::create_directory(config + "/smarthosts");
    EXPECT_EQ(backups::Restore(config, moment, {}, prompter).outcome, Outcome::Refused);
    EXPECT_EQ(ReadBytes(config + "/smtpd.cfg"), today);
    EXPECT_EQ(History().moments.size(), 1u);
}

TEST_F(Changes, AWriteThatFailsPutsBackWhatWasRestoredBeforeIt) {
    testutil::ScratchMount disk(dir / "small", "size=1m");
    if (!disk.mounted())
        GTEST_SKIP() << "needs root to mount a small file system";
    const std::string small = dir / "small";
    const std::string backups = small + "/backup.cfg";
    fs::create_directory(backups);
    // "a.cfg" is small, "b.cfg" so large that its copy and the restored file do not both fit.
    WriteBytes(small + "/a.cfg", "A: heute\r\n");
    WriteBytes(small + "/b.cfg", "B: heute\r\n");
    WriteBytes(backups + "/a.cfg-261201-100000", "A: damals\r\n");
    WriteBytes(backups + "/b.cfg-261201-100000", std::string(600 * 1024, 'b'));
    const backupfolder::Moment moment = backupfolder::List(backups).moments.at(0);
    prompter.ExpectText("konnte nicht wiederhergestellt werden");
    const auto result = backups::Restore(small, moment, {}, prompter);
    EXPECT_EQ(result.outcome, backups::RestoreResult::Outcome::Failed);
    EXPECT_EQ(ReadBytes(small + "/a.cfg"), "A: heute\r\n");
    EXPECT_EQ(ReadBytes(small + "/b.cfg"), "B: heute\r\n");
}

TEST_F(Changes, PruneKeepsTheNewestMoment) {
    const std::string backups = config + "/backup.cfg";
    fs::create_directory(backups);
    for (const char* stamp : {"250101-100000", "260101-100000", "261201-100000", "261208-100000"})
        WriteBytes(backups + "/smtpd.cfg-" + stamp, stamp);
    const auto listing = History();
    const std::int64_t now = *backupfolder::MomentTime("261209-100000");
    backups::PruneOptions keepTwo;
    keepTwo.keep = 2;
    keepTwo.dryRun = true;
    keepTwo.now = now;
    EXPECT_EQ(backups::Prune(listing, keepTwo).removed,
              (std::vector<std::string>{"260101-100000", "250101-100000"}));
    EXPECT_EQ(History().moments.size(), 4u); // a dry run
    backups::PruneOptions all;
    all.olderThanDays = 0;
    all.now = now;
    EXPECT_EQ(backups::Prune(listing, all).removed.size(), 3u);
    ASSERT_EQ(History().moments.size(), 1u);
    EXPECT_EQ(History().moments[0].id, "261208-100000");
    EXPECT_TRUE(backups::Delete(History(), {"261208-100000"}).removed.empty());
}
