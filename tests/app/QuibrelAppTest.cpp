// The application cycle end to end on temporary configuration directories, with the scripted
// user and a service manager that records what it is asked.
#include "app/QuibrelApp.h"
#include "app/ServiceControl.h"
#include "platform/DefaultPaths.h"
#include "platform/FileLock.h"
#include "platform/Process.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>

using testing::ElementsAre;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

namespace fs = std::filesystem;

// Services that are running or not, and that accept or refuse the restart request.
class FakeServices : public platform::ServiceManager {
public:
    std::set<std::string> running;
    std::set<std::string> refusing;
    std::vector<std::string> restarted;

    bool QueryStatus(const std::string& service, platform::ServiceStatus& status) override {
        status.state = running.count(service) ? platform::ServiceState::Running
                                              : platform::ServiceState::Stopped;
        return true;
    }
    bool Start(const std::string&) override { return false; }
    bool SendRestartRequest(const std::string& service) override {
        restarted.push_back(service);
        return refusing.count(service) == 0;
    }
};

// The scripted user, keeping the text of every message box (a numbered one may carry the
// cause after the table's text).
class CRecordingPrompter : public CScriptedPrompter {
public:
    Answer ShowMessage(const PromptMessage& message) override {
        texts.push_back(message.text);
        return CScriptedPrompter::ShowMessage(message);
    }
    std::vector<std::string> texts;
};

// The sheet: lets the test change the set, then ends with OK or Cancel.
class FakeSheet : public CSheet {
public:
    bool ok = true;
    bool shown = false;
    std::function<void(CConfigSet&)> edit;
    bool Run(CConfigSet& set, CPrompter&) override {
        shown = true;
        if (edit)
            edit(set);
        return ok;
    }
};

const char* const kNineFiles[] = {"smtpd.cfg",   "pop3d.cfg",  "imap4d.cfg",
                                  "syslogd.cfg", "mdad.cfg",   "domains",
                                  "aliases",     "smarthosts", "backupdomains"};

class AppCycle : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(config);
        fs::create_directory(spool);
        WriteBytes(config + "/smtpd.cfg", "# SMTP\r\nMaxThreads:\t20\r\n");
        WriteBytes(config + "/pop3d.cfg", "Interface: 0.0.0.0:110\n");
        WriteBytes(config + "/imap4d.cfg", "Interface: 0.0.0.0:143\n");
        WriteBytes(config + "/syslogd.cfg", "Port: 514\n");
        WriteBytes(config + "/mdad.cfg", "# Zustellung\nSpoolDir: " + spool + "\n");
        WriteBytes(config + "/domains", "# lokale Domains\nexample.test\n");
        WriteBytes(config + "/aliases", "# Adressen\ninfo@example.test: info.example.test\n");
        WriteBytes(config + "/smarthosts", "");
        WriteBytes(config + "/backupdomains", "backup.test\n");
        fs::create_directory(spool + "/info.example.test");
        ::setenv(kVariable, config.c_str(), 1);
    }
    void TearDown() override { ::unsetenv(kVariable); }

    AppOutcome Run(std::string_view commandLine = "", CSetPreload* preload = nullptr) {
        CAppEnvironment environment{prompter,
                                    services,
                                    sheet,
                                    [this] { return admin; },
                                    [this] {
                                        ++relaunches;
                                        return relaunchError;
                                    },
                                    [this](unsigned ms) { pauses.push_back(ms); },
                                    kVariable};
        environment.preload = preload;
        environment.lockTimeout = std::chrono::milliseconds(100);
        CQuibrelApp app(std::move(environment));
        return app.Run(commandLine);
    }

    std::vector<std::string> Backups() const {
        std::vector<std::string> names;
        if (fs::exists(config + "/backup.cfg"))
            for (const auto& entry : fs::directory_iterator(config + "/backup.cfg"))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const char* name : kNineFiles)
            if (fs::exists(config + "/" + name))
                files[name] = ReadBytes(config + "/" + name);
        return files;
    }

    static constexpr const char* kVariable = "KORVANE_TEST_CONFIG";
    testutil::TempDir dir;
    std::string config = dir / "config";
    std::string spool = dir / "spool";
    CRecordingPrompter prompter;
    FakeServices services;
    FakeSheet sheet;
    bool admin = true;
    int relaunches = 0;
    int relaunchError = 0;
    std::vector<unsigned> pauses;
};

} // namespace

