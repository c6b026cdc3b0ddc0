// The Windows adapters against the real system calls (under wine on the build machine). This
// program doubles as its own test service and as a program that echoes its arguments: started
// with one of the switches below, it does that job before main and ends.
#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/Security.h"
#include "platform/ServiceManager.h"
#include "platform/TaskScheduler.h"
#include "platform/win32/CommandLine.h"
#include "platform/win32/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <windows.h>
// The network management headers build on the types of this one.
#include <lmcons.h>

#include <lmapibuf.h>
#include <lmat.h>

namespace {

constexpr const char* kEchoSwitch = "--echo-arguments";
constexpr const char* kServiceSwitch = "--test-service";

// Service mode: <exe> --test-service <name>; control 129 creates the marker file beside the
// program, where the test looks for it.
std::wstring g_name;
SERVICE_STATUS_HANDLE g_status = nullptr;

std::wstring MarkerFor(const std::wstring& name) {
    wchar_t exe[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return std::wstring(exe, n) + L"." + name + L".restart";
}

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status{
        SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, NO_ERROR, 0, checkPoint, waitHint};
    ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == 129) {
        ::CloseHandle(::CreateFileW(MarkerFor(g_name).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_STOP)
        Report(SERVICE_STOPPED, 0, 0);
    return control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_INTERROGATE
               ? NO_ERROR
               : ERROR_CALL_NOT_IMPLEMENTED;
}

bool RunSpecialModes() {
    if (__argc >= 2 && std::strcmp(__argv[1], kEchoSwitch) == 0) {
        // Each argument as the C runtime parsed it, NUL-terminated, then a telling exit code.
        for (int i = 2; i < __argc; ++i) {
            DWORD written = 0;
            ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), __argv[i],
                        static_cast<DWORD>(std::strlen(__argv[i]) + 1), &written, nullptr);
        }
        ::ExitProcess(7);
    }
    if (__argc != 3 || std::strcmp(__argv[1], kServiceSwitch) != 0)
        return false;
    g_name.assign(__argv[2], __argv[2] + std::strlen(__argv[2])); // ASCII
    SERVICE_TABLE_ENTRYW table[] = {{g_name.data(),
                                     [](DWORD, LPWSTR*) {
                                         g_status = ::RegisterServiceCtrlHandlerExW(
                                             g_name.c_str(), Control, nullptr);
                                         // A start that makes progress: two check points, then
                                         // running.
                                         Report(SERVICE_START_PENDING, 1, 2000);
                                         ::Sleep(300);
                                         Report(SERVICE_START_PENDING, 2, 2000);
                                         Report(SERVICE_RUNNING, 0, 0);
                                     }},
                                    {nullptr, nullptr}};
    ::ExitProcess(::StartServiceCtrlDispatcherW(table) ? 0 : 1);
}
const bool g_special = RunSpecialModes();

