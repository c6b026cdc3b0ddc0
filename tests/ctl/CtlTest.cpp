// korvanectl on a copy of the sample installation: usage errors, the read-only commands, and
// the changing ones with their refusals, their saves and the restarts of the running services.
#include "ctl/Commands.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/TaskScheduler.h"
#include "tests/TestUtil.h"
#include "tests/pages/CertificateMaker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

const char* const kNineFiles[] = {"smtpd.cfg",   "pop3d.cfg",  "imap4d.cfg",
                                  "syslogd.cfg", "mdad.cfg",   "domains",
                                  "aliases",     "smarthosts", "backupdomains"};

struct Result {
    int status;
    std::string out;
    std::string err;
};

class Ctl : public testing::Test {
protected:
    void SetUp() override {
        fs::copy(KORVANE_SAMPLE_DIR "/config", config, fs::copy_options::recursive);
        fs::copy(KORVANE_SAMPLE_DIR "/spool", spool, fs::copy_options::recursive);
        for (const char* name : {"smtpd.cfg", "pop3d.cfg", "imap4d.cfg", "mdad.cfg"}) {
            std::string text = ReadBytes(config + "/" + name);
            for (std::size_t at; (at = text.find("/var/spool/korvane/")) != std::string::npos;)
                text.replace(at, 19, dir.path() + platform::kPathSeparator);
            WriteBytes(config + "/" + name, text);
        }
        for (const char* folder : {"queue", "outgoing", "error", "filtered"})
            fs::create_directory(dir / folder);
        testutil::SetReadableByAll(config + "/smarthosts", false);
        platform::SetEnvironment("KORVANE_SERVICE_DIR", services.path());
        platform::SetEnvironment("KORVANE_CERT_DIR", KORVANE_SAMPLE_DIR "/certs");
        for (const char* name : kNineFiles)
            before[name] = ReadBytes(config + "/" + name);
    }
    void TearDown() override { testutil::StopStandins(services.path()); }
    Result Run(std::vector<std::string> arguments, const std::string& input = "") {
        arguments.insert(arguments.begin(), "--config-dir=" + config);
        std::ostringstream out, err;
        std::istringstream in(input);
        const int status = ctl::Run(arguments, {out, err, in});
        return {status, out.str(), err.str()};
    }
    // Every file of the set as it was, and no backup made.
    void ExpectNothingWritten() {
        for (const char* name : kNineFiles)
            EXPECT_EQ(ReadBytes(config + "/" + name), before[name]) << name;
        EXPECT_FALSE(fs::exists(config + "/backup.cfg"));
    }
    std::size_t Restarts(const std::string& service) const {
        return testutil::StandinRestarts(services.path(), service);
    }

    testutil::TempDir dir;
    testutil::TempDir services;
    std::string config = dir / "config";
    std::string spool = dir / "spool";
    std::map<std::string, std::string> before;
};