TEST_F(AppCycle, OkWithoutChangesRewritesAllNineFilesWithOneBackupEach) {
    services.running = {"SMTPd", "POP3d", "SYSLOGd"};
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/smtpd.cfg"), "# SMTP\r\nMaxThreads:\t20\r\n");
    EXPECT_EQ(ReadBytes(config + "/mdad.cfg"), "# Zustellung\r\nSpoolDir:\t" + spool + "\r\n");
    EXPECT_EQ(ReadBytes(config + "/aliases"),
              "# Adressen\r\ninfo@example.test:\tinfo.example.test\r\n");
    auto backups = Backups();
    ASSERT_EQ(backups.size(), 9u);
    for (const char* name : kNineFiles)
        EXPECT_TRUE(std::any_of(backups.begin(), backups.end(), [&](const std::string& b) {
            return b.rfind(std::string(name) + "-", 0) == 0;
        })) << name;
    // Only the running services, in the suite's order, each announced and followed by a pause.
    EXPECT_THAT(services.restarted, ElementsAre("SMTPd", "POP3d", "SYSLOGd"));
    EXPECT_THAT(prompter.progressTexts(),
                ElementsAre("Starte den SMTP-Server neu...", "Starte den POP3-Server neu...",
                            "Starte den SYSLOG-Server neu..."));
    EXPECT_FALSE(prompter.progressOpen());
    EXPECT_THAT(pauses, ElementsAre(250u, 250u, 250u));
}

TEST_F(AppCycle, CancelWritesNothingAndRestartsNothing) {
    services.running = {"SMTPd", "MDAd", "POP3d", "IMAP4d", "SYSLOGd"};
    sheet.ok = false;
    sheet.edit = [](CConfigSet& set) { set.smtpd.SetString("MaxThreads", "99"); };
    auto before = Snapshot();
    EXPECT_EQ(Run(), AppOutcome::Cancelled);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(Backups().empty());
    EXPECT_FALSE(fs::exists(config + "/backup.cfg"));
    EXPECT_TRUE(services.restarted.empty());
}

TEST_F(AppCycle, EditsOfTheSheetReachTheFilesOnOk) {
    sheet.edit = [](CConfigSet& set) {
        set.smtpd.SetString("MaxThreads", "99");
        set.domains.AddTail("neu.test");
    };
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/smtpd.cfg"), "# SMTP\r\nMaxThreads:\t99\r\n");
    EXPECT_EQ(ReadBytes(config + "/domains"), "# lokale Domains\r\nexample.test\r\nneu.test\r\n");
}

TEST_F(AppCycle, MissingSmarthostsAndBackupdomainsAreSilentAndCreatedOnOk) {
    fs::remove(config + "/smarthosts");
    fs::remove(config + "/backupdomains");
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/smarthosts"), "");
    EXPECT_EQ(ReadBytes(config + "/backupdomains"), "");
    EXPECT_EQ(Backups().size(), 7u); // nothing to copy for the two new files
}

TEST_F(AppCycle, WithoutTheVariableEveryLoadFailsInOrder) {
    // Without "mdad.cfg" the spool is the default folder; a machine without it cannot build
    // the account list, says so and goes on.
    if (fs::exists(platform::kDefaultSpoolDir))
        GTEST_SKIP() << "this machine has the default spool folder";
    ::unsetenv(kVariable);
    // First one clear word of why, naming the variable; then the load messages in their order.
    prompter.ExpectText("MAILCONFIGDIR ist nicht gesetzt");
    prompter.ExpectMessage(104).ExpectMessage(105).ExpectMessage(170).ExpectMessage(126);
    prompter.ExpectMessage(106).ExpectMessage(107).ExpectMessage(108).ExpectMessage(109);
    sheet.ok = false;
    EXPECT_EQ(Run(), AppOutcome::Cancelled);
    EXPECT_TRUE(sheet.shown);
}

