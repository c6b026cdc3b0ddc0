// The cron file as the job store, on real files in a temporary folder: ids that survive
// rewrites, lines of others kept in place, the atomic rewrite, files that cannot be read or
// written, times beyond the day, a large file. And the delivery page's scheduler gate with a
// real stand-in "Schedule" service in a supervisor directory.
#include "platform/TaskScheduler.h"
#include "pages/PageDelivery.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using platform::ScheduledJob;

namespace {

class CronStore : public testing::Test {
protected:
    std::string Path() const { return dir / "korvane-delivery"; }
    std::unique_ptr<platform::TaskScheduler> Store() const {
        return platform::CreateCronTaskScheduler(Path());
    }
    std::vector<ScheduledJob> Jobs() const {
        std::vector<ScheduledJob> jobs;
        EXPECT_TRUE(Store()->List(jobs));
        return jobs;
    }
    testutil::TempDir dir;
};

TEST_F(CronStore, IdsStayAndForeignLinesAreKeptInPlace) {
    const std::string foreign = "# kept\r\n"
                                "MAILTO=admin\n"
                                "0 4 * * * root /usr/bin/backup # nightly\n"
                                "this is no cron line\n"
                                "61 4 * * * root '/x/sendmail.sh' # korvane-delivery job 9\n"
                                "\n";
    testutil::WriteBytes(Path(), foreign);
    std::uint32_t first = 0, second = 0;
    ASSERT_TRUE(Store()->Add((6 * 60 + 30) * 60000u, "/etc/korvane/sendmail.sh", first));
    ASSERT_TRUE(Store()->Add(0, "/etc/korvane/sendmail.sh", second));
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(testutil::ReadBytes(Path()),
              foreign + "30 6 * * * root '/etc/korvane/sendmail.sh' # korvane-delivery job 1\n"
                        "0 0 * * * root '/etc/korvane/sendmail.sh' # korvane-delivery job 2\n");

    // Deleting the first leaves the second its id, and a new one gets the next.
    ASSERT_TRUE(Store()->Remove(first));
    std::uint32_t third = 0;
    ASSERT_TRUE(Store()->Add(23 * 3600000u + 59 * 60000u, "/etc/korvane/sendmail.sh", third));
    EXPECT_EQ(third, 3u);
    const std::vector<ScheduledJob> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].id, 2u);
    EXPECT_EQ(jobs[1].id, 3u);
    EXPECT_EQ(jobs[1].jobTime, (23u * 60 + 59) * 60000);
    EXPECT_EQ(testutil::ReadBytes(Path()).substr(0, foreign.size()), foreign);

    // The broken line with a marker is no job: it cannot be removed and stays.
    EXPECT_FALSE(Store()->Remove(9));
    EXPECT_FALSE(Store()->Remove(1));
    EXPECT_NE(testutil::ReadBytes(Path()).find("61 4 * * *"), std::string::npos);
}

TEST_F(CronStore, CommandsRoundTripAndWhatCannotBeStoredIsRefused) {
    const std::string odd = "/srv/it's 100% mail\\dir/sendmail.sh";
    std::uint32_t id = 0;
    ASSERT_TRUE(Store()->Add(60000, odd, id));
    // Only "%" is escaped for cron; a backslash reaches the shell as it is.
    EXPECT_NE(testutil::ReadBytes(Path()).find("'/srv/it'\\''s 100\\% mail\\dir/"),
              std::string::npos);
    ASSERT_EQ(Jobs().size(), 1u);
    EXPECT_EQ(Jobs()[0].command, odd);
    EXPECT_FALSE(Store()->Add(0, "/a/50\\%/sendmail.sh", id)) << "its backslash would be lost";

    EXPECT_FALSE(Store()->Add(platform::kMillisecondsPerDay, "/a/sendmail.sh", id));
    EXPECT_FALSE(Store()->Add(30000, "/a/sendmail.sh", id)); // not a whole minute
    EXPECT_FALSE(Store()->Add(0, "/a/send\nmail.cmd", id));
    EXPECT_FALSE(Store()->Add(0, "", id));
    EXPECT_EQ(Jobs().size(), 1u);
}

