// The delivery tab through the scripted user: the fields of both modes and what decides them,
// apply with its questions and the two scripts byte for byte, the delivery times against a
// real cron file in a temporary folder, the scheduler's service gate, and the two dialog
// buttons with stand-in dialogs. The scripts this system writes are run for real, with
// stand-ins for the suite's programs.
#include "pages/PageDelivery.h"

#include "app/Strings.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using P = CPageConfigMDA;

namespace {

// The scheduler's service, answered from a flag; a start may be accepted or refused.
class FlagServices : public platform::ServiceManager {
public:
    bool QueryStatus(const std::string& service, platform::ServiceStatus& status) override {
        if (service != P::kScheduleService)
            return false;
        status.state = running ? platform::ServiceState::Running : platform::ServiceState::Stopped;
        return true;
    }
    bool Start(const std::string&) override {
        ++starts;
        if (startWorks)
            running = true;
        return startWorks;
    }
    bool SendRestartRequest(const std::string&) override { return false; }

    bool running = true;
    bool startWorks = true;
    int starts = 0;
};

class StubDialog : public CDialogModel {
public:
    const char* Caption() const override { return "Stub"; }
    std::span<const CFieldSpec> Fields() const override { return {}; }
};

class PageDeliveryTest : public testing::Test {
protected:
    PageDeliveryTest() {
        fs::create_directories(ConfigDir());
        fs::create_directories(Outgoing());
        config.mdad.SetString("OutgoingDir", Outgoing());
    }
    ~PageDeliveryTest() override { user.VerifyAllMet(); }

    std::string ConfigDir() const { return dir / "config"; }
    std::string Outgoing() const { return dir / "outgoing"; }
    std::string Sendmail() const {
        return ConfigDir() + platform::kPathSeparator + platform::kSendmailScriptName;
    }
    std::string Newmail() const {
        return Outgoing() + platform::kPathSeparator + platform::kNewmailScriptName;
    }
    std::string CronFile() const { return dir / "cron"; }

    P& Page(P::DialogFactory rules = {}, P::DialogFactory advanced = {}) {
        if (!m_page) {
            P::Environment env{
                .scheduler = platform::CreateCronTaskScheduler(CronFile()),
                .services = services,
                .configDir = ConfigDir(),
                .sleepMs = [](unsigned) {},
            };
            m_page.emplace(config, std::move(rules), std::move(advanced), std::move(env));
            m_page->SetLockCancelHandler([this] { ++cancelLocks; });
        }
        return *m_page;
    }
    P& Manual() {
        Page().FieldChanged(P::kMode, "0");
        return *m_page;
    }
    std::string Key(const char* key) const { return config.mdad.GetString(key, "<none>"); }
    std::string Script(unsigned id) const { return testutil::Crlf(strings::Text(id)); }

