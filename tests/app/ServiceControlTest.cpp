// The service operations over a scripted service manager, and the two POSIX back-ends: the
// supervisor directory with real stand-in processes, systemd through a stand-in systemctl.
#include "app/ServiceControl.h"
#include "app/QuibrelApp.h"
#include "platform/Process.h"
#include "platform/ServiceManager.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <thread>

using platform::ServiceState;
using platform::ServiceStatus;

namespace {

using Clock = std::chrono::steady_clock;

ServiceStatus Pending(std::uint32_t checkPoint, std::uint32_t waitHintMs) {
    return ServiceStatus{ServiceState::StartPending, checkPoint, waitHintMs};
}
ServiceStatus WithState(ServiceState state) {
    return ServiceStatus{state, 0, 0};
}

// Answers each status query with the next scripted status; nothing scripted means the query
// fails.
class ScriptedServices : public platform::ServiceManager {
public:
    bool QueryStatus(const std::string&, ServiceStatus& status) override {
        ++queries;
        if (statuses.empty())
            return false;
        std::optional<ServiceStatus> next = statuses.front();
        statuses.pop_front();
        if (!next)
            return false;
        status = *next;
        return true;
    }
    bool Start(const std::string&) override {
        ++starts;
        return startAccepted;
    }
    bool SendRestartRequest(const std::string& service) override {
        requests.push_back(service);
        return requestAccepted;
    }

    std::deque<std::optional<ServiceStatus>> statuses;
    bool startAccepted = true;
    bool requestAccepted = true;
    int starts = 0;
    int queries = 0;
    std::vector<std::string> requests;
};

struct RecordingSleep {
    std::vector<unsigned> waits;
    std::function<void(unsigned)> Function() {
        return [this](unsigned ms) { waits.push_back(ms); };
    }
};

} // namespace

TEST(ServiceStartAndWait, UnchangedCheckPointFailsAfterOneWaitOfTwiceTheHint) {
    ScriptedServices services;
    services.statuses = {Pending(1, 300), Pending(1, 300), WithState(ServiceState::Running)};
    RecordingSleep sleep;
    EXPECT_FALSE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    EXPECT_EQ(sleep.waits, std::vector<unsigned>{600});
    EXPECT_EQ(services.queries, 2);
}

TEST(ServiceStartAndWait, AdvancingCheckPointKeepsWaitingWithTheLatestHint) {
    ScriptedServices services;
    services.statuses = {Pending(1, 100), Pending(2, 100), Pending(5, 250),
                         WithState(ServiceState::Running)};
    RecordingSleep sleep;
    EXPECT_TRUE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    EXPECT_EQ(sleep.waits, (std::vector<unsigned>{200, 200, 500}));

    // Progress first, then a check point that stands still: a hang all the same.
    services.statuses = {Pending(1, 100), Pending(2, 100), Pending(2, 100)};
    sleep.waits.clear();
    EXPECT_FALSE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    EXPECT_EQ(sleep.waits.size(), 2u);
}

TEST(ServiceStartAndWait, OnlyAHangCountsAsFailure) {
    ScriptedServices services;
    RecordingSleep sleep;
    // Stopped again while starting, even with the check point unchanged.
    services.statuses = {Pending(3, 100), WithState(ServiceState::Stopped)};
    EXPECT_TRUE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    // Settled before the first look: no wait at all.
    services.statuses = {WithState(ServiceState::Running)};
    sleep.waits.clear();
    EXPECT_TRUE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    EXPECT_TRUE(sleep.waits.empty());
}

TEST(ServiceStartAndWait, RefusedStartAndFailedQueriesFail) {
    ScriptedServices services;
    RecordingSleep sleep;
    // Already running: the start is refused and nothing more is asked.
    services.startAccepted = false;
    services.statuses = {WithState(ServiceState::Running)};
    EXPECT_FALSE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    EXPECT_EQ(services.queries, 0);

    services.startAccepted = true;
    services.statuses = {std::nullopt};
    EXPECT_FALSE(StartServiceAndWait(services, "Schedule", sleep.Function()));

    services.statuses = {Pending(1, 100), std::nullopt};
    EXPECT_FALSE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    EXPECT_EQ(sleep.waits, std::vector<unsigned>{200});
}

