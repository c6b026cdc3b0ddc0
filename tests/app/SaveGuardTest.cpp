// The save after OK against other programs on the same set: it waits for their saves, and what
// one of them wrote since the load is taken over, never overwritten unasked.
#include "app/QuibrelApp.h"
#include "platform/FileLock.h"
#include "platform/Process.h"
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

class SaveGuard : public testing::Test {
protected:
    void SetUp() override {
        CopySampleInstallation(dir);
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

TEST_F(SaveGuard, WhatAnotherProgramChangedIsTakenOverOrSavesNothing) {
    // The sheet adds a domain, the other program removes both of the sample's and adds one:
    // both changes stand, and nobody is asked.
    EditBesideAnotherProgram("theirs.test\r\n");
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/domains"), "ours.test\r\ntheirs.test\r\n");
    EXPECT_TRUE(fs::exists(config + "/backup.cfg"));

    // A key both changed is asked about once; "Nein", the default, keeps theirs. Their other
    // changes and ours are taken either way.
    const auto bothChangeMaxThreads = [this](const std::string& their) {
        sheet.edit = [this, their](CConfigSet& set) {
            set.smtpd.SetString("MaxThreads", "12");
            set.smtpd.SetString("Ours", "1");
            std::string theirs = ReadBytes(config + "/smtpd.cfg");
            theirs.replace(theirs.find("MaxThreads"), 0, "Theirs: 1\r\n");
            WriteBytes(config + "/smtpd.cfg", theirs + "MaxThreads: " + their + "\r\n");
        };
    };
    bothChangeMaxThreads("20");
    prompter.ExpectText("\"MaxThreads\".", Answer::No);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    CConfigMap smtpd;
    ASSERT_TRUE(smtpd.Load(config + "/smtpd.cfg"));
    EXPECT_EQ(smtpd.GetString("MaxThreads", ""), "20");
    EXPECT_EQ(smtpd.GetString("Theirs", ""), "1");
    EXPECT_EQ(smtpd.GetString("Ours", ""), "1");
    bothChangeMaxThreads("30");
    prompter.ExpectText("\"MaxThreads\".", Answer::Yes);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    ASSERT_TRUE(smtpd.Load(config + "/smtpd.cfg"));
    EXPECT_EQ(smtpd.GetString("MaxThreads", ""), "12");

    // A file the other program removed cannot be merged: asked about as a whole.
    sheet.edit = [this](CConfigSet& set) {
        set.smarthosts.SetString("ours.test", "mx.ours.test");
        fs::remove(config + "/smarthosts");
    };
    prompter.ExpectText("\"smarthosts\" wurde seit dem Laden", Answer::No);
    EXPECT_EQ(Run(CAppEnvironment::ChangedFiles::Ask), AppOutcome::Saved);
    EXPECT_FALSE(fs::exists(config + "/smarthosts"));

    // A run that asks nobody saves nothing at all.
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
TEST_F(SaveGuard, AFileMadeSinceALoadThatFoundNoneIsKept) {
    fs::remove(config + "/backupdomains");
    sheet.edit = [this](CConfigSet&) { WriteBytes(config + "/backupdomains", "mx.test\r\n"); };
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

// The command line saves while the sheet is open: the sheet's OK keeps what the command
// changed and saves its own change beside it, without a question.
TEST_F(SaveGuard, TheSheetKeepsWhatTheCommandLineChangedMeanwhile) {
    sheet.edit = [this](CConfigSet& set) {
        set.domains.AddTail("ours.test");
        ASSERT_EQ(platform::RunAndWait(KORVANE_CTL, {"--config-dir=" + config, "--no-restart",
                                                     "alias", "add", "chef@example.test",
                                                     "info@example.test"}),
                  0);
    };
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
