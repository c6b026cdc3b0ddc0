#include "app/ServiceControl.h"

#include <algorithm>
#include <cstdint>
#include <limits>

using platform::ServiceState;
using platform::ServiceStatus;

bool IsServiceRunning(platform::ServiceManager& manager, const std::string& service) {
    ServiceStatus status;
    return manager.QueryStatus(service, status) && status.state == ServiceState::Running;
}

bool RequestServiceRestart(platform::ServiceManager& manager, const std::string& service) {
    // A stopped service is never sent the request: it is not to be started by it.
    if (!IsServiceRunning(manager, service))
        return false;
    return manager.SendRestartRequest(service);
}

bool StartServiceAndWait(platform::ServiceManager& manager, const std::string& service,
                         const std::function<void(unsigned ms)>& sleepMs) {
    if (!manager.Start(service))
        return false;
    ServiceStatus status;
    if (!manager.QueryStatus(service, status))
        return false;
    while (status.state == ServiceState::StartPending) {
        const std::uint32_t checkPoint = status.checkPoint;
        // Twice a hint above 2^31 milliseconds would wrap around to a short wait; the longest
        // wait we can express stands in for it.
        const std::uint64_t wait =
            std::min<std::uint64_t>(2 * static_cast<std::uint64_t>(status.waitHintMs),
                                    std::numeric_limits<unsigned>::max());
        sleepMs(static_cast<unsigned>(wait));
        if (!manager.QueryStatus(service, status))
            return false;
        // A start whose check point has not moved for a whole wait has hung.
        if (status.checkPoint == checkPoint && status.state == ServiceState::StartPending)
            return false;
    }
    // Running, or stopped again while starting: the start itself did not hang.
    return true;
}
