// The machine's job store on Windows: the task scheduler's "at" jobs, reached through the
// network management calls on the local machine.
#include "platform/TaskScheduler.h"

#include "platform/win32/CommandLine.h"
#include "platform/win32/Text.h"

#include <windows.h>
// The network management headers build on the types of this one.
#include <lmcons.h>

#include <lmapibuf.h>
#include <lmat.h>
#include <lmerr.h>

namespace platform {
namespace {

// Every day of the week; together with JOB_RUN_PERIODICALLY a daily job.
constexpr UCHAR kEveryWeekday = 0x7F;

// Whether the scheduler service runs. The calls below reach it by a remote procedure call. With
// the service stopped, Windows returns the failure, but wine's network library raises it as an
// exception (EPT_S_NOT_REGISTERED) that would end the program; asking first answers the same on
// both. Only the right to read the status is needed.
bool SchedulerRunning() {
    bool running = false;
    if (SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        if (SC_HANDLE service = ::OpenServiceW(manager, L"Schedule", SERVICE_QUERY_STATUS)) {
            SERVICE_STATUS status{};
            running =
                ::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
            ::CloseServiceHandle(service);
        }
        ::CloseServiceHandle(manager);
    }
    return running;
}

class NetScheduleTaskScheduler : public TaskScheduler {
public:
    bool List(std::vector<ScheduledJob>& jobs) override {
        jobs.clear();
        if (!SchedulerRunning())
            return false;
        DWORD resume = 0;
        for (;;) {
            LPBYTE buffer = nullptr;
            DWORD read = 0;
            DWORD total = 0;
            const NET_API_STATUS status = ::NetScheduleJobEnum(
                nullptr, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
            if (status != NERR_Success && status != ERROR_MORE_DATA) {
                if (buffer != nullptr)
                    ::NetApiBufferFree(buffer);
                jobs.clear();
                return false;
            }
            const auto* records = reinterpret_cast<const AT_ENUM*>(buffer);
            for (DWORD i = 0; buffer != nullptr && i < read; ++i) {
                ScheduledJob job;
                job.id = records[i].JobId;
                job.jobTime = static_cast<std::uint32_t>(records[i].JobTime);
                // A job without a command is listed with an empty one.
                if (records[i].Command != nullptr)
                    job.command = win32::AnsiFromWide(records[i].Command);
                jobs.push_back(std::move(job));
            }
            if (buffer != nullptr)
                ::NetApiBufferFree(buffer);
            // A non-zero resume handle means more records follow; a call that returned none
            // would only repeat itself.
            if (resume == 0 || read == 0)
                return true;
        }
    }

    bool Add(std::uint32_t jobTime, const std::string& command, std::uint32_t& id) override {
        std::wstring wide;
        if (jobTime >= kMillisecondsPerDay || command.empty() ||
            !win32::AnsiToWide(command, wide) || !SchedulerRunning())
            return false;
        AT_INFO info{};
        info.JobTime = jobTime;
        info.DaysOfMonth = 0;
        info.DaysOfWeek = kEveryWeekday;
        info.Flags = JOB_RUN_PERIODICALLY;
        info.Command = wide.data();
        DWORD jobId = 0;
        if (::NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &jobId) != NERR_Success)
            return false;
        id = jobId;
        return true;
    }

    bool Remove(std::uint32_t id) override {
        return SchedulerRunning() && ::NetScheduleJobDel(nullptr, id, id) == NERR_Success;
    }
};

} // namespace

std::unique_ptr<TaskScheduler> CreateTaskScheduler() {
    return std::make_unique<NetScheduleTaskScheduler>();
}

} // namespace platform