TEST(ServiceStartAndWait, HugeWaitHintDoesNotWrapAroundToAShortWait) {
    ScriptedServices services;
    services.statuses = {Pending(1, 0x80000001u), Pending(1, 0x80000001u)};
    RecordingSleep sleep;
    EXPECT_FALSE(StartServiceAndWait(services, "Schedule", sleep.Function()));
    ASSERT_EQ(sleep.waits.size(), 1u);
    EXPECT_EQ(sleep.waits[0], 0xFFFFFFFFu);
}

TEST(ServiceRestart, OnlyARunningServiceIsSentTheRequest) {
    ScriptedServices services;
    services.statuses = {WithState(ServiceState::Running)};
    EXPECT_TRUE(RequestServiceRestart(services, "SMTPd"));
    EXPECT_EQ(services.requests, std::vector<std::string>{"SMTPd"});

    services.requests.clear();
    services.statuses = {WithState(ServiceState::Stopped), Pending(1, 100), std::nullopt};
    EXPECT_FALSE(RequestServiceRestart(services, "POP3d"));
    EXPECT_FALSE(RequestServiceRestart(services, "POP3d"));
    EXPECT_FALSE(RequestServiceRestart(services, "POP3d"));
    EXPECT_TRUE(services.requests.empty());

    services.statuses = {WithState(ServiceState::Running)};
    services.requestAccepted = false;
    EXPECT_FALSE(RequestServiceRestart(services, "MDAd"));
}

#ifdef _WIN32
// What follows drives POSIX programs: start programs and a systemctl that are shell scripts, the
// stand-in services of the supervisor folder (pid files, SIGHUP). Windows asks its service
// control manager instead, whose adapter is tested in tests/platform/win32.
TEST(ServiceProcessLaunch, PosixStartProgramsSupervisorAndSystemd) {
    GTEST_SKIP() << "POSIX only: shell-script start programs, the supervisor folder and systemd";
}
#else
namespace {

// Polls until done() holds; false when it still does not after timeout.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Gone, or a zombie nobody has reaped yet: either way it will never act again.
bool ProcessGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() &&
           (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

void RealSleep(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Starting programs: a service's start program must not hold on to our descriptors, and the
// relaunch reports a program that cannot run by the system's error code.

TEST(ServiceProcessLaunch, StartedProgramsInheritNoDescriptorsAndReportWhyTheyCannotRun) {
    testutil::TempDir dir;
    const std::string probe = dir / "probe";
    testutil::WriteBytes(probe, "#!/bin/sh\n"
                                "if [ -e /proc/$$/fd/$1 ]; then r=inherited; else r=clean; fi\n"
                                "echo $r > \"$2.tmp\" && mv \"$2.tmp\" \"$2\"\n"
                                "echo $r\n");
    ASSERT_EQ(::chmod(probe.c_str(), 0755), 0);
    // A descriptor opened the careless way, without close-on-exec.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 3);
    const std::string number = std::to_string(fd);

    std::string output;
    EXPECT_EQ(platform::RunAndWait(probe, {number, dir / "waited"}, &output), 0);
    EXPECT_EQ(output, "clean\n");
    ASSERT_EQ(platform::StartDetached(probe, {number, dir / "detached"}), 0);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "detached"); }));
    EXPECT_EQ(testutil::ReadBytes(dir / "detached"), "clean\n");
    ::close(fd);

    EXPECT_EQ(platform::StartDetached(dir / "missing", {}), ENOENT);
    EXPECT_EQ(platform::RunAndWait(dir / "missing", {}), -1);
}

// "/RunOnce" starts the program anew without any command line, not with its own path as one.
TEST(ServiceProcessLaunch, TheRelaunchPassesNoArguments) {
    testutil::TempDir dir;
    const std::string probe = dir / "probe";
    testutil::WriteBytes(probe, "#!/bin/sh\necho \"$#\" > \"$0.n.tmp\" && mv \"$0.n.tmp\" \"$0.n\"\n");
    ASSERT_EQ(::chmod(probe.c_str(), 0755), 0);
    ASSERT_EQ(RelaunchExecutable(probe), 0);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(probe + ".n"); }));
    EXPECT_EQ(testutil::ReadBytes(probe + ".n"), "0\n");
}

// ---------------------------------------------------------------------------------------------
// The supervisor directory, with real processes.

