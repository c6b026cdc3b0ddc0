// The services of the suite ("SMTPd", "MDAd", "POP3d", "IMAP4d", "SYSLOGd") and the scheduler
// service ("Schedule"), as the system's service manager sees them. The logic needs three
// answers of it -- is a service running, was a restart request delivered, did a start settle --
// and builds them from these calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

enum class ServiceState { Stopped, StartPending, StopPending, Running, Other };

struct ServiceStatus {
    ServiceState state = ServiceState::Stopped;
    // Advanced by a starting service as it makes progress; a start whose check point does not
    // move within twice the wait hint counts as hung.
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHintMs = 0;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // The service's current status; false when the service is unknown or we may not ask.
    virtual bool QueryStatus(const std::string& service, ServiceStatus& status) = 0;
    // Asks the service manager to start the service; false when the request is refused (also
    // when the service is running already).
    virtual bool Start(const std::string& service) = 0;
    // Delivers the restart request (the servers reload their configuration and restart);
    // false when it could not be delivered.
    virtual bool SendRestartRequest(const std::string& service) = 0;
};

// The environment variable that names a supervisor directory.
inline constexpr const char* kServiceDirVariable = "KORVANE_SERVICE_DIR";

// The service manager of this system: the supervisor directory named by the environment
// variable KORVANE_SERVICE_DIR when it is set (and not empty), otherwise systemd. On Windows the
// service control manager, always: the restart request is the control code 129, and a user who
// may not start and control a service sees it as unknown. There the two factories below give a
// manager that knows no service.
std::unique_ptr<ServiceManager> CreateServiceManager();

// systemd, asked through systemctl (the program at systemctlPath; when empty, the system's own
// systemctl). Every call passes --no-ask-password, so that a missing authorisation fails at
// once instead of waiting for a password nobody is there to type.
//   running:          ActiveState "active", "reloading" or "refreshing" (StartPending for
//                     "activating", StopPending for "deactivating", Stopped for "inactive" and
//                     "failed"); a unit systemd does not know is an unknown service
//   restart request:  SIGHUP to the unit's main process (systemctl kill --kill-whom=main),
//                     the signal the supervisor directory uses too; it needs no reload command
//                     in the unit file
//   start:            systemctl start, refused unless the unit is stopped; systemctl itself
//                     waits until the start has settled
//   access:           systemd tells anyone a unit's state, but only root may restart or start
//                     it; like a service manager that refuses a user full access, it answers
//                     nothing to anyone else, so that for such a user every service counts as
//                     not running and no request fails (fullAccess, by default: the effective
//                     user is root)
std::unique_ptr<ServiceManager> CreateSystemdServiceManager(const std::string& systemctlPath = {},
                                                            std::function<bool()> fullAccess = {});

// The unit that plays a service of the suite under systemd:
//   "SMTPd" korvane-smtpd.service     "MDAd"    korvane-mdad.service
//   "POP3d" korvane-pop3d.service     "IMAP4d"  korvane-imap4d.service
//   "SYSLOGd" korvane-syslogd.service "Schedule" cron.service (the task scheduler is cron)
// Empty for any other name.
std::string SystemdUnitName(const std::string& service);

// A supervisor directory: plain files beside each service's name, for systems without a service
// manager of their own and for the tests and the demo.
//   <name>.pid       the service's process id; the service runs while it holds a write lock
//                    (fcntl) on this file and the file names the lock's holder. A file left
//                    by a service that died holds no lock, and an id the system has given
//                    anew names a process that is not the holder: both count as stopped. No
//                    clock is compared, so a wall clock that drifts or jumps changes nothing.
//   <name>.start     the program that starts the service, run without arguments; it should end
//                    once the service has written its pid file
//   <name>.progress  optional: a starter that needs long appends to it as it goes; its size is
//                    the check point (it is removed before each start)
//   <name>.waithint  optional: the wait hint in milliseconds, 1000 when absent
// The restart request is SIGHUP to the process. A service is start-pending while the start
// program runs and the pid file names no live process; a start program that ends without one
// leaves the service stopped. A service with neither a pid file nor a start program is unknown,
// and so is one whose process we may not signal (it belongs to another user).
std::unique_ptr<ServiceManager> CreateSupervisorServiceManager(const std::string& directory);

} // namespace platform
