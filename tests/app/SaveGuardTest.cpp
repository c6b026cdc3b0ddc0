// The save after OK against other programs on the same set: it waits for their saves, and a
// file one of them wrote since the load is never overwritten unasked.
#include "app/QuibrelApp.h"
#include "platform/FileLock.h"
#include "platform/Process.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

class NoServices : public platform::ServiceManager {
public:
    bool QueryStatus(const std::string&, platform::ServiceStatus&) override { return false; }
    bool Start(const std::string&) override { return false; }
    bool SendRestartRequest(const std::string&) override { return false; }
};

class EditSheet : public CSheet {
public:
    std::function<void(CConfigSet&)> edit;
    bool Run(CConfigSet& set, CPrompter&) override {
        edit(set);
        return true;
    }
};

class SaveGuard : public testing::Test {
protected:
    void SetUp() override {
        fs::copy(KORVANE_SAMPLE_DIR "/config", config, fs::copy_options::recursive);
        fs::copy(KORVANE_SAMPLE_DIR "/spool", dir / "spool", fs::copy_options::recursive);
        std::string mdad = ReadBytes(config + "/mdad.cfg");
        mdad.replace(mdad.find("/var/spool/korvane/spool"), 24, dir / "spool");
        WriteBytes(config + "/mdad.cfg", mdad);
        ::setenv("KORVANE_GUARD_CONFIG", config.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVANE_GUARD_CONFIG"); }
    AppOutcome Run(CAppEnvironment::ChangedFiles policy) {
        CAppEnvironment environment{prompter,
                                    services,
                                    sheet,
                                    [] { return true; },
                                    [] { return 0; },
                                    [](unsigned) {},
                                    "KORVANE_GUARD_CONFIG"};
        environment.changedFiles = policy;
        environment.lockTimeout = std::chrono::milliseconds(50);
        CQuibrelApp app(std::move(environment));
        return app.Run("");
    }
    // The sheet adds a domain, while another program rewrites "domains" with text of its own.
    void EditBesideAnotherProgram(const std::string& theirs) {
        sheet.edit = [this, theirs](CConfigSet& set) {
            set.domains.AddTail("ours.test");
            WriteBytes(config + "/domains", theirs);
        };
    }

    testutil::TempDir dir;
    std::string config = dir / "config";
    CScriptedPrompter prompter;
    NoServices services;
    EditSheet sheet;
};

TEST_F(SaveGuard, AFileChangedSinceTheLoadIsAskedAboutOrSavesNothing) {
    const std::string theirs = "theirs.test\r\n";

    EditBesideAnotherProgram(theirs);
    prompter.ExpectText("\"domains\" wurde seit dem Laden", Answer::No);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/domains"), theirs); // kept; the rest was saved
    EXPECT_TRUE(fs::exists(config + "/backup.cfg"));

    EditBesideAnotherProgram("other.test\r\n");
    prompter.ExpectText("\"domains\" wurde seit dem Laden", Answer::Yes);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    EXPECT_NE(ReadBytes(config + "/domains").find("ours.test"), std::string::npos);

    fs::remove_all(config + "/backup.cfg");
    const std::string before = ReadBytes(config + "/domains");
    const std::string aliases = ReadBytes(config + "/aliases");
    EditBesideAnotherProgram(before + "late.test\r\n");
    prompter.ExpectText("Damit diese");
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Refuse), AppOutcome::SaveRefused);
    EXPECT_EQ(ReadBytes(config + "/domains"), before + "late.test\r\n");
    EXPECT_EQ(ReadBytes(config + "/aliases"), aliases);
    EXPECT_FALSE(fs::exists(config + "/backup.cfg"));
    prompter.VerifyAllMet();
}

// "backupdomains" is optional and read ahead of its load: one that another program creates
// after a load that found none is its file too.
TEST_F(SaveGuard, AFileMadeSinceALoadThatFoundNoneIsAskedAbout) {
    fs::remove(config + "/backupdomains");
    sheet.edit = [this](CConfigSet&) { WriteBytes(config + "/backupdomains", "mx.test\r\n"); };
    prompter.ExpectText("\"backupdomains\" wurde seit dem Laden", Answer::No);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/backupdomains"), "mx.test\r\n");
    prompter.VerifyAllMet();
}

TEST_F(SaveGuard, TheSameBytesWrittenAgainAreNoChange) {
    sheet.edit = [this](CConfigSet&) {
        const std::string aliases = ReadBytes(config + "/aliases");
        fs::remove(config + "/aliases");
        WriteBytes(config + "/aliases", aliases); // a new file, the same content
    };
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Refuse), AppOutcome::Saved);
}

// The command line saves while the sheet is open: the sheet's OK asks about the one file the
// command changed, and the other files, rewritten with their old bytes, pass unasked.
TEST_F(SaveGuard, TheSheetAsksAboutWhatTheCommandLineChangedMeanwhile) {
    sheet.edit = [this](CConfigSet& set) {
        set.domains.AddTail("ours.test");
        ASSERT_EQ(platform::RunAndWait(KORVANE_CTL, {"--config-dir=" + config, "--no-restart",
                                                     "alias", "add", "chef@example.test",
                                                     "info@example.test"}),
                  0);
    };
    prompter.ExpectText("\"aliases\" wurde seit dem Laden", Answer::No);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    EXPECT_NE(ReadBytes(config + "/aliases").find("chef@example.test"), std::string::npos);
    EXPECT_NE(ReadBytes(config + "/domains").find("ours.test"), std::string::npos);
    prompter.VerifyAllMet();
}

TEST_F(SaveGuard, ASaveWaitsForAnotherProgramsSave) {
    platform::DirectoryLock theirs;
    sheet.edit = [&](CConfigSet& set) {
        set.domains.AddTail("ours.test");
        ASSERT_TRUE(theirs.Acquire(config, platform::DirectoryLock::Mode::Exclusive,
                                   std::chrono::milliseconds(0)));
    };
    const std::string domains = ReadBytes(config + "/domains");
    prompter.ExpectText("gibt sie nicht frei", Answer::No);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::SaveRefused);
    EXPECT_EQ(ReadBytes(config + "/domains"), domains);
    EXPECT_EQ(prompter.progressTexts(),
              std::vector<std::string>{"Warte auf ein anderes Programm, das die Konfiguration "
                                       "gerade speichert..."});
    prompter.VerifyAllMet();
}

} // namespace