TEST_F(AppCycle, AVariableThatNamesNoFolderIsSaidFirstWithItsValue) {
    if (fs::exists(platform::kDefaultSpoolDir))
        GTEST_SKIP() << "this machine has the default spool folder";
    const std::string missing = dir / "no-such-config";
    ::setenv(kVariable, missing.c_str(), 1);
    prompter.ExpectText("MAILCONFIGDIR nennt kein vorhandenes Verzeichnis: \"" + missing + "\"");
    prompter.ExpectMessage(104).ExpectMessage(105).ExpectMessage(170).ExpectMessage(126);
    prompter.ExpectMessage(106).ExpectMessage(107).ExpectMessage(108);
    prompter.ExpectText("\"domains\" nicht gelesen").ExpectMessage(109);
    sheet.ok = false;
    EXPECT_EQ(Run(), AppOutcome::Cancelled);
}

// A spool that is not there yet (a new installation) or was given wrong opens the sheet, where
// the Folders page can set it; "aliases" is loaded as it is and never written in that run.
TEST_F(AppCycle, AMissingSpoolOpensTheSheetWithTheAliasesKeptAsTheyAre) {
    const std::string missing = dir / "no-such-spool";
    WriteBytes(config + "/mdad.cfg", "SpoolDir: " + missing + "\n");
    WriteBytes(config + "/aliases", "info@example.test: info.example.test\n"
                                    "old@elsewhere.test: x@y.test\n");
    prompter.ExpectMessage(108, MessageKind::Error, Answer::Ok);
    bool unfiltered = false;
    sheet.edit = [&](CConfigSet& set) {
        std::string target;
        unfiltered = set.aliases.Lookup("info@example.test", target);
        set.smtpd.SetString("MaxThreads", "30");
    };
    auto before = Snapshot();
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_TRUE(sheet.shown);
    EXPECT_TRUE(unfiltered); // the account it names could not be looked for
    EXPECT_EQ(ReadBytes(config + "/aliases"), before["aliases"]);
    EXPECT_EQ(ReadBytes(config + "/smtpd.cfg"), "# SMTP\r\nMaxThreads:\t30\r\n");
    ASSERT_FALSE(prompter.texts.empty());
    EXPECT_NE(prompter.texts[0].find("\"" + missing + "\" ist nicht vorhanden"), std::string::npos)
        << prompter.texts[0];

    // A change made to it anyway is not written, and said.
    prompter.texts.clear();
    prompter.ExpectMessage(108).ExpectMessage(121, MessageKind::Error, Answer::Ok);
    sheet.edit = [](CConfigSet& set) { set.aliases.SetAt("neu@example.test", "a@b.test"); };
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_EQ(ReadBytes(config + "/aliases"), before["aliases"]);
    EXPECT_NE(prompter.texts.back().find("ohne Kontenliste"), std::string::npos);
}

// The set loaded ahead: its messages come after the administrator's question, in the load's
// order; a second run loads anew, and a preload that met another program's save leaves the
// load to the run, which waits for it.
TEST_F(AppCycle, APreloadedSetIsTakenOnceWithItsMessagesAfterTheRightsQuestion) {
    const std::string missing = dir / "no-such-spool";
    WriteBytes(config + "/mdad.cfg", "SpoolDir: " + missing + "\n");
    admin = false;
    CSetPreload preload(kVariable);
    prompter.ExpectMessage(124, MessageKind::InformationOkCancel, Answer::Ok)
        .ExpectMessage(108, MessageKind::Error, Answer::Ok);
    std::string seen;
    sheet.edit = [&](CConfigSet& set) { seen = set.smtpd.GetString("MaxThreads", ""); };
    EXPECT_EQ(Run("", &preload), AppOutcome::Saved);
    EXPECT_EQ(seen, "20");
    EXPECT_FALSE(preload.Running());
    prompter.VerifyAllMet();

    admin = true;
    WriteBytes(config + "/smtpd.cfg", "MaxThreads: 21\n");
    prompter.ExpectMessage(108, MessageKind::Error, Answer::Ok);
    EXPECT_EQ(Run("", &preload), AppOutcome::Saved);
    EXPECT_EQ(seen, "21");

    platform::DirectoryLock theirs;
    ASSERT_TRUE(theirs.Acquire(config, platform::DirectoryLock::Mode::Exclusive,
                               std::chrono::milliseconds(0)));
    CSetPreload refused(kVariable);
    WriteBytes(config + "/smtpd.cfg", "MaxThreads: 22\n");
    sheet.ok = false;
    prompter.ExpectMessage(108, MessageKind::Error, Answer::Ok);
    EXPECT_EQ(Run("", &refused), AppOutcome::Cancelled);
    EXPECT_EQ(seen, "22");
    EXPECT_EQ(prompter.progressTexts().size(), 1u); // the run waited, and said so
    prompter.VerifyAllMet();
}