// Waits up to five seconds for the service to leave the pending states.
platform::ServiceStatus Settled(platform::ServiceManager& services, const std::string& name) {
    platform::ServiceStatus status;
    for (int i = 0; i < 50; ++i) {
        if (!services.QueryStatus(name, status) ||
            (status.state != platform::ServiceState::StartPending &&
             status.state != platform::ServiceState::StopPending))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return status;
}

TEST(WindowsServices, AServiceIsQueriedStartedAndSentTheRestartRequest) {
    const std::string name = "KorvaneTest" + std::to_string(::GetCurrentProcessId());
    std::wstring exe;
    ASSERT_TRUE(platform::win32::AnsiToWide(platform::OwnExecutablePath(), exe));
    const std::wstring wideName(name.begin(), name.end());
    const std::wstring marker = MarkerFor(wideName);
    const std::wstring image =
        platform::win32::BuildCommandLine(exe, {L"--test-service", wideName});
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        GTEST_SKIP() << "no right to create a service: error " << ::GetLastError();
    SC_HANDLE service =
        ::CreateServiceW(manager, wideName.c_str(), wideName.c_str(), SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                         image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << "CreateServiceW error " << ::GetLastError();

    auto services = platform::CreateServiceManager();
    platform::ServiceStatus status;
    EXPECT_TRUE(services->QueryStatus(name, status));
    EXPECT_EQ(status.state, platform::ServiceState::Stopped);
    // Stopped: the request is not delivered, and the manager itself refuses the code too.
    EXPECT_FALSE(services->SendRestartRequest(name));
    SERVICE_STATUS raw{};
    EXPECT_FALSE(::ControlService(service, 129, &raw));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    EXPECT_TRUE(services->Start(name));
    EXPECT_EQ(Settled(*services, name).state, platform::ServiceState::Running);
    EXPECT_FALSE(services->Start(name)) << "a running service is not started again";
    EXPECT_TRUE(services->SendRestartRequest(name));
    EXPECT_NE(::GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES)
        << "control 129 did not reach the service";

    ::ControlService(service, SERVICE_CONTROL_STOP, &raw);
    EXPECT_EQ(Settled(*services, name).state, platform::ServiceState::Stopped);
    EXPECT_TRUE(::DeleteService(service));
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    ::DeleteFileW(marker.c_str());
    EXPECT_FALSE(services->QueryStatus(name + "-missing", status));
}

TEST(WindowsServices, PosixStandInsKnowNoService) {
    platform::ServiceStatus status;
    EXPECT_FALSE(platform::CreateSupervisorServiceManager("x")->QueryStatus("SMTPd", status));
    EXPECT_FALSE(platform::CreateSystemdServiceManager()->Start("SMTPd"));
    EXPECT_EQ(platform::SystemdUnitName("Schedule"), "cron.service");
}

// The jobs go through the "Schedule" service; the store is usable once it runs.
bool ScheduleRunning() {
    auto services = platform::CreateServiceManager();
    services->Start("Schedule");
    return Settled(*services, "Schedule").state == platform::ServiceState::Running;
}

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(WindowsTaskScheduler, JobIsAddedListedAndRemoved) {
    auto scheduler = platform::CreateTaskScheduler();
    std::uint32_t id = 0;
    EXPECT_FALSE(scheduler->Add(platform::kMillisecondsPerDay, "c:\\x\\sendmail.cmd", id));
    if (!ScheduleRunning())
        GTEST_SKIP() << "the Schedule service is missing or does not start";
    const std::string command = "C:\\korvane test\\sendmail.cmd";
    ASSERT_TRUE(scheduler->Add((6 * 60 + 30) * 60000, command, id));
    std::vector<platform::ScheduledJob> jobs;
    ASSERT_TRUE(scheduler->List(jobs));
    int found = 0;
    for (const auto& job : jobs)
        found += job.id == id && job.command == command;
    EXPECT_EQ(found, 1);
    EXPECT_TRUE(scheduler->Remove(id));
    ASSERT_TRUE(scheduler->List(jobs));
    for (const auto& job : jobs)
        EXPECT_NE(job.id, id);
    EXPECT_FALSE(scheduler->Remove(id)) << "a job that is gone cannot be removed";
}

TEST(WindowsTaskScheduler, AddedJobRunsEveryDayAtItsTime) {
    if (!ScheduleRunning())
        GTEST_SKIP() << "the Schedule service is missing or does not start";
    auto scheduler = platform::CreateTaskScheduler();
    const std::uint32_t time = (6 * 60 + 30) * 60000;
    std::uint32_t id = 0;
    ASSERT_TRUE(scheduler->Add(time, "C:\\korvane\\sendmail.cmd", id));
    AT_INFO* info = nullptr;
    ASSERT_EQ(::NetScheduleJobGetInfo(nullptr, id, reinterpret_cast<LPBYTE*>(&info)), 0u);
    const AT_INFO stored = *info;
    ::NetApiBufferFree(info);
    std::vector<platform::ScheduledJob> jobs;
    ASSERT_TRUE(scheduler->List(jobs));
    std::uint32_t listedTime = ~0u;
    for (const auto& job : jobs)
        listedTime = job.id == id ? job.jobTime : listedTime;
    EXPECT_TRUE(scheduler->Remove(id));
    if (UnderWine() && stored.JobTime == 0 && stored.DaysOfWeek == 0 && stored.Flags == 0)
        GTEST_SKIP() << "wine's Schedule service keeps an added job's command but gives back "
                        "JobTime, DaysOfWeek and Flags as 0";
    EXPECT_EQ(stored.JobTime, time);
    EXPECT_EQ(listedTime, time);
    EXPECT_EQ(stored.DaysOfMonth, 0u);
    EXPECT_EQ(stored.DaysOfWeek, 0x7F);
    EXPECT_TRUE(stored.Flags & JOB_RUN_PERIODICALLY);
}

TEST(WindowsProcess, ArgumentsReachTheProgramAsTheyWereGiven) {
    // Through the C runtime's own parser in the child: blanks, quotes, backslash runs.
    const std::vector<std::string> arguments = {
        kEchoSwitch,   "plain",       "",        "two words", "tab\there", "quote\"inside",
        "back\\slash", "trailing\\ ", "trail\\", "\\\"",      "a\\\\\"b",  "\\\\srv\\share\\",
        "%PATH%"};
    std::string output;
    ASSERT_EQ(platform::RunAndWait(platform::OwnExecutablePath(), arguments, &output), 7);
    std::string expected;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        expected += arguments[i] + '\0';
    EXPECT_EQ(output, expected);

    EXPECT_EQ(platform::RunAndWait("c:\\nowhere\\missing.exe", {}), -1);
    const int missing = platform::StartDetached("c:\\nowhere\\missing.exe", {});
    EXPECT_TRUE(missing == ERROR_PATH_NOT_FOUND || missing == ERROR_FILE_NOT_FOUND) << missing;
    int error = 0;
    auto child =
        platform::ChildProcess::Start(platform::OwnExecutablePath(), {kEchoSwitch}, &error);
    ASSERT_NE(child, nullptr) << error;
    for (int i = 0; i < 100 && child->Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(child->Running());
}

TEST(WindowsSecurityAndClock, AdministratorTestAndLocalTimeAnswerSanely) {
    (void)platform::IsAdministrator(); // any answer, but an answer
    const std::int64_t now = platform::CurrentTime();
    const platform::LocalTime local = platform::ToLocalTime(now);
    EXPECT_LE(std::abs(local.utcOffsetMinutes), 14 * 60);
    EXPECT_EQ(local.utcOffsetMinutes % 15, 0);
    // The local fields minus the offset give back the moment.
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    EXPECT_EQ(::_mkgmtime64(&tm) - local.utcOffsetMinutes * 60, now);
    // Winter and summer of this year: the system zone's two offsets, daylight saving added
    // in the half of the year that has it (Bias counts the other way round, UTC minus local).
    TIME_ZONE_INFORMATION zone{};
    ASSERT_TRUE(::GetTimeZoneInformationForYear(static_cast<USHORT>(local.year), nullptr, &zone));
    std::tm midJanuary{};
    midJanuary.tm_year = local.year - 1900;
    midJanuary.tm_mday = 15;
    midJanuary.tm_hour = 12;
    std::tm midJuly = midJanuary;
    midJuly.tm_mon = 6;
    const int winter = platform::LocalUtcOffsetMinutes(::_mkgmtime64(&midJanuary));
    const int summer = platform::LocalUtcOffsetMinutes(::_mkgmtime64(&midJuly));
    const int standard = -static_cast<int>(zone.Bias + zone.StandardBias);
    const int daylight = -static_cast<int>(zone.Bias + zone.DaylightBias);
    if (zone.DaylightDate.wMonth == 0) {
        EXPECT_EQ(winter, standard);
        EXPECT_EQ(summer, standard);
    } else {
        EXPECT_NE(winter, summer);
        EXPECT_TRUE((winter == standard && summer == daylight) ||
                    (winter == daylight && summer == standard)); // the southern half
    }
}

} // namespace