class SupervisorDirectory : public testing::Test {
protected:
    void TearDown() override {
        // Every stand-in leaves its pid file, every start program of ours a ".starter" file.
        std::vector<pid_t> pids;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".pid" || ext == ".starter") {
                if (std::optional<pid_t> pid = ReadPid(entry.path().string()))
                    pids.push_back(*pid);
            }
        }
        for (pid_t pid : pids)
            ::kill(pid, SIGKILL);
        for (pid_t pid : pids)
            EXPECT_TRUE(WaitUntil([pid] { return ProcessGone(pid); })) << pid;
        manager.reset(); // reaps the start programs it ran
    }

    std::string Path(const std::string& service, const char* suffix) const {
        return dir / (service + suffix);
    }

    static std::optional<pid_t> ReadPid(const std::string& path) {
        std::ifstream in(path);
        long pid = 0;
        if (!(in >> pid) || pid <= 1)
            return std::nullopt;
        return static_cast<pid_t>(pid);
    }
    std::optional<pid_t> PidOf(const std::string& service) const {
        return ReadPid(Path(service, ".pid"));
    }

    // A start program for the service: a shell script, as an administrator would write one.
    void WriteStarter(const std::string& service, const std::string& body) {
        const std::string path = Path(service, ".start");
        testutil::WriteBytes(path, "#!/bin/sh\n" + body + "\n");
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }
    std::string ExecStandin(const std::string& service) const {
        return std::string("exec '") + KORVANE_STANDIN + "' '" + dir.path() + "' " + service;
    }

    void RunStandin(const std::string& service) {
        ASSERT_EQ(platform::RunAndWait(KORVANE_STANDIN, {dir.path(), service}), 0);
        ASSERT_TRUE(PidOf(service));
    }

    std::size_t RestartsRecorded(const std::string& service) const {
        std::ifstream in(Path(service, ".restarts"));
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);)
            ++lines;
        return lines;
    }

    testutil::TempDir dir;
    std::unique_ptr<platform::ServiceManager> manager =
        platform::CreateSupervisorServiceManager(dir.path());
};

TEST_F(SupervisorDirectory, ServiceRunsWhileItsPidFileNamesALiveProcess) {
    ServiceStatus status;
    // Neither a pid file nor a start program: no such service.
    EXPECT_FALSE(manager->QueryStatus("SMTPd", status));

    WriteStarter("SMTPd", ExecStandin("SMTPd"));
    ASSERT_TRUE(manager->QueryStatus("SMTPd", status));
    EXPECT_EQ(status.state, ServiceState::Stopped);

    RunStandin("SMTPd");
    EXPECT_TRUE(IsServiceRunning(*manager, "SMTPd"));

    // The stand-in ends on SIGTERM and takes its pid file along.
    const pid_t pid = *PidOf("SMTPd");
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_TRUE(WaitUntil([&] { return !std::filesystem::exists(Path("SMTPd", ".pid")); }));
    EXPECT_FALSE(IsServiceRunning(*manager, "SMTPd"));
}

TEST_F(SupervisorDirectory, RestartRequestReachesTheRunningProcess) {
    RunStandin("MDAd");
    ASSERT_TRUE(RequestServiceRestart(*manager, "MDAd"));
    EXPECT_TRUE(WaitUntil([&] { return RestartsRecorded("MDAd") == 1; }));
    ASSERT_TRUE(RequestServiceRestart(*manager, "MDAd"));
    EXPECT_TRUE(WaitUntil([&] { return RestartsRecorded("MDAd") == 2; }));
    // Still running after both: the request restarts the service, it does not end it.
    EXPECT_TRUE(IsServiceRunning(*manager, "MDAd"));
}

TEST_F(SupervisorDirectory, ServiceThatDiedBeforeTheRequestFailsAtOnce) {
    RunStandin("POP3d");
    ASSERT_TRUE(IsServiceRunning(*manager, "POP3d"));
    // Killed outright, it leaves its pid file behind.
    const pid_t pid = *PidOf("POP3d");
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(WaitUntil([pid] { return ProcessGone(pid); }));
    ASSERT_TRUE(std::filesystem::exists(Path("POP3d", ".pid")));

    const auto start = Clock::now();
    EXPECT_FALSE(manager->SendRestartRequest("POP3d"));
    EXPECT_FALSE(RequestServiceRestart(*manager, "POP3d"));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(RestartsRecorded("POP3d"), 0u);
    std::filesystem::remove(Path("POP3d", ".pid")); // its id may go to someone else now
}

