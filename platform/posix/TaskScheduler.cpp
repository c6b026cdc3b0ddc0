// The machine's job store on POSIX: the cron file (see CronTaskScheduler.cpp).
#include "platform/TaskScheduler.h"

#include "platform/FileSystem.h"

#include <optional>

namespace platform {

std::unique_ptr<TaskScheduler> CreateTaskScheduler() {
    std::optional<std::string> path = GetEnvironment(kCronFileVariable);
    if (!path || path->empty())
        path = kDefaultCronFile;
    return CreateCronTaskScheduler(*path);
}

} // namespace platform