TEST_F(AppCycle, NonAdministratorIsWarnedAndMayGoOnOrLeave) {
    admin = false;
    prompter.ExpectMessage(124, MessageKind::InformationOkCancel, Answer::Cancel);
    EXPECT_EQ(Run(), AppOutcome::RefusedRights);
    EXPECT_FALSE(sheet.shown);
    prompter.ExpectMessage(124, MessageKind::InformationOkCancel, Answer::Ok);
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_TRUE(sheet.shown);
}

TEST_F(AppCycle, RunOnceRelaunchesOnlyWhenItIsTheWholeCommandLine) {
    EXPECT_EQ(Run("/runonce"), AppOutcome::Relaunched);
    EXPECT_EQ(Run("/RUNONCE"), AppOutcome::Relaunched);
    EXPECT_EQ(relaunches, 2);
    EXPECT_FALSE(sheet.shown);
    EXPECT_EQ(Run("/RunOnce x"), AppOutcome::Saved);
    EXPECT_EQ(relaunches, 2);
    relaunchError = 2;
    prompter.ExpectText("Konfigurationsprogramm konnte nicht gestartet werden. Bitte wenden Sie "
                        "sich an den Hersteller. Code: 2");
    EXPECT_EQ(Run("/RunOnce"), AppOutcome::RelaunchFailed);
}

TEST_F(AppCycle, RefusedRestartIsReportedAndTheNextServiceIsStillTried) {
    services.running = {"SMTPd", "MDAd", "POP3d", "IMAP4d", "SYSLOGd"};
    services.refusing = {"MDAd", "IMAP4d"};
    prompter.ExpectMessage(113).ExpectMessage(172);
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_THAT(services.restarted, ElementsAre("SMTPd", "MDAd", "POP3d", "IMAP4d", "SYSLOGd"));
    EXPECT_EQ(pauses.size(), 5u);
}

TEST_F(AppCycle, FailedSaveIsReportedAndTheOtherFilesAreStillSaved) {
    fs::remove(config + "/pop3d.cfg");
    fs::create_directory(config + "/pop3d.cfg"); // cannot be loaded or replaced
    prompter.ExpectMessage(105).ExpectMessage(117);
    sheet.edit = [](CConfigSet& set) { set.imap4d.SetString("Port", "1143"); };
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_TRUE(fs::is_directory(config + "/pop3d.cfg"));
    EXPECT_EQ(ReadBytes(config + "/imap4d.cfg"), "Interface:\t0.0.0.0:143\r\nPort:\t\t1143\r\n");
}

// A file that exists but cannot be read: a named pipe, or on Windows, which has none in a
// folder, a folder in its place.
#ifdef _WIN32
constexpr fs::file_type kUnreadable = fs::file_type::directory;
void PlantUnreadable(const std::string& path) {
    fs::create_directory(path);
}
#else
constexpr fs::file_type kUnreadable = fs::file_type::fifo;
void PlantUnreadable(const std::string& path) {
    ::mkfifo(path.c_str(), 0600);
}
#endif

TEST_F(AppCycle, AFileThatExistsButCannotBeReadIsNeverOverwritten) {
    // A file that cannot be read would otherwise be replaced by the empty settings the sheet
    // showed for it.
    fs::remove(config + "/smtpd.cfg");
    PlantUnreadable(config + "/smtpd.cfg");
    prompter.ExpectMessage(104).ExpectMessage(116);
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_EQ(fs::status(config + "/smtpd.cfg").type(), kUnreadable);
}