TEST_F(SupervisorDirectory, RunningIsTheLockOfThePidFileNotItsTime) {
    RunStandin("IMAP4d");
    // Clocks that disagree by a day either way change nothing: the service holds its lock.
    const std::string pidFile = Path("IMAP4d", ".pid");
    for (long shift : {-86400L, 86400L}) {
        timespec times[2];
        ASSERT_EQ(::clock_gettime(CLOCK_REALTIME, &times[0]), 0);
        times[0].tv_sec += shift;
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, pidFile.c_str(), times, 0), 0);
        EXPECT_TRUE(IsServiceRunning(*manager, "IMAP4d")) << shift;
    }
    ASSERT_TRUE(RequestServiceRestart(*manager, "IMAP4d"));
    EXPECT_TRUE(WaitUntil([&] { return RestartsRecorded("IMAP4d") == 1; }));

    // A recycled id: the file names a live process that does not hold its lock (the service is
    // gone, a stranger got the id). That process must never be signalled.
    auto stranger = platform::ChildProcess::Start("/bin/sleep", {"30"});
    ASSERT_TRUE(stranger);
    testutil::WriteBytes(Path("POP3d", ".pid"), std::to_string(stranger->Id()) + "\n");
    EXPECT_FALSE(IsServiceRunning(*manager, "POP3d"));
    EXPECT_FALSE(manager->SendRestartRequest("POP3d"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(stranger->Running());
    ::kill(stranger->Id(), SIGKILL);
    std::filesystem::remove(Path("POP3d", ".pid"));
}

TEST_F(SupervisorDirectory, StartIsWaitedForWhileItsProgressFileGrows) {
    testutil::WriteBytes(Path("Schedule", ".waithint"), "100\n");
    // Two steps per wait of 200 ms, for longer than one wait.
    WriteStarter("Schedule", "for step in 1 2 3 4 5 6; do echo $step >> '" +
                                 Path("Schedule", ".progress") + "'; sleep 0.1; done\n" +
                                 ExecStandin("Schedule"));
    RecordingSleep waits;
    const auto sleep = [&](unsigned ms) {
        waits.waits.push_back(ms);
        RealSleep(ms);
    };
    ASSERT_TRUE(StartServiceAndWait(*manager, "Schedule", sleep));
    EXPECT_GE(waits.waits.size(), 2u);
    EXPECT_EQ(waits.waits.front(), 200u);
    ASSERT_TRUE(WaitUntil([&] { return IsServiceRunning(*manager, "Schedule"); }));
    // A running service refuses a second start, and takes the restart request.
    EXPECT_FALSE(manager->Start("Schedule"));
    ASSERT_TRUE(RequestServiceRestart(*manager, "Schedule"));
    EXPECT_TRUE(WaitUntil([&] { return RestartsRecorded("Schedule") == 1; }));
}

TEST_F(SupervisorDirectory, HangingStartFailsAfterTwiceTheHint) {
    testutil::WriteBytes(Path("Schedule", ".waithint"), "100");
    WriteStarter("Schedule", "echo $$ > '" + Path("Schedule", ".starter") + "'\nexec sleep 30");
    RecordingSleep waits;
    const auto sleep = [&](unsigned ms) {
        waits.waits.push_back(ms);
        RealSleep(ms);
    };
    const auto start = Clock::now();
    EXPECT_FALSE(StartServiceAndWait(*manager, "Schedule", sleep));
    EXPECT_EQ(waits.waits, std::vector<unsigned>{200});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    // Still starting: a second start is refused, and no restart request is sent.
    ServiceStatus status;
    ASSERT_TRUE(manager->QueryStatus("Schedule", status));
    EXPECT_EQ(status.state, ServiceState::StartPending);
    EXPECT_EQ(status.waitHintMs, 100u);
    EXPECT_FALSE(manager->Start("Schedule"));
    EXPECT_FALSE(RequestServiceRestart(*manager, "Schedule"));
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(Path("Schedule", ".starter")); }));
}

TEST_F(SupervisorDirectory, StartProgramThatEndsWithoutAServiceLeavesItStopped) {
    testutil::WriteBytes(Path("Schedule", ".waithint"), "200");
    WriteStarter("Schedule", "exit 3");
    EXPECT_TRUE(StartServiceAndWait(*manager, "Schedule", RealSleep));
    ServiceStatus status;
    ASSERT_TRUE(WaitUntil([&] {
        return manager->QueryStatus("Schedule", status) && status.state == ServiceState::Stopped;
    }));

    // A start program that cannot be run is a refused start.
    ASSERT_EQ(::chmod(Path("Schedule", ".start").c_str(), 0644), 0);
    EXPECT_FALSE(manager->Start("Schedule"));
}