    testutil::TempDir dir;
    CConfigSet config;
    CScriptedPrompter user;
    std::shared_ptr<FlagServices> services = std::make_shared<FlagServices>();
    int cancelLocks = 0;

private:
    std::optional<P> m_page;
};

// --- Fields and states ------------------------------------------------------------------------

TEST_F(PageDeliveryTest, AFileWithoutTheKeysShowsAutomaticDeliveryWithItsDefaults) {
    P& page = Page();
    EXPECT_STREQ(page.Caption(), "Zustellung");
    for (const CFieldSpec& field : page.Fields())
        ASSERT_NE(field.id, nullptr) << "every row of the table is a field";
    EXPECT_TRUE(page.Automatic());
    EXPECT_EQ(page.Number(P::kThreads), 2);
    EXPECT_EQ(page.Number(P::kRetry), 60);
    EXPECT_EQ(page.Number(P::kMaxTime), 1440);
    EXPECT_EQ(page.Number(P::kPostmasterOn), 0);
    EXPECT_EQ(page.Number(P::kBounce), 1);
    EXPECT_EQ(page.Number(P::kParallel), 1);
    EXPECT_EQ(page.Number(P::kOnArrival), 0);
    EXPECT_EQ(page.SendmailScript(), Sendmail());
    EXPECT_EQ(page.NewmailScript(), Newmail());

    // Automatic: the agent's fields, not the scripts'; the postmaster address only with its box.
    for (const char* id : {P::kThreads, P::kRetry, P::kMaxTime, P::kPostmasterOn, P::kBounce,
                           P::kRules, P::kAdvanced})
        EXPECT_TRUE(page.IsEnabled(id)) << id;
    for (const char* id : {P::kPostmaster, P::kParallel, P::kAddTime, P::kRemoveTime, P::kHour,
                           P::kMinute, P::kTimes, P::kOnArrival})
        EXPECT_FALSE(page.IsEnabled(id)) << id;
    page.FieldChanged(P::kPostmasterOn, "1");
    EXPECT_TRUE(page.IsEnabled(P::kPostmaster));

    page.FieldChanged(P::kMode, "0");
    for (const char* id : {P::kThreads, P::kRetry, P::kMaxTime, P::kPostmasterOn, P::kPostmaster,
                           P::kBounce, P::kRules})
        EXPECT_FALSE(page.IsEnabled(id)) << id;
    for (const char* id : {P::kParallel, P::kAddTime, P::kRemoveTime, P::kHour, P::kMinute,
                           P::kTimes, P::kOnArrival, P::kAdvanced})
        EXPECT_TRUE(page.IsEnabled(id)) << id;
}

TEST_F(PageDeliveryTest, OlderParallelKeyIsReadWhenTheNewerIsMissingAndTheArrivalBoxFollowsTheFile) {
    config.mdad.SetInt("AsyncScripts", 0);
    config.mdad.SetInt("AutoTransport", 0);
    config.mdad.SetString("Postmaster", "pm@example.test");
    testutil::WriteBytes(Newmail(), "mine");
    EXPECT_EQ(Page().Number(P::kParallel), 0);
    EXPECT_FALSE(Page().Automatic());
    EXPECT_EQ(Page().Number(P::kPostmasterOn), 1);
    EXPECT_EQ(Page().Number(P::kOnArrival), 1);

    CConfigSet both;
    both.mdad.SetInt("AsyncScripts", 0);
    both.mdad.SetInt("Scripts.Execution.Parallel", 1);
    P newer(both, {}, {}, P::Environment{.configDir = ConfigDir()});
    EXPECT_EQ(newer.Number(P::kParallel), 1);

    // Without a configuration directory there is no sendmail script to offer, nowhere.
    P homeless(both, {}, {}, P::Environment{});
    homeless.FieldChanged(P::kMode, "0");
    EXPECT_EQ(homeless.SendmailScript(), "");
    EXPECT_TRUE(homeless.OnApply(user));
    EXPECT_EQ(both.mdad.GetString("AutoTransport", ""), "0");
}

// --- Apply ------------------------------------------------------------------------------------

TEST_F(PageDeliveryTest, AutomaticApplyWritesTheAgentsKeysAndAsksBeforeDeletingEachScript) {
    config.mdad.SetInt("AsyncScripts", 0);
    testutil::WriteBytes(Sendmail(), "edited");
    testutil::WriteBytes(Newmail(), "edited");
    P& page = Page();
    page.SetNumber(P::kThreads, 7);
    page.SetValue(P::kPostmaster, "pm@example.test"); // the box stays unchecked
    config.mdad.SetString("Postmaster", "old@example.test");
    user.ExpectMessage(140, MessageKind::Question, Answer::No)
        .ExpectMessage(139, MessageKind::Question, Answer::Yes);
    EXPECT_TRUE(page.OnApply(user));
    EXPECT_EQ(testutil::ReadBytes(Sendmail()), "edited");
    EXPECT_FALSE(fs::exists(Newmail()));
    EXPECT_EQ(Key("AutoTransport"), "1");
    EXPECT_EQ(Key("AutoTransport.Threads"), "7");
    EXPECT_EQ(Key("AutoTransRetry"), "60");
    EXPECT_EQ(Key("AutoTransTime"), "1440");
    EXPECT_EQ(Key("BounceAttachment"), "1");
    EXPECT_EQ(Key("Postmaster"), "<none>");
    EXPECT_EQ(Key("AsyncScripts"), "<none>");
    EXPECT_EQ(Key("Scripts.Execution.Parallel"), "<none>");
    EXPECT_EQ(cancelLocks, 1);

    // With the box checked the address is written; checked and empty removes the key.
    page.FieldChanged(P::kPostmasterOn, "1");
    user.ExpectMessage(140, MessageKind::Question, Answer::No);
    page.OnApply(user);
    EXPECT_EQ(Key("Postmaster"), "pm@example.test");
    page.SetValue(P::kPostmaster, "");
    user.ExpectMessage(140, MessageKind::Question, Answer::No);
    page.OnApply(user);
    EXPECT_EQ(Key("Postmaster"), "<none>");
}

TEST_F(PageDeliveryTest, ManualApplyCreatesMissingScriptsByteForByteAndNeverRewritesThem) {
    config.mdad.SetInt("AsyncScripts", 1);
    config.mdad.SetInt("AutoTransTime", 900);
    P& page = Manual();
    page.SetNumber(P::kMaxTime, 2000); // edited while automatic: not written in manual mode
    page.SetNumber(P::kParallel, 0);
    page.SetNumber(P::kOnArrival, 1);
    user.ExpectMessage(138, MessageKind::Question, Answer::Yes)
        .ExpectMessage(137, MessageKind::Question, Answer::Yes);
    EXPECT_TRUE(page.OnApply(user));
#ifdef _WIN32
    EXPECT_EQ(testutil::ReadBytes(Sendmail()), Script(136));
    EXPECT_EQ(testutil::ReadBytes(Newmail()), Script(135));
    const std::string sendmail = testutil::ReadBytes(Sendmail());
    EXPECT_EQ(std::count(sendmail.begin(), sendmail.end(), '\n'), 22); // 23 lines, none after
    EXPECT_EQ(sendmail.substr(sendmail.size() - 6), "\r\npopd");
    EXPECT_EQ(testutil::ReadBytes(Newmail()),
              "@echo off\r\ncall \"%MAILCONFIGDIR%\\sendmail.cmd\"");
#else
    // Shell scripts cron can run: executable, LF only, the folder written in. What they do is
    // run below.
    for (const std::string& script : {Sendmail(), Newmail()}) {
        EXPECT_EQ(platform::StatPath(script)->permissions, 0755u) << script;
        const std::string bytes = testutil::ReadBytes(script);
        EXPECT_EQ(bytes.rfind("#!/bin/sh\n", 0), 0u) << script;
        EXPECT_EQ(bytes.back(), '\n') << script;
        EXPECT_EQ(bytes.find('\r'), std::string::npos) << script;
        EXPECT_NE(bytes.find("MAILCONFIGDIR='" + ConfigDir() + "'\n"), std::string::npos);
    }
#endif
    EXPECT_EQ(Key("AutoTransport"), "0");
    EXPECT_EQ(Key("Scripts.Execution.Parallel"), "0");
    EXPECT_EQ(Key("AsyncScripts"), "<none>");
    EXPECT_EQ(Key("AutoTransTime"), "900");
    EXPECT_EQ(Key("AutoTransport.Threads"), "<none>");

    // Second apply: nothing is asked, an edited script keeps its content.
    testutil::WriteBytes(Sendmail(), "mine");
    page.OnApply(user);
    EXPECT_EQ(testutil::ReadBytes(Sendmail()), "mine");

    // Without delivery on arrival the newmail script is offered for deletion; no keeps it.
    page.SetNumber(P::kOnArrival, 0);
    user.ExpectMessage(139, MessageKind::Question, Answer::No);
    page.OnApply(user);
    EXPECT_TRUE(fs::exists(Newmail()));
    user.ExpectMessage(139, MessageKind::Question, Answer::Yes);
    page.OnApply(user);
    EXPECT_FALSE(fs::exists(Newmail()));
    EXPECT_EQ(testutil::ReadBytes(Sendmail()), "mine");

    // No to the sendmail question leaves it missing and asks again next time.
    fs::remove(Sendmail());
    user.ExpectMessage(138, MessageKind::Question, Answer::No);
    page.OnApply(user);
    EXPECT_FALSE(fs::exists(Sendmail()));
}

TEST_F(PageDeliveryTest, AScriptThatCannotBeWrittenOrDeletedIsNamedAndNoKeyIsLost) {
    // The outgoing folder is missing: the newmail script cannot be created.
    fs::remove_all(Outgoing());
    P& page = Manual();
    page.SetNumber(P::kOnArrival, 1);
    user.ExpectMessage(138, MessageKind::Question, Answer::Yes)
        .ExpectMessage(137, MessageKind::Question, Answer::Yes)
        .ExpectText(Newmail());
    EXPECT_TRUE(page.OnApply(user));
    ASSERT_EQ(user.kinds.size(), 3u);
    EXPECT_EQ(user.kinds.back(), MessageKind::Error);
    EXPECT_EQ(Key("AutoTransport"), "0");
    EXPECT_EQ(Key("Scripts.Execution.Parallel"), "1");
    EXPECT_EQ(cancelLocks, 1);

    // Something that is no file stands where the sendmail script goes: deleting it fails.
    fs::remove(Sendmail());
    fs::create_directories(Sendmail());
    page.FieldChanged(P::kMode, "1");
    page.SetNumber(P::kThreads, 5);
    user.ExpectMessage(140, MessageKind::Question, Answer::Yes).ExpectText(Sendmail());
    page.OnApply(user);
    EXPECT_TRUE(fs::is_directory(Sendmail()));
    EXPECT_EQ(Key("AutoTransport"), "1");
    EXPECT_EQ(Key("AutoTransport.Threads"), "5");
}

#ifndef _WIN32
TEST_F(PageDeliveryTest, TheWrittenScriptsSendEachQueuedMailAndReplyToAFailedOne) {
    // A configuration folder with a blank and a quote, which the scripts must carry whole.
    const std::string configDir = dir / "it's mail";
    const std::string queue = configDir + "/outgoing";
    const std::string bin = dir / "bin";
    const std::string log = dir / "calls";
    fs::create_directories(queue);
    fs::create_directories(bin);
    config.mdad.SetString("OutgoingDir", queue);
    P page(config, {}, {}, P::Environment{.configDir = configDir});
    page.FieldChanged(P::kMode, "0");
    page.SetNumber(P::kOnArrival, 1);
    user.ExpectMessage(138, MessageKind::Question, Answer::Yes)
        .ExpectMessage(137, MessageKind::Question, Answer::Yes);
    page.OnApply(user);

    // Stand-ins that log their arguments; smtpc fails for the mail with the blank.
    for (const char* program : {"smtpc", "reply"}) {
        testutil::WriteBytes(bin + "/" + program,
                             std::string("#!/bin/sh\n{ printf %s ") + program +
                                 "; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; echo; } >> '" +
                                 log + "'\n[ \"$2\" != 'b c.eml' ]\n");
        fs::permissions(bin + "/" + program, fs::perms(0755));
    }
    const std::vector<std::string> withoutConfigDir = {"-i", "KORVANE_BIN_DIR=" + bin};
    auto run = [&](const std::string& script) {
        std::vector<std::string> arguments = withoutConfigDir;
        arguments.push_back(script);
        return platform::RunAndWait("/usr/bin/env", arguments);
    };

    // An empty queue: the pattern matches nothing and nothing is called.
    EXPECT_EQ(run(page.SendmailScript()), 0);
    EXPECT_FALSE(fs::exists(log));

    // A new mail arrives: the newmail script runs the sendmail script, as cron would, without
    // MAILCONFIGDIR; other files of the queue are left alone.
    for (const char* name : {"a.eml", "b c.eml", "note.txt"})
        testutil::WriteBytes(queue + "/" + name, "mail");
    EXPECT_EQ(run(page.NewmailScript()), 0);
    EXPECT_EQ(testutil::ReadBytes(log), "smtpc [-mx] [a.eml]\n"
                                        "smtpc [-mx] [b c.eml]\n"
                                        "reply [b c.eml] [-t] [b c.eml.err] [-o]\n");
}
#endif

// --- Delivery times ---------------------------------------------------------------------------

TEST_F(PageDeliveryTest, ListShowsOwnJobsOnlyAndOnlyWhileTheSchedulerRuns) {
    const std::string elsewhere = std::string("/elsewhere/") + platform::kSendmailScriptName;
    testutil::WriteBytes(CronFile(),
                         "# a comment\n"
                         "30 6 * * * root '" + Sendmail() + "' # korvane-delivery job 3\n"
                         "0 1 * * * root '" + elsewhere + "' # korvane-delivery job 4\n"
                         "5 0 * * * root '" + ConfigDir() + "/other.sh' # korvane-delivery job 5\n"
                         "15 23 * * * root '" + Sendmail() + "' # korvane-delivery job 12\n");
    P& page = Page();
    page.OnFirstShow(user);
    ASSERT_EQ(page.Times().RowCount(), 2u);
    EXPECT_EQ(page.Times().CellText(0, 0), "3 - 06:30");
    EXPECT_EQ(page.Times().CellText(1, 0), "12 - 23:15");
    EXPECT_STREQ(page.Times().Columns()[0].heading, "Zeit");

    services->running = false;
    page.RefreshScheduleList(user);
    EXPECT_EQ(page.Times().RowCount(), 0u);

    // A cron file that cannot be read is a failed listing, not an empty one.
    services->running = true;
    fs::remove(CronFile());
    fs::create_directories(CronFile());
    user.ExpectMessage(133, MessageKind::Plain, Answer::Ok);
    page.RefreshScheduleList(user);
    EXPECT_EQ(page.Times().RowCount(), 0u);
}

TEST_F(PageDeliveryTest, AddingWritesADailyJobAndTheSameTimeTwiceIsRefused) {
    P& page = Manual();
    page.SetNumber(P::kHour, 6);
    page.SetNumber(P::kMinute, 30);
    page.RunCommand(P::kAddTime, user);
    page.SetNumber(P::kHour, 0);
    page.SetNumber(P::kMinute, 0);
    page.RunCommand(P::kAddTime, user);
    ASSERT_EQ(page.Times().RowCount(), 2u);
    EXPECT_EQ(page.Times().CellText(0, 0), "1 - 06:30");
    EXPECT_EQ(page.Times().CellText(1, 0), "2 - 00:00");

    std::vector<platform::ScheduledJob> jobs;
    ASSERT_TRUE(platform::CreateCronTaskScheduler(CronFile())->List(jobs));
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].jobTime, (6u * 60 + 30) * 60000);
    EXPECT_EQ(jobs[0].command, Sendmail());
    EXPECT_EQ(jobs[1].jobTime, 0u);

    // A job at that time whose command differs only in letter case counts as the same.
    std::string upper = Sendmail();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::uint32_t id = 0;
    ASSERT_TRUE(platform::CreateCronTaskScheduler(CronFile())->Add(7 * 3600000u, upper, id));
    page.SetNumber(P::kHour, 7);
    user.ExpectMessage(165, MessageKind::Plain, Answer::Ok);
    page.RunCommand(P::kAddTime, user);
    page.SetNumber(P::kHour, 6);
    page.SetNumber(P::kMinute, 30);
    user.ExpectMessage(165, MessageKind::Plain, Answer::Ok);
    page.RunCommand(P::kAddTime, user);
    ASSERT_TRUE(platform::CreateCronTaskScheduler(CronFile())->List(jobs));
    EXPECT_EQ(jobs.size(), 3u);

    // An hour beyond the day is refused before the scheduler is asked.
    page.SetNumber(P::kHour, 24);
    user.ExpectText("23");
    page.RunCommand(P::kAddTime, user);
    ASSERT_TRUE(platform::CreateCronTaskScheduler(CronFile())->List(jobs));
    EXPECT_EQ(jobs.size(), 3u);
}