TEST_F(CronStore, ANewFileIsWrittenWholeForCronAndAFileThatCannotBeReadIsAFailure) {
    EXPECT_TRUE(Jobs().empty()); // missing: no jobs, nothing written
    EXPECT_FALSE(fs::exists(Path()));
    std::uint32_t id = 0;
    ASSERT_TRUE(Store()->Add(0, "/a/sendmail.sh", id));
    struct stat info {};
    ASSERT_EQ(::stat(Path().c_str(), &info), 0);
    if (testutil::kFilesHaveModes) {
        EXPECT_EQ(info.st_mode & 0777, 0644u);
    }
    const std::string text = testutil::ReadBytes(Path());
    EXPECT_EQ(text.substr(0, 2), "# ");
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // Unreadable (here: a folder in its place) fails every operation and is not replaced.
    fs::remove(Path());
    fs::create_directory(Path());
    std::vector<ScheduledJob> jobs;
    EXPECT_FALSE(Store()->List(jobs));
    EXPECT_FALSE(Store()->Add(0, "/a/sendmail.sh", id));
    EXPECT_FALSE(Store()->Remove(1));
    EXPECT_TRUE(fs::is_directory(Path()));

    // A folder that does not exist cannot take the file.
    EXPECT_FALSE(platform::CreateCronTaskScheduler(dir / "none/file")->Add(0, "/a/s.sh", id));
}

TEST_F(CronStore, ThousandsOfJobsAmongThousandsOfForeignLines) {
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "# comment " + std::to_string(i) + "\n";
        text += std::to_string(i % 60) + " " + std::to_string(i % 24) +
                " * * * root '/cfg/sendmail.sh' # korvane-delivery job " + std::to_string(i + 1) +
                "\n";
    }
    testutil::WriteBytes(Path(), text);
    EXPECT_EQ(Jobs().size(), 5000u);
    std::uint32_t id = 0;
    ASSERT_TRUE(Store()->Add(0, "/cfg/sendmail.sh", id));
    EXPECT_EQ(id, 5001u);
    ASSERT_TRUE(Store()->Remove(2500));
    const std::vector<ScheduledJob> jobs = Jobs();
    EXPECT_EQ(jobs.size(), 5000u);
    EXPECT_EQ(jobs.back().id, 5001u);
}

// --- The scheduler's service as a real process -------------------------------------------------

class ScheduleStandin : public testing::Test {
protected:
    ~ScheduleStandin() override {
        // The stand-in we started ends on SIGTERM and removes its pid file as it goes; the
        // folder is removed only after that.
#ifndef _WIN32
        const std::string pidFile = services / "Schedule.pid";
        std::ifstream in(pidFile);
        long pid = 0;
        if (!(in >> pid) || pid <= 1 || ::kill(static_cast<pid_t>(pid), SIGTERM) != 0)
            return;
        for (int i = 0; i < 100 && fs::exists(pidFile); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
#endif
    }
    testutil::TempDir services;
    testutil::TempDir config;
};

TEST_F(ScheduleStandin, AddStartsTheStoppedSchedulerAndThenListsTheNewTime) {
    KORVANE_POSIX_ONLY("the scheduler's stand-in runs in a supervisor folder, started by a shell "
                       "script; the Windows scheduler adapter is tested in tests/platform/win32");
#ifndef _WIN32
    const std::string starter = services / "Schedule.start";
    testutil::WriteBytes(starter, std::string("#!/bin/sh\nexec '") + KORVANE_STANDIN + "' '" +
                                      services.path() + "' Schedule\n");
    ASSERT_EQ(::chmod(starter.c_str(), 0755), 0);

    CConfigSet set;
    CPageConfigMDA page(set, {}, {},
                        CPageConfigMDA::Environment{
                            .scheduler = platform::CreateCronTaskScheduler(config / "cron"),
                            .services = platform::CreateSupervisorServiceManager(services.path()),
                            .configDir = config.path(),
                            .sleepMs = CPageConfigMDA::SystemEnvironment().sleepMs,
                        });
    CScriptedPrompter user;
    page.OnFirstShow(user); // stopped: nothing listed, nothing said
    EXPECT_EQ(page.Times().RowCount(), 0u);

    page.FieldChanged(CPageConfigMDA::kMode, "0");
    page.SetNumber(CPageConfigMDA::kHour, 5);
    user.ExpectMessage(134, MessageKind::Question, Answer::Yes);
    page.RunCommand(CPageConfigMDA::kAddTime, user);
    user.VerifyAllMet();
    ASSERT_EQ(page.Times().RowCount(), 1u);
    EXPECT_EQ(page.Times().CellText(0, 0), "1 - 05:00");

    // Running now: the next add asks nothing.
    page.SetNumber(CPageConfigMDA::kHour, 6);
    page.RunCommand(CPageConfigMDA::kAddTime, user);
    EXPECT_EQ(page.Times().RowCount(), 2u);
#endif
}

} // namespace