// ---------------------------------------------------------------------------------------------
// systemd, through a systemctl that logs its arguments and answers from files.

class SystemdUnits : public testing::Test {
protected:
    void SetUp() override {
        testutil::WriteBytes(systemctl, "#!/bin/sh\n"
                                        "d=$(dirname \"$0\")\n"
                                        "echo \"$*\" >> \"$d/log\"\n"
                                        "if [ \"$1\" = show ]; then cat \"$d/show\"; fi\n"
                                        "exit $(cat \"$d/exit\")\n");
        ASSERT_EQ(::chmod(systemctl.c_str(), 0755), 0);
        Answer("loaded", "active", 0);
    }

    void Answer(const std::string& loadState, const std::string& activeState, int exitStatus) {
        testutil::WriteBytes(dir / "show",
                             "ActiveState=" + activeState + "\nLoadState=" + loadState + "\n");
        testutil::WriteBytes(dir / "exit", std::to_string(exitStatus));
    }
    std::vector<std::string> TakeLog() {
        std::vector<std::string> lines;
        std::ifstream in(dir / "log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        std::filesystem::remove(dir / "log");
        return lines;
    }

    testutil::TempDir dir;
    std::string systemctl = dir / "systemctl";
    std::unique_ptr<platform::ServiceManager> manager =
        platform::CreateSystemdServiceManager(systemctl, [] { return true; });
};

TEST_F(SystemdUnits, ActiveStatesMapToServiceStates) {
    const std::pair<const char*, ServiceState> cases[] = {
        {"active", ServiceState::Running},          {"reloading", ServiceState::Running},
        {"activating", ServiceState::StartPending}, {"deactivating", ServiceState::StopPending},
        {"inactive", ServiceState::Stopped},        {"failed", ServiceState::Stopped},
        {"maintenance", ServiceState::Other},
    };
    for (const auto& [activeState, expected] : cases) {
        Answer("loaded", activeState, 0);
        ServiceStatus status;
        ASSERT_TRUE(manager->QueryStatus("SMTPd", status)) << activeState;
        EXPECT_EQ(status.state, expected) << activeState;
    }
    EXPECT_EQ(TakeLog().front(),
              "show --no-ask-password --property=LoadState,ActiveState -- korvane-smtpd.service");
}

TEST_F(SystemdUnits, UnknownUnitsAndFailingSystemctlAreNoService) {
    ServiceStatus status;
    Answer("not-found", "inactive", 0);
    EXPECT_FALSE(manager->QueryStatus("POP3d", status));
    Answer("loaded", "active", 1);
    EXPECT_FALSE(manager->QueryStatus("POP3d", status));
    // A name that is not one of ours never reaches systemctl.
    TakeLog();
    EXPECT_FALSE(manager->QueryStatus("sshd", status));
    EXPECT_FALSE(manager->SendRestartRequest("sshd"));
    EXPECT_TRUE(TakeLog().empty());
    // Without systemctl at all.
    auto without = platform::CreateSystemdServiceManager(dir / "missing");
    EXPECT_FALSE(IsServiceRunning(*without, "POP3d"));
    // A user without full access (not root): every service counts as not running, and no
    // request is sent that would only fail.
    Answer("loaded", "active", 0);
    auto user = platform::CreateSystemdServiceManager(systemctl, [] { return false; });
    EXPECT_FALSE(IsServiceRunning(*user, "POP3d"));
    EXPECT_FALSE(user->SendRestartRequest("POP3d"));
    EXPECT_TRUE(TakeLog().empty());
}

TEST_F(SystemdUnits, RequestsNameTheUnitAndOnlyAStoppedUnitIsStarted) {
    EXPECT_TRUE(RequestServiceRestart(*manager, "IMAP4d"));
    EXPECT_EQ(TakeLog().back(),
              "kill --no-ask-password --kill-whom=main --signal=SIGHUP -- korvane-imap4d.service");
    EXPECT_FALSE(manager->Start("Schedule"));
    EXPECT_EQ(TakeLog().size(), 1u); // the status query, no start

    Answer("loaded", "inactive", 0);
    EXPECT_TRUE(manager->Start("Schedule"));
    EXPECT_EQ(TakeLog().back(), "start --no-ask-password -- cron.service");
    // systemctl fails, for one, when the unit has no main process any more.
    testutil::WriteBytes(dir / "exit", "1");
    EXPECT_FALSE(manager->SendRestartRequest("IMAP4d"));
}
#endif
