// The store of scheduled delivery jobs: daily jobs, each with an id that stays the same for as
// long as the job exists, a time of day and the command it runs. The delivery page lists, adds
// and deletes them; it keeps no copy and asks again after every change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A job's time of day: milliseconds after midnight. Anything from a whole day on is no time of
// day and is refused.
inline constexpr std::uint32_t kMillisecondsPerDay = 24u * 60u * 60u * 1000u;

struct ScheduledJob {
    std::uint32_t id = 0;
    std::uint32_t jobTime = 0; // milliseconds after midnight
    std::string command;       // in the suite's 8-bit code page
};

class TaskScheduler {
public:
    virtual ~TaskScheduler() = default;
    // Every job of the store in its order. False when the store cannot be read; jobs then holds
    // nothing.
    virtual bool List(std::vector<ScheduledJob>& jobs) = 0;
    // Adds a job that runs command every day at jobTime; id receives its number. False, with
    // nothing changed, when the time is not a time of day, the command cannot be stored or the
    // store cannot be read or written.
    virtual bool Add(std::uint32_t jobTime, const std::string& command, std::uint32_t& id) = 0;
    // Deletes the job with that id; false when there is none or the store cannot be written.
    virtual bool Remove(std::uint32_t id) = 0;
};

// The scripts the delivery jobs run, as this system runs them: the sendmail script in the
// configuration folder, the newmail script in the outgoing queue, each written with this line
// break (and this break after its last line) and, when new, with this mode. cron runs the
// sendmail script by its path, so here it must be executable.
#ifdef _WIN32
inline constexpr const char* kSendmailScriptName = "sendmail.cmd";
inline constexpr const char* kNewmailScriptName = "newmail.cmd";
inline constexpr const char* kScriptLineBreak = "\r\n";
inline constexpr const char* kScriptFinalLineBreak = "";
inline constexpr unsigned kScriptMode = 0644;
#else
inline constexpr const char* kSendmailScriptName = "sendmail.sh";
inline constexpr const char* kNewmailScriptName = "newmail.sh";
inline constexpr const char* kScriptLineBreak = "\n";
inline constexpr const char* kScriptFinalLineBreak = "\n";
inline constexpr unsigned kScriptMode = 0755;
#endif

// The environment variable naming the cron file, and the file used when it is not set.
inline constexpr const char* kCronFileVariable = "KORVANE_CRON_FILE";
inline constexpr const char* kDefaultCronFile = "/etc/cron.d/korvane-delivery";

// The job store of this system: the cron file named by KORVANE_CRON_FILE (when set and not
// empty), otherwise kDefaultCronFile. On Windows the task scheduler's jobs (NetScheduleJobEnum,
// NetScheduleJobAdd, NetScheduleJobDel), asked only while the "Schedule" service runs.
std::unique_ptr<TaskScheduler> CreateTaskScheduler();

// Jobs kept in one file of the system crontab format (minute, hour, day of month, month, day
// of week, user, command), one line per job:
//     30 6 * * * root '/etc/korvane/sendmail.sh' # korvane-delivery job 3
// The trailing comment carries the id, so ids survive every rewrite; the command is quoted for
// the shell cron hands it to, with "%" escaped as cron wants. Lines the store did not write
// (other jobs, comments, variables, broken lines) are kept byte for byte and in place. Every
// change rewrites the whole file atomically; a missing file holds no jobs and is created on the
// first add. user is the account cron runs the jobs as.
std::unique_ptr<TaskScheduler> CreateCronTaskScheduler(const std::string& path,
                                                       const std::string& user = "root");

} // namespace platform