TEST_F(PageDeliveryTest, RemovingDeletesTheSelectedJobAndFailuresAreSaid) {
    P& page = Manual();
    page.RunCommand(P::kAddTime, user);
    page.SetNumber(P::kHour, 12);
    page.RunCommand(P::kAddTime, user);
    ASSERT_EQ(page.Times().RowCount(), 2u);

    page.RunCommand(P::kRemoveTime, user); // nothing selected: nothing happens
    EXPECT_EQ(page.Times().RowCount(), 2u);

    const_cast<CDeliveryTimeRows&>(page.Times()).Select(0);
    page.RunCommand(P::kRemoveTime, user);
    ASSERT_EQ(page.Times().RowCount(), 1u);
    EXPECT_EQ(page.Times().CellText(0, 0), "2 - 12:00");

    // The cron file went away under the page: the job is not there to delete, the list stays.
    fs::remove(CronFile());
    fs::create_directories(CronFile());
    const_cast<CDeliveryTimeRows&>(page.Times()).Select(0);
    user.ExpectMessage(132, MessageKind::Plain, Answer::Ok);
    page.RunCommand(P::kRemoveTime, user);
    EXPECT_EQ(page.Times().RowCount(), 1u);

    // Nor can anything be added to it.
    user.ExpectMessage(131, MessageKind::Plain, Answer::Ok)
        .ExpectMessage(133, MessageKind::Plain, Answer::Ok);
    page.RunCommand(P::kAddTime, user);
}