// The files after the account list are read ahead on a second thread: one that cannot be read
// there fails its load in its place, and is kept, as when read in turn.
TEST_F(AppCycle, FilesReadAheadThatCannotBeReadFailInOrderAndAreKept) {
    fs::remove(config + "/aliases");
    fs::create_directory(config + "/aliases");
    fs::remove(config + "/backupdomains");
    PlantUnreadable(config + "/backupdomains");
    prompter.ExpectMessage(109).ExpectMessage(121).ExpectMessage(125);
    EXPECT_EQ(Run(), AppOutcome::Saved);
    EXPECT_TRUE(fs::is_directory(config + "/aliases"));
    EXPECT_EQ(fs::status(config + "/backupdomains").type(), kUnreadable);
}

// ---------------------------------------------------------------------------------------------
// The bundled sample, with real stand-in services in a supervisor directory.

namespace {

class SampleInstallation : public testing::Test {
protected:
    void SetUp() override {
        fs::copy(KORVANE_SAMPLE_DIR "/config", config, fs::copy_options::recursive);
        fs::copy(KORVANE_SAMPLE_DIR "/spool", spool, fs::copy_options::recursive);
        // The sample's folders live under the default tree; move them into the test's.
        for (const char* name : {"smtpd.cfg", "pop3d.cfg", "imap4d.cfg", "mdad.cfg"}) {
            std::string text = ReadBytes(config + "/" + name);
            for (std::size_t at; (at = text.find("/var/spool/korvane/spool")) != std::string::npos;)
                text.replace(at, 24, spool);
            WriteBytes(config + "/" + name, text);
        }
        ::setenv("KORVANE_TEST_CONFIG", config.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("KORVANE_TEST_CONFIG");
        testutil::StopStandins(supervisor.path());
    }
    void StartStandin(const std::string& service) {
        ASSERT_EQ(platform::RunAndWait(KORVANE_STANDIN, {supervisor.path(), service}), 0);
    }
    std::size_t Restarts(const std::string& service) const {
        return testutil::StandinRestarts(supervisor.path(), service);
    }

    testutil::TempDir dir;
    testutil::TempDir supervisor;
    std::string config = dir / "config";
    std::string spool = dir / "spool";
    CScriptedPrompter prompter;
    FakeSheet sheet;
};

} // namespace

TEST_F(SampleInstallation, OkRewritesTheSampleUnchangedAndRestartsTheRunningStandins) {
    KORVANE_POSIX_ONLY("the running services are stand-ins in a supervisor folder");
    std::map<std::string, std::string> before;
    for (const char* name : kNineFiles)
        before[name] = ReadBytes(config + "/" + name);
    StartStandin("SMTPd");
    StartStandin("IMAP4d");
    auto services = platform::CreateSupervisorServiceManager(supervisor.path());

    CQuibrelApp app(CAppEnvironment{prompter, *services, sheet, [] { return true; },
                                    [] { return 0; }, [](unsigned) {}, "KORVANE_TEST_CONFIG"});
    ASSERT_EQ(app.Run(""), AppOutcome::Saved);
    EXPECT_EQ(app.set().users.GetCount(), 3u);
    EXPECT_GT(app.set().aliases.GetCount(), 0u);

    for (const char* name : kNineFiles)
        EXPECT_EQ(ReadBytes(config + "/" + name), before[name]) << name;
    std::size_t backups = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(config + "/backup.cfg"))
        ++backups;
    EXPECT_EQ(backups, 9u);

    // The stand-ins record the request as it arrives; give them a moment.
    for (int i = 0; i < 100 && (Restarts("SMTPd") == 0 || Restarts("IMAP4d") == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Restarts("SMTPd"), 1u);
    EXPECT_EQ(Restarts("IMAP4d"), 1u);
    EXPECT_EQ(Restarts("POP3d"), 0u);
    EXPECT_THAT(prompter.progressTexts(),
                ElementsAre("Starte den SMTP-Server neu...", "Starte den IMAP4-Server neu..."));
}