TEST_F(Ctl, WrongUsageEndsWithTwoAndHelpWithZero) {
    for (const std::vector<std::string>& call :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"domain", "rename", "a"},
          {"domain", "add"},
          {"domain", "add", "a.test", "b.test"},
          {"domain", "list", "--verbose"},
          {"account", "add", "a@example.test", "--password-file"}}) {
        const Result result = Run(call);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(call);
        EXPECT_NE(result.err.find("Fehler: "), std::string::npos);
    }
    EXPECT_EQ(Run({"--help"}).status, 0);
    const Result help = Run({"account", "add", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--password-file"), std::string::npos);
    EXPECT_EQ(Run({"domain", "list"}, "").status, 0);
    ExpectNothingWritten();
    // The installed program ends the same way.
    EXPECT_EQ(platform::RunAndWait(KORVANE_CTL, {"frobnicate"}), 2);
}

TEST_F(Ctl, OptionsTakeTheFormsOfGnuPrograms) {
    WriteBytes(dir / "password", "geheim\n");
    // A value after "=" or as the next word, an option before or after the command words.
    ASSERT_EQ(Run({"account", "add", "max@example.test", "--password-file", dir / "password",
                   "--no-restart"})
                  .status,
              0);
    ASSERT_EQ(Run({"--no-restart", "--password-file=" + (dir / "password"), "account", "add",
                   "eva@example.test"})
                  .status,
              0);
    const Result listed = Run({"account", "list", "-c", config, "example.test", "--format", "json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const auto accounts = nlohmann::json::parse(listed.out);
    std::vector<std::string> addresses;
    for (const auto& row : accounts)
        addresses.push_back(row.at("address"));
    EXPECT_THAT(addresses, testing::IsSupersetOf({"max@example.test", "eva@example.test"}));
    // After "--" everything is an argument, also what begins with a dash.
    EXPECT_EQ(Run({"-n", "set", "smtpd.cfg", "Own.Key", "--force", "--", "-5"}).status, 0);
    // A word that names another command is an argument once the command is chosen.
    const Result named = Run({"account", "list", "check"});
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.err.find("Die Domain \"check\" ist nicht vorhanden"), std::string::npos);
    EXPECT_THAT(Run({"help", "alias", "add"}).out, testing::StartsWith("Aufruf: korvanectl alias add"));
    const Result operand = Run({"set", "smtpd.cfg", "MaxThreads", "--", "12", "--no-restart"});
    EXPECT_EQ(operand.status, 2); // "--no-restart" after "--" is a fourth argument
    EXPECT_NE(operand.err.find("Zu viele Argumente"), std::string::npos);

    // Mistakes get a German message, a suggestion where one is close, and status 2.
    const struct {
        std::vector<std::string> call;
        const char* message;
    } mistakes[] = {
        {{"acount", "list"}, "Unbekannter Befehl \"acount\". Meinten Sie \"account\"?"},
        {{"alias", "chnage", "a@example.test", "b@example.test"},
         "Meinten Sie \"alias change\"?"},
        {{"account", "add", "x@example.test", "--pasword-file=F"},
         "Unbekannte Option \"--pasword-file\". Meinten Sie \"--password-file\"?"},
        {{"check", "--format"}, "Die Option \"--format\" braucht einen Wert"},
        {{"domain", "list", "--replace"}, "Die Option \"--replace\" gibt es für \"domain list\" nicht."},
    };
    for (const auto& mistake : mistakes) {
        const Result result = Run(mistake.call);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(mistake.call);
        EXPECT_NE(result.err.find(mistake.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(Run({"-h"}).out.substr(0, 8), "Aufruf: ");
    EXPECT_NE(Run({"alias", "change", "--help"}).out.find("Beispiel:\n  korvanectl alias change"),
              std::string::npos);
    EXPECT_THAT(Run({"--version"}).out, testing::StartsWith("korvanectl (Korvane MailServer 4.0) "));
}

TEST_F(Ctl, ListsAndTheTraceSpeakJson) {
    const auto json = [&](std::vector<std::string> call) {
        call.push_back("--format=json");
        const Result result = Run(call);
        EXPECT_LE(result.status, 1) << result.err;
        return nlohmann::json::parse(result.out);
    };
    EXPECT_EQ(json({"domain", "list"}).at(0), (nlohmann::json{{"domain", "example.test"},
                                                              {"kind", "local"}}));
    EXPECT_EQ(json({"domain", "list"}).back().at("kind"), "backup-mx");
    EXPECT_EQ(json({"alias", "list", "example.test"}).at(0).size(), 2u); // address, target
    const auto trace = json({"trace", "info@example.test"});
    EXPECT_EQ(trace.at("end"), "account");
    EXPECT_FALSE(trace.at("steps").empty());
    EXPECT_TRUE(trace.at("steps").at(0).contains("decidedBy"));
}

TEST_F(Ctl, AliasChangeLeadsOnlyAForwardElsewhere) {
    ASSERT_EQ(Run({"alias", "add", "chef@example.test", "info@example.test", "--no-restart"}).status, 0);
    const Result changed =
        Run({"alias", "change", "chef@example.test", "x@elsewhere.test", "--no-restart"});
    ASSERT_EQ(changed.status, 0) << changed.err;
    // A change on disk says so in one line.
    EXPECT_EQ(changed.out, "Weiterleitung \"chef@example.test\" führt jetzt an "
                           "\"x@elsewhere.test\".\n");
    EXPECT_NE(Run({"alias", "list", "example.test"}).out.find("chef@example.test\tx@elsewhere.test"),
              std::string::npos);
    const std::string aliases = ReadBytes(config + "/aliases");
    EXPECT_EQ(Run({"alias", "change", "info@example.test", "x@elsewhere.test"}).status, 1);
    EXPECT_EQ(Run({"alias", "change", "nobody@example.test", "x@elsewhere.test"}).status, 1);
    EXPECT_EQ(ReadBytes(config + "/aliases"), aliases);
}

TEST_F(Ctl, ReadingCommandsPrintAndWriteNothing) {
    EXPECT_EQ(Run({"domain", "list"}).out,
              "example.test\tlokal\nbeispiel.test\tlokal\npartner.test\tBackup-MX\n");
    EXPECT_EQ(Run({"account", "list", "Example.Test"}).out,
              "info@example.test\tinfo.example.test\n"
              "postmaster@example.test\tpostmaster.example.test\n");
    EXPECT_EQ(Run({"alias", "list", "example.test"}).out,
              "vertrieb@example.test\tanna@beispiel.test\n");
    EXPECT_EQ(Run({"get", "smtpd.cfg", "Interface"}).out, "*:25,*:465s\n");
    const Result missing = Run({"get", "smtpd.cfg", "NoSuchKey"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(Run({"get", "aliases", "x"}).status, 1); // aliases have their own command
    EXPECT_EQ(Run({"account", "list", "nowhere.test"}).status, 1);
    ExpectNothingWritten();
}

TEST_F(Ctl, ChangesAreSavedLikeOkAndTheRunningServicesRestart) {
    KORVANE_POSIX_ONLY("the running service is a stand-in in a supervisor folder");
    ASSERT_EQ(platform::RunAndWait(KORVANE_STANDIN, {services.path(), "SMTPd"}), 0);
    const Result added = Run({"domain", "add", "neu.test"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(ReadBytes(config + "/domains"), before["domains"] + "neu.test\r\n");
    std::size_t backups = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(config + "/backup.cfg"))
        ++backups;
    EXPECT_EQ(backups, 9u);
    for (int i = 0; i < 100 && Restarts("SMTPd") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Restarts("SMTPd"), 1u);

    // An account with its password from standard input and one from a file.
    ASSERT_EQ(Run({"--no-restart", "account", "add", "max@neu.test"}, "geheim\n").status, 0);
    WriteBytes(dir / "password", "auch geheim\r\n");
    ASSERT_EQ(Run({"account", "add", "eva@neu.test", "--no-restart",
                   "--password-file=" + (dir / "password")})
                  .status,
              0);
    EXPECT_TRUE(fs::is_directory(spool + "/max.neu.test"));
    EXPECT_TRUE(fs::is_directory(spool + "/eva.neu.test"));
    ASSERT_EQ(Run({"alias", "add", "chef@neu.test", "max@neu.test", "--no-restart"}).status, 0);
    EXPECT_EQ(Run({"alias", "list", "neu.test"}).out, "chef@neu.test\tmax@neu.test\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Restarts("SMTPd"), 1u); // --no-restart asked nobody

    // Each command removes only what it is for.
    EXPECT_EQ(Run({"account", "remove", "chef@neu.test"}).status, 1);
    EXPECT_EQ(Run({"alias", "remove", "max@neu.test"}).status, 1);
    EXPECT_EQ(Run({"alias", "remove", "chef@neu.test", "--no-restart", "--yes"}).status, 0);
    EXPECT_EQ(Run({"account", "remove", "max@neu.test", "--no-restart", "--yes"}).status, 0);
    EXPECT_FALSE(fs::exists(spool + "/max.neu.test"));
    EXPECT_EQ(Run({"domain", "remove", "neu.test", "--no-restart", "--yes"}).status, 0);
    EXPECT_EQ(Run({"domain", "list"}).out.find("neu.test"), std::string::npos);
}

TEST_F(Ctl, SetKeepsToTheRangesAndCopiesOfThePages) {
    const auto set = [&](const std::string& file, const std::string& key,
                         const std::string& value) {
        return Run({"--no-restart", "set", file, key, value}).status;
    };
    EXPECT_EQ(set("smtpd.cfg", "MaxThreads", "12"), 0);
    EXPECT_EQ(Run({"get", "smtpd.cfg", "MaxThreads"}).out, "12\n");
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"MaxThreads", "101"},
                                                          {"MaxThreads", "12a"},
                                                          {"Vrfy.Enable", "2"},
                                                          {"EnableVerify", "1"},
                                                          {"A:B", "1"},
                                                          {"Note", "two\nlines"}})
        EXPECT_EQ(set("smtpd.cfg", key, value), 1) << key << "=" << value;
    EXPECT_EQ(set("aliases", "x", "y"), 1);
    EXPECT_EQ(set("smarthosts", "bad domain", "x:25"), 1);
    // The delivery page and its advanced dialog own their keys too.
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"AutoTransRetry", "5"}, {"AutoTransport", "2"}, {"AsyncScripts", "1"},
             {"SRS.Domain", "fremd.test"}})
        EXPECT_EQ(set("mdad.cfg", key, value), 1) << key << "=" << value;
    EXPECT_EQ(set("mdad.cfg", "AutoTransRetry", "30"), 0);

    // A folder goes into each copy; one that would clash with another is refused.
    fs::create_directory(dir / "spool2");
    ASSERT_EQ(set("mdad.cfg", "spooldir", dir / "spool2"), 0);
    for (const char* file : {"smtpd.cfg", "pop3d.cfg", "imap4d.cfg", "mdad.cfg"})
        EXPECT_EQ(Run({"get", file, "SpoolDir"}).out, dir / "spool2" + "\n") << file;
    EXPECT_EQ(set("mdad.cfg", "QueueDir", dir / "spool2"), 1);
    // A relative folder would be looked for in each service's working directory.
    const Result relative = Run({"--no-restart", "set", "mdad.cfg", "SpoolDir", "spool3"});
    EXPECT_EQ(relative.status, 1);
    EXPECT_NE(relative.err.find("kein vollständiger Pfad"), std::string::npos) << relative.err;
    EXPECT_EQ(Run({"get", "pop3d.cfg", "SpoolDir"}).out, dir / "spool2" + "\n");

    EXPECT_EQ(set("smarthosts", "neu.test", "smtp.neu.test:2525"), 0);
    // A key no page shows only with --force; the window's own rules hold on the line too.
    EXPECT_EQ(set("smtpd.cfg", "Own.Key", "frei"), 1);
    EXPECT_EQ(Run({"--no-restart", "set", "smtpd.cfg", "Own.Key", "frei", "--force"}).status, 0);
    EXPECT_EQ(set("smtpd.cfg", "Own.Key", ""), 0);
    EXPECT_EQ(set("smtpd.cfg", "Interface", "*:99999"), 1);
    EXPECT_EQ(set("smtpd.cfg", "MaxThreads", " 12"), 1);
    EXPECT_EQ(Run({"get", "smtpd.cfg", "Own.Key"}).status, 1);
}

TEST_F(Ctl, ExportAndImportGoThroughThePagesChecks) {
    EXPECT_EQ(Run({"export", "accounts"}).out,
              "address,quota_mb,maxsize_kb,save_envelope\r\ninfo@example.test,500,0,0\r\n"
              "postmaster@example.test,0,0,1\r\nanna@beispiel.test,1000,20480,0\r\n");
    ASSERT_EQ(Run({"--no-restart", "export", "aliases", "--output=" + (dir / "out.csv")}).status,
              0);
    EXPECT_EQ(ReadBytes(dir / "out.csv"), "alias,target\r\nvertrieb@example.test,"
                                          "anna@beispiel.test\r\n*@beispiel.test,"
                                          "anna.beispiel.test\r\npostmaster,"
                                          "postmaster.example.test\r\n");

    // UTF-8 with its mark and a semicolon, as a spreadsheet writes it.
    const std::string rows = "\xef\xbb\xbf"
                             "address;password;quota_mb\r\n"
                             "Neu@example.test;geheim;100\r\n"         // line 2: created
                             "bad@nowhere.test;x;\r\n"                 // 3: no such domain
                             "info@example.test;;50\r\n"               // 4: changed, same password
                             "eva@example.test;;\r\n"                  // 5: no password
                             "info@example.test;;60\r\n"               // 6: twice
                             "kurz@example.test;x;1;2\r\n"             // 7: a cell too many
                             "M\xc3\xbcller@example.test;geheim;\r\n"; // 8: no umlauts here
    WriteBytes(dir / "accounts.csv", rows);
    const Result dry = Run({"import", "accounts", dir / "accounts.csv", "--dry-run"});
    EXPECT_EQ(dry.status, 1);
    EXPECT_NE(dry.out.find("1 würde angelegt, 1 würde geändert, 5 abgelehnt"), std::string::npos)
        << dry.out;
    for (const char* line : {"Zeile 3:", "Zeile 5:", "Zeile 6:", "Zeile 7", "Zeile 8: M\xc3\xbc"})
        EXPECT_NE(dry.out.find(line), std::string::npos) << line << dry.out;
    EXPECT_EQ(Run({"import", "accounts", dir / "accounts.csv", "--all-or-nothing"}).status, 1);
    ExpectNothingWritten();
    EXPECT_FALSE(fs::exists(spool + "/neu.example.test"));

    const Result done = Run({"--no-restart", "import", "accounts", dir / "accounts.csv"});
    EXPECT_EQ(done.status, 1); // the refused rows; the others are saved
    EXPECT_TRUE(fs::is_directory(spool + "/neu.example.test"));
    EXPECT_NE(Run({"export", "accounts"}).out.find("info@example.test,50,"), std::string::npos);
    EXPECT_EQ(Run({"trace", "neu@example.test"}).status, 0);

    const auto change = [&](std::vector<std::string> call, const std::string& input = "") {
        call.insert(call.begin(), {"--no-restart", "account", "change"});
        return Run(call, input).status;
    };
    EXPECT_EQ(change({"info@example.test", "--quota-mb=7", "--save-envelope=1"}), 0);
    EXPECT_NE(Run({"export", "accounts"}).out.find("info@example.test,7,0,1"), std::string::npos);
    EXPECT_EQ(change({"info@example.test", "--password-stdin"}, "neu\n"), 0);
    EXPECT_EQ(change({"info@example.test", "--quota-mb=viel"}), 1);
    EXPECT_EQ(change({"vertrieb@example.test", "--quota-mb=1"}), 1); // a forward, no account

    WriteBytes(dir / "wrong.csv", "alias,ziel\r\nx@example.test,y@example.test\r\n");
    const Result wrong = Run({"import", "aliases", dir / "wrong.csv"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("Zeile 1"), std::string::npos) << wrong.err;
    WriteBytes(dir / "aliases.csv", "alias,target\r\nchef@example.test,info@example.test\r\n");
    EXPECT_EQ(Run({"--no-restart", "import", "aliases", dir / "aliases.csv"}).status, 0);
    EXPECT_NE(Run({"alias", "list", "example.test"}).out.find("chef@example.test"),
              std::string::npos);
}

// Without the spool the commands that need the accounts fail, the others work, and "aliases"
// stays as it is on disk.
TEST_F(Ctl, AMissingSpoolStopsOnlyWhatNeedsTheAccounts) {
    fs::rename(spool, dir / "moved");
    const Result check = Run({"check"});
    EXPECT_NE(check.status, 0);
    EXPECT_NE(check.out.find("spool"), std::string::npos) << check.out << check.err;
    const Result account = Run({"--no-restart", "account", "add", "neu@example.test"}, "geheim\n");
    EXPECT_EQ(account.status, 1);
    EXPECT_NE(account.err.find("nicht vorhanden"), std::string::npos) << account.err;
    EXPECT_EQ(Run({"--no-restart", "alias", "add", "neu@example.test", "a@b.test"}).status, 1);
    EXPECT_EQ(Run({"account", "list", "example.test"}).status, 1);
    const Result domain = Run({"--no-restart", "domain", "add", "neu.test"});
    EXPECT_EQ(domain.status, 0) << domain.err;
    EXPECT_EQ(ReadBytes(config + "/aliases"), before["aliases"]);
}

// An address that leads somewhere already is led elsewhere only on --replace; an import, a
// deliberate bulk change, replaces and reports the row as changed.
TEST_F(Ctl, AnAliasReplacesAnAddressOnlyWhenToldTo) {
    const Result refused = Run({"alias", "add", "info@example.test", "x@elsewhere.test"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("\"info.example.test\""), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--replace"), std::string::npos) << refused.err;
    ExpectNothingWritten();

    ASSERT_EQ(Run({"--no-restart", "alias", "add", "vertrieb@example.test", "x@elsewhere.test",
                   "--replace"})
                  .status,
              0);
    EXPECT_NE(ReadBytes(config + "/aliases").find("vertrieb@example.test:\tx@elsewhere.test"),
              std::string::npos);
    // The same target again changes nothing and needs nothing.
    EXPECT_EQ(
        Run({"--no-restart", "alias", "add", "vertrieb@example.test", "x@elsewhere.test"}).status,
        0);

    WriteBytes(dir / "aliases.csv", "alias,target\r\nvertrieb@example.test,y@elsewhere.test\r\n");
    const Result imported = Run({"--no-restart", "import", "aliases", dir / "aliases.csv"});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.out.find("0 angelegt, 1 geändert"), std::string::npos) << imported.out;
}

// Another program's save holds the directory: reading goes on beside a reader, a change waits
// and gives up without writing anything, account folders included.
TEST_F(Ctl, AChangeWaitsForAnotherProgramsSave) {
    platform::DirectoryLock other;
    ASSERT_TRUE(
        other.Acquire(config, platform::DirectoryLock::Mode::Shared, std::chrono::milliseconds(0)));
    EXPECT_EQ(Run({"domain", "list"}).status, 0);
    const Result waited = Run({"--wait=0", "domain", "add", "neu.test"});
    EXPECT_EQ(waited.status, 1);
    EXPECT_NE(waited.err.find("gibt sie nicht frei"), std::string::npos) << waited.err;
    // The account's folder would be written before the save: the lock is asked for first.
    EXPECT_EQ(Run({"--wait=0", "account", "add", "neu@example.test"}, "geheim\n").status, 1);
    EXPECT_FALSE(fs::exists(spool + "/neu.example.test"));
    ExpectNothingWritten();
    other.Release();
    EXPECT_EQ(Run({"--wait=0", "--no-restart", "domain", "add", "neu.test"}).status, 0);
    EXPECT_EQ(Run({"--wait=soon", "domain", "list"}).status, 2);
}

TEST_F(Ctl, RefusedChangesWriteNothing) {
    for (const std::vector<std::string>& call :
         {std::vector<std::string>{"domain", "add", "example.test"},
          {"domain", "add", "bad domain"},
          {"domain", "remove", "nowhere.test"},
          {"alias", "add", "x@example.test", "no target"},
          {"alias", "add", "x@nowhere.test", "a@b.test"},
          {"account", "add", "bob@example.test"}, // no password on standard input
          {"domain", "add", "caf\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\xa7.test"}}) {
        const Result result = Run(call);
        EXPECT_EQ(result.status, 1) << testing::PrintToString(call) << result.err;
        EXPECT_NE(result.err.find("Fehler: "), std::string::npos) << result.err;
    }
    ExpectNothingWritten();
    EXPECT_FALSE(fs::exists(spool + "/bob.example.test"));
}

// Each finding once: the sample is clean, one edit brings the finding, and undoing it takes it
// away again.
TEST_F(Ctl, CheckFindsEachFaultAndNothingOnTheSample) {
    const auto check = [&](const std::string& host = "example.test") {
        return Run({"check", "--format=json", "--host-name=" + host});
    };
    const Result clean = check();
    ASSERT_EQ(clean.status, 0) << clean.out;
    EXPECT_EQ(nlohmann::json::parse(clean.out),
              nlohmann::json::parse(R"({"status":"ok","critical":0,"warnings":0,"findings":[]})"));
    EXPECT_EQ(Run({"check", "--host-name=example.test"}).out.substr(0, 13), "KORVANE OK - ");

    struct Fault {
        const char* code;
        const char* file;
        std::string added; // lines appended to the file
        int status;
    };
    const std::string ghost = "ghost@example.test:\tghost.example.test\r\n";
    // The delivery times in a cron file of the test's own; the sample has none.
    const std::string cron = config + "/korvane-delivery";
    platform::SetEnvironment("KORVANE_CRON_FILE", cron);
    const std::string script = config + platform::kPathSeparator + platform::kSendmailScriptName;
    const std::string job = "30 6 * * * root '" + script + "' # korvane-delivery job 3\n";
    // An answer switched on whose template the dialog reads as empty: no name, or an empty file.
    const std::string reply = "../spool/info.example.test/config";
    WriteBytes(spool + "/anna.beispiel.test/leer.emt", "From: <anna@beispiel.test>\r\n\r\n\r\n");
    const Fault faults[] = {
        {"open-relay", "access.relay", "0.0.0.0/0.0.0.0\r\n", 2},
        {"relay-public-network", "access.relay", "8.8.8.0/255.255.255.0\r\n", 1},
        {"relay-entry-unreadable", "access.relay", "somewhere\r\n", 1},
        {"vrfy-enabled", "smtpd.cfg", "Vrfy.Enable:\t1\r\n", 1},
        {"certificate-missing", "pop3d.cfg", "Certificate:\tnowhere\r\n", 2},
        {"port-clash", "pop3d.cfg", "Interface:\t*:25\r\n", 2},
        {"port-clash", "imap4d.cfg", "Interface:\t*:143,127.0.0.1:143\r\n", 2},
        {"folder-clash", "mdad.cfg", "OutgoingDir:\t" + spool + "\r\n", 2},
        {"folder-missing", "mdad.cfg", "ErrorDir:\t" + (dir / "nowhere") + "\r\n", 1},
        {"domain-twice", "backupdomains", "example.test\r\n", 1},
        {"alias-without-account", "aliases", ghost, 1},
        {"alias-loop", "aliases",
         "a@example.test:\tb@example.test\r\nb@example.test:\t"
         "a@example.test\r\n",
         2},
        {"manual-delivery-without-script", "mdad.cfg", "AutoTransport:\t0\r\n", 2},
        {"srs-domain-not-local", "smtpd.cfg", "SRS.Domain:\tfremd.test\r\n", 1},
        {"list-file-shared", "pop3d.cfg", "AccessDenyFile:\tpop3.allow\r\n", 2},
        {"list-file-shared", "smtpd.cfg", "DenyConnectFile:\t./domains\r\n", 2},
        {"certificate-expired", "pop3d.cfg", "Certificate:\talt.example.test\r\n", 2},
        {"certificate-expiring", "pop3d.cfg", "Certificate:\tbald.example.test\r\n", 1},
        {"alias-target-unknown", "aliases", "fw@example.test:\tniemand@example.test\r\n", 1},
        {"port-clash", "smtpd.cfg", "Interface:\t*:25,*:25\r\n", 2},
        {"port-out-of-range", "pop3d.cfg", "Interface:\t*:110,*:99999s\r\n", 2},
        {"port-out-of-range", "syslogd.cfg", "Port:\t70000\r\n", 2},
        {"delivery-time-script-missing", "korvane-delivery", job, 1},
        {"smarthost-login-incomplete", "smarthosts", "fremd.test:\tkunde:@smtp.fremd.test:587\r\n",
         2},
        {"smarthost-login-incomplete", "smarthosts", "<example.test:\t:geheim@smtp.test:587\r\n",
         2},
        {"auto-reply-empty", reply.c_str(), "RunReply:\t1\r\n", 1},
        {"auto-reply-empty", "../spool/anna.beispiel.test/config",
         "RunReply:\t1\r\nRunReplyTemplate:\tleer.emt\r\n", 1},
        {"transport-rule-unreachable", "smarthosts", "Partner.Test:\tanderer.test:25\r\n", 1},
        {"transport-rule-unreachable", "smarthosts", "<*:\tanderer.test:25\r\n", 1},
        {"transport-rule-local-domain", "smarthosts", "example.test:\tanderer.test:25\r\n", 1},
    };
    // The store in a folder of the test's own, with one certificate that ran out and one that
    // is about to.
    fs::create_directory(dir / "certs");
    for (const auto& entry : fs::directory_iterator(KORVANE_SAMPLE_DIR "/certs"))
        fs::copy_file(entry.path(), dir / ("certs/" + entry.path().filename().string()));
    WriteBytes(dir / "certs/old.pem", testcert::Pem({{"CN", "alt.example.test"}}, -400, -1));
    WriteBytes(dir / "certs/soon.pem", testcert::Pem({{"CN", "bald.example.test"}}, -10, 5));
    platform::SetEnvironment("KORVANE_CERT_DIR", dir / "certs");
    for (const Fault& fault : faults) {
        // Windows keeps the delivery times in its task scheduler, not in a cron file.
        if (testutil::kWindows && std::string_view(fault.file) == "korvane-delivery")
            continue;
        const std::string path = config + "/" + fault.file;
        const std::string original = fs::exists(path) ? ReadBytes(path) : std::string();
        WriteBytes(path, original + fault.added);
        const Result found = check();
        EXPECT_EQ(found.status, fault.status) << fault.code << found.out;
        EXPECT_NE(found.out.find(std::string("\"code\":\"") + fault.code + "\""), std::string::npos)
            << found.out;
        WriteBytes(path, original);
    }
    // A renewed certificate beside the one that ran out is the one that counts.
    WriteBytes(dir / "certs/new.pem", testcert::Pem({{"CN", "alt.example.test"}}, 0, 300));
    WriteBytes(config + "/pop3d.cfg",
               ReadBytes(config + "/pop3d.cfg") + "Certificate:\talt.example.test\r\n");
    EXPECT_EQ(check().status, 0) << check().out;
    // A template with a subject, a rule behind "*" and a script that can run are no findings;
    // a script without the execute bits is, and in manual mode it is critical.
    WriteBytes(spool + "/anna.beispiel.test/config",
               ReadBytes(spool + "/anna.beispiel.test/config") +
                   "RunReply:\t1\r\nRunReplyTemplate:\tantwort.emt\r\n");
    WriteBytes(spool + "/anna.beispiel.test/antwort.emt", "Subject: Urlaub\r\n\r\n");
    WriteBytes(config + "/smarthosts",
               ReadBytes(config + "/smarthosts") + "neu.test:\tn.test:25\r\n");
    WriteBytes(cron, job);
    WriteBytes(script, "#!/bin/sh\n");
    fs::permissions(script, fs::perms::owner_all);
    EXPECT_EQ(check().status, 0) << check().out;
    if (testutil::kFilesHaveModes) { // Windows runs a script without an execute bit
        fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);
        WriteBytes(config + "/mdad.cfg", ReadBytes(config + "/mdad.cfg") + "AutoTransport:\t0\r\n");
        const Result manual = check();
        EXPECT_EQ(manual.status, 2) << manual.out;
        EXPECT_NE(manual.out.find("\"code\":\"delivery-time-script-not-executable\",\"file\":"
                                  "\"mdad.cfg\",\"key\":\"3 - 06:30\""),
                  std::string::npos)
            << manual.out;
        WriteBytes(config + "/mdad.cfg", before["mdad.cfg"]);
    }
    fs::remove(cron);
    platform::SetEnvironment("KORVANE_CRON_FILE", "");
    EXPECT_NE(check("vm").out.find("host-name-incomplete"), std::string::npos);
    EXPECT_NE(check("other.test").out.find("host-not-local"), std::string::npos);
    testutil::SetReadableByAll(config + "/smarthosts", true);
    EXPECT_NE(check().out.find("smarthosts-readable"), std::string::npos);
    testutil::SetReadableByAll(config + "/smarthosts", false);
    fs::rename(config + "/pop3d.cfg", dir / "pop3d.cfg");
    fs::create_directory(config + "/pop3d.cfg");
    EXPECT_NE(check().out.find("load-failed"), std::string::npos);
    fs::remove(config + "/pop3d.cfg");
    fs::rename(dir / "pop3d.cfg", config + "/pop3d.cfg");
    EXPECT_EQ(check().status, 0);
}

TEST_F(Ctl, TraceNamesTheEntryThatDecidesEachStep) {
    WriteBytes(config + "/aliases",
               ReadBytes(config + "/aliases") +
                   "extern@beispiel.test:\tbob@fremd.test\r\n"
                   "a@example.test:\tb@example.test\r\nb@example.test:\ta@example.test\r\n");
    struct Case {
        const char* address;
        int status;
        std::vector<std::string> shown; // in this order
    };
    const Case cases[] = {
        {"Info@Example.Test", 0, {"(aliases: info@example.test)", "Postfach des Kontos"}},
        {"vertrieb@example.test",
         0,
         {"leitet weiter an \"anna@beispiel.test\"", "(aliases: anna@beispiel.test)"}},
        {"wer@beispiel.test", 0, {"Sammeladresse (Catch-all) \"*@beispiel.test\""}},
        {"postmaster", 0, {"(aliases: postmaster)", "\"postmaster.example.test\""}},
        {"x@partner.test", 0, {"Backup-MX", "(smarthosts: partner.test)"}},
        {"bob@fremd.test", 0, {"keine lokale Domain", "\"relay.provider.test\", Port 25"}},
        // Sent on for a local sender: the rule of the sender's domain, never its password.
        {"extern@beispiel.test",
         0,
         {"\"bob@fremd.test\"", "angemeldet als \"beispiel-versand\"",
          "(smarthosts: <beispiel.test)"}},
        {"nobody@example.test", 1, {"wird abgewiesen"}},
        {"a@example.test", 1, {"Schleife"}},
    };
    for (const Case& c : cases) {
        const Result result = Run({"trace", c.address});
        EXPECT_EQ(result.status, c.status) << c.address << result.out << result.err;
        std::size_t from = 0;
        for (const std::string& text : c.shown) {
            from = result.out.find(text, from);
            EXPECT_NE(from, std::string::npos) << c.address << ": " << text << "\n" << result.out;
        }
        EXPECT_EQ(result.out.find("Sommer2024"), std::string::npos);
    }
    for (const char* bad : {"", "a b@example.test", "@example.test", "a@b@example.test", "a@"})
        EXPECT_EQ(Run({"trace", bad}).status, 1) << bad;
}

} // namespace

// --- Faults: nothing lost, nothing injected, a status that tells the truth ----------------------

namespace {

// The entries of an "aliases" text: lines that are neither empty nor comments.
std::size_t AliasLines(const std::string& text) {
    std::size_t count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        count += !line.empty() && line != "\r" && line[0] != '#' ? 1 : 0;
    return count;
}

} // namespace

TEST_F(Ctl, AFailedSaveLeavesTheMailboxAndSaysWhy) {
    // The set on a small file system of its own, filled up after the copy: every save fails.
    const std::string small = dir / "small";
    testutil::ScratchMount mount(small, "size=256k");
    if (!mount.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    for (const auto& entry : fs::directory_iterator(config))
        fs::copy(entry.path(), small + "/" + entry.path().filename().string());
    config = small;
    fs::create_directory(config + "/backup.cfg");
    {
        std::ofstream filler(config + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()))
            ;
    }
    WriteBytes(spool + "/info.example.test/1.eml", "Post");
    const Result removed = Run({"account", "remove", "info@example.test", "--yes", "--no-restart"});
    EXPECT_EQ(removed.status, 1);
    EXPECT_NE(removed.err.find("Der Datenträger ist voll."), std::string::npos) << removed.err;
    EXPECT_EQ(ReadBytes(spool + "/info.example.test/1.eml"), "Post");
    for (const auto& entry : fs::directory_iterator(spool))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    EXPECT_EQ(Run({"set", "smtpd.cfg", "MaxThreads", "12", "--no-restart"}).status, 1);

    // A folder that cannot take the backups: nothing is saved, the mailbox stays.
    fs::remove(config + "/filler");
    ASSERT_TRUE(mount.MakeReadOnly());
    const Result readOnly = Run({"account", "remove", "info@example.test", "--yes", "--no-restart"});
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_NE(readOnly.err.find("Sicherungskopien"), std::string::npos) << readOnly.err;
    EXPECT_EQ(ReadBytes(spool + "/info.example.test/1.eml"), "Post");
}

TEST_F(Ctl, TheStatusSaysWhetherTheChangeIsOnDisk) {
    // A file of the set replaced by a folder is left alone and named; the change itself is
    // saved, which a script tells from a failure by the status 3.
    fs::remove(config + "/smarthosts");
    fs::create_directory(config + "/smarthosts");
    const Result set = Run({"set", "smtpd.cfg", "MaxThreads", "12", "--no-restart"});
    EXPECT_EQ(set.status, 3) << set.err;
    EXPECT_NE(set.err.find("Verzeichnis"), std::string::npos) << set.err;
    EXPECT_EQ(Run({"get", "smtpd.cfg", "MaxThreads"}).out, "12\n");
}

TEST_F(Ctl, ADomainsListThatCannotTellKeepsEveryAlias) {
    const std::size_t entries = AliasLines(before["aliases"]);
    ASSERT_GT(entries, 5u);
    // Missing, empty, a folder: none of them is a reason to drop the addresses.
    fs::remove(config + "/domains");
    EXPECT_EQ(Run({"set", "smtpd.cfg", "MaxThreads", "12", "--no-restart"}).status, 0);
    EXPECT_EQ(AliasLines(ReadBytes(config + "/aliases")), entries);
    WriteBytes(config + "/domains", "");
    EXPECT_EQ(Run({"set", "smtpd.cfg", "MaxThreads", "13", "--no-restart"}).status, 0);
    EXPECT_EQ(AliasLines(ReadBytes(config + "/aliases")), entries);
    fs::remove(config + "/domains");
    fs::create_directory(config + "/domains");
    const Result folder = Run({"set", "smtpd.cfg", "MaxThreads", "14", "--no-restart"});
    EXPECT_EQ(folder.status, 3);
    EXPECT_NE(folder.err.find("bleiben alle"), std::string::npos) << folder.err;
    EXPECT_EQ(AliasLines(ReadBytes(config + "/aliases")), entries);
}

TEST_F(Ctl, ValuesThatWouldBreakAFileOrWidenAnAddressAreRefused) {
    const auto refused = [&](std::vector<std::string> arguments, const std::string& input = "") {
        arguments.push_back("--no-restart");
        return Run(arguments, input).status == 1;
    };
    EXPECT_TRUE(refused({"alias", "add", "x@example.test",
                         "info@example.test\r\nevil@example.test:\tpostmaster.example.test"}));
    EXPECT_TRUE(refused({"alias", "add", "a:b@example.test", "info@example.test"}));
    EXPECT_TRUE(refused({"alias", "add", "y@example.test", std::string(10000, 'a') + "@x.test"}));
    EXPECT_TRUE(refused({"account", "add", "a*@example.test"}, "geheim\n"));
    EXPECT_TRUE(refused({"account", "add", "a:b@example.test"}, "geheim\n"));
    EXPECT_TRUE(refused({"account", "add", "x@"}, "geheim\n"));
    EXPECT_TRUE(refused({"account", "add", std::string(65, 'l') + "@example.test"}, "geheim\n"));
    EXPECT_TRUE(refused({"account", "add", "lang@example.test"}, std::string(100000, 'p') + "\n"));
    WriteBytes(dir / "a.csv", "alias,target\r\nz@example.test,\"info@example.test\r\nevil@example"
                              ".test:\tpostmaster.example.test\"\r\n");
    EXPECT_TRUE(refused({"import", "aliases", dir / "a.csv"}));
    WriteBytes(dir / "b.csv", "address,password\r\nx@,geheim\r\n");
    EXPECT_TRUE(refused({"import", "accounts", dir / "b.csv"}));
    ExpectNothingWritten();
    EXPECT_FALSE(fs::exists(spool + "/x"));
}

TEST_F(Ctl, DeletingIsConfirmedByYesOrOnATerminal) {
    const auto run = [&](const std::string& input, bool terminal) {
        std::ostringstream out, err;
        std::istringstream in(input);
        return ctl::Run({"--config-dir=" + config, "--no-restart", "alias", "remove",
                         "vertrieb@example.test"},
                        {out, err, in, terminal});
    };
    EXPECT_EQ(run("", false), 1);
    EXPECT_EQ(run("n\n", true), 1);
    EXPECT_EQ(Run({"domain", "remove", "example.test"}).status, 1);
    ExpectNothingWritten();
    EXPECT_EQ(run("j\n", true), 0);
    EXPECT_EQ(ReadBytes(config + "/aliases").find("vertrieb@"), std::string::npos);
}

TEST_F(Ctl, ARunStoppedHalfWayCanSimplyBeRunAgain) {
    // An import killed after making a folder and before saving its address, with temporary
    // files of a killed write in it.
    fs::create_directory(spool + "/neu.example.test");
    WriteBytes(spool + "/neu.example.test/password.tmp-Ab12Cd", "half");
    WriteBytes(spool + "/neu.example.test/1.eml", "Post");
    const Result check = Run({"check"});
    EXPECT_NE(check.out.find("neu.example.test"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("account add neu@example.test"), std::string::npos) << check.out;
    WriteBytes(dir / "a.csv", "address,password\r\nneu@example.test,geheim\r\n");
    const Result imported = Run({"import", "accounts", dir / "a.csv", "--no-restart"});
    EXPECT_EQ(imported.status, 0) << imported.out << imported.err;
    EXPECT_NE(ReadBytes(config + "/aliases").find("neu@example.test"), std::string::npos);
    EXPECT_EQ(ReadBytes(spool + "/neu.example.test/1.eml"), "Post");
    EXPECT_FALSE(fs::exists(spool + "/neu.example.test/password.tmp-Ab12Cd"));
    // The same for account add.
    fs::create_directory(spool + "/zwei.example.test");
    EXPECT_EQ(Run({"account", "add", "zwei@example.test", "--no-restart"}, "geheim\n").status, 0);
    EXPECT_NE(ReadBytes(config + "/aliases").find("zwei@example.test"), std::string::npos);
}

TEST_F(Ctl, ADryRunPrintsTheDiffAndWritesNothing) {
    const Result set = Run({"set", "smtpd.cfg", "MaxThreads", "12", "--dry-run"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("+++ smtpd.cfg (nach dem Speichern)\n"), std::string::npos);
    EXPECT_NE(set.out.find("-MaxThreads:\t\t8\n+MaxThreads:\t\t12\n"), std::string::npos) << set.out;
    EXPECT_NE(set.err.find("Probelauf"), std::string::npos);

    const Result add = Run({"account", "add", "neu@example.test", "--dry-run"}, "geheim\n");
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_NE(add.out.find("+neu@example.test:\tneu.example.test\n"), std::string::npos) << add.out;
    EXPECT_NE(add.out.find("Kontoordner würde angelegt: " + spool + platform::kPathSeparator +
                           "neu.example.test"),
              std::string::npos);
    // A deletion in a dry run needs no confirmation, and the mailbox stays where it is.
    const Result remove = Run({"account", "remove", "info@example.test", "--dry-run"});
    ASSERT_EQ(remove.status, 0) << remove.err;
    EXPECT_NE(remove.out.find("-info@example.test:"), std::string::npos);
    EXPECT_NE(remove.out.find("Kontoordner würde gelöscht"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(spool + "/info.example.test"));
    EXPECT_EQ(Run({"domain", "add", "neu.test", "--dry-run"}).out.find("+neu.test\n") !=
                  std::string::npos,
              true);

    // An import keeps its row report; --diff adds the files' differences.
    WriteBytes(dir / "aliases.csv", "alias,target\nchef@example.test,anna@beispiel.test\n");
    const Result import = Run({"import", "aliases", dir / "aliases.csv", "--dry-run"});
    ASSERT_EQ(import.status, 0) << import.err;
    EXPECT_NE(import.out.find("würde angelegt"), std::string::npos);
    EXPECT_EQ(import.out.find("+++"), std::string::npos);
    const Result diff = Run({"import", "aliases", dir / "aliases.csv", "--dry-run", "--diff"});
    EXPECT_NE(diff.out.find("+chef@example.test:\tanna@beispiel.test\n"), std::string::npos)
        << diff.out;
    EXPECT_EQ(Run({"get", "smtpd.cfg", "MaxThreads", "--dry-run"}).status, 2); // reads only
    ExpectNothingWritten();
    EXPECT_FALSE(fs::exists(spool + "/neu.example.test"));
}

TEST_F(Ctl, BackupRestoreBringsBackTheBytesOfAMoment) {
    EXPECT_EQ(Run({"backup", "list"}).status, 0); // no backups yet is no error
    ASSERT_EQ(Run({"domain", "add", "neu.test", "--no-restart"}).status, 0);
    ASSERT_EQ(Run({"set", "smtpd.cfg", "MaxThreads", "12", "--no-restart"}).status, 0);
    const auto listing = nlohmann::json::parse(Run({"backup", "list", "--format=json"}).out);
    // The oldest moment holds the files as they were before the first command.
    ASSERT_EQ(listing.at("moments").size(), 2u) << listing;
    const nlohmann::json& first = listing.at("moments").back();
    const std::string oldest = first.at("id");
    EXPECT_THAT(first.at("files"), testing::Contains(nlohmann::json{
                                       {"name", "smtpd.cfg"}, {"size", before["smtpd.cfg"].size()}}));
    const Result show = Run({"backup", "show", oldest, "domains"});
    EXPECT_NE(show.out.find("-neu.test\n"), std::string::npos) << show.out;

    const Result dry = Run({"backup", "restore", oldest, "--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("+MaxThreads:\t\t8\n"), std::string::npos);
    {
        // Another program saving: the restore waits for it, and gives up writing nothing.
        platform::DirectoryLock other;
        ASSERT_TRUE(other.Acquire(config, platform::DirectoryLock::Mode::Shared,
                                  std::chrono::milliseconds(0)));
        const std::string domains = ReadBytes(config + "/domains");
        EXPECT_EQ(Run({"--wait=0", "backup", "restore", oldest}).status, 1);
        EXPECT_EQ(ReadBytes(config + "/domains"), domains);
    }
    const Result restored = Run({"backup", "restore", oldest, "--no-restart"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    for (const char* name : kNineFiles)
        EXPECT_EQ(ReadBytes(config + "/" + name), before[name]) << name;
    // Its message names the moment that undoes it.
    const std::size_t undo = restored.out.find("backup restore ");
    ASSERT_NE(undo, std::string::npos) << restored.out;
    const std::string moment =
        restored.out.substr(undo + 15, restored.out.find('"', undo) - undo - 15);
    ASSERT_EQ(Run({"backup", "restore", moment, "--no-restart"}).status, 0);
    EXPECT_NE(ReadBytes(config + "/domains").find("neu.test"), std::string::npos);

    EXPECT_EQ(Run({"backup", "restore", "991231-235959"}).status, 1);
    EXPECT_EQ(Run({"backup", "prune"}).status, 1);
    const Result pruned = Run({"backup", "prune", "--keep=1"});
    ASSERT_EQ(pruned.status, 0) << pruned.err;
    EXPECT_NE(pruned.out.find("3 Sicherungen"), std::string::npos) << pruned.out;
    EXPECT_EQ(Run({"backup", "list", "--format=json"}).out.find("},{\"id\""), std::string::npos);
}