TEST_F(PageDeliveryTest, AStoppedSchedulerIsStartedOnlyWhenTheUserAgrees) {
    services->running = false;
    P& page = Manual();
    user.ExpectMessage(134, MessageKind::Question, Answer::No);
    page.RunCommand(P::kAddTime, user);
    EXPECT_EQ(services->starts, 0);
    EXPECT_FALSE(fs::exists(CronFile()));

    services->startWorks = false;
    user.ExpectMessage(134, MessageKind::Question, Answer::Yes)
        .ExpectMessage(130, MessageKind::Plain, Answer::Ok);
    page.RunCommand(P::kAddTime, user);
    EXPECT_EQ(services->starts, 1);
    EXPECT_FALSE(fs::exists(CronFile()));
    EXPECT_FALSE(user.progressOpen());

    // The view hands the time over unchecked: the question comes first, the range after it.
    services->startWorks = true;
    page.SetValue(P::kHour, "24");
    user.ExpectMessage(134, MessageKind::Question, Answer::Yes).ExpectText("23");
    page.RunCommand(P::kAddTime, user);
    EXPECT_EQ(services->starts, 2);
    EXPECT_FALSE(fs::exists(CronFile()));

    services->running = false;
    page.SetValue(P::kHour, " 7");
    user.ExpectMessage(134, MessageKind::Question, Answer::Yes);
    page.RunCommand(P::kAddTime, user);
    EXPECT_EQ(user.progressTexts().back(), strings::Literal(strings::kStartingScheduler));
    EXPECT_FALSE(user.progressOpen());
    ASSERT_EQ(page.Times().RowCount(), 1u);
    EXPECT_EQ(page.Times().CellText(0, 0), "1 - 07:00");
    EXPECT_EQ(page.Value(P::kHour), "7");
    user.VerifyAllMet();
}

// --- The two dialogs ----------------------------------------------------------------------------

TEST_F(PageDeliveryTest, DialogButtonsMarkThePageOnlyWhenTheirDialogEndsWithOk) {
    int made = 0;
    auto factory = [&made](CConfigSet&) -> std::unique_ptr<CDialogModel> {
        ++made;
        return std::make_unique<StubDialog>();
    };
    P& page = Page(factory, factory);
    user.ExpectDialog([](CDialogModel&) { return false; });
    page.RunCommand(P::kRules, user);
    EXPECT_FALSE(page.IsModified());
    user.ExpectDialog([](CDialogModel&) { return true; });
    page.RunCommand(P::kAdvanced, user);
    EXPECT_TRUE(page.IsModified());
    EXPECT_EQ(made, 2);

    // Rules are for the automatic mode only; without a factory a button does nothing.
    page.SetModified(false);
    page.FieldChanged(P::kMode, "0");
    page.RunCommand(P::kRules, user);
    EXPECT_EQ(made, 2);
    P bare(config, {}, {}, P::Environment{.configDir = ConfigDir()});
    bare.RunCommand(P::kAdvanced, user);
    EXPECT_FALSE(bare.IsModified());
}

} // namespace

