#include "platform/ServiceManager.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {
namespace {

// ---------------------------------------------------------------------------------------------
// systemd

class SystemdServiceManager : public ServiceManager {
public:
    SystemdServiceManager(std::string systemctl, std::function<bool()> fullAccess)
        : m_systemctl(std::move(systemctl)), m_fullAccess(std::move(fullAccess)) {}

    bool QueryStatus(const std::string& service, ServiceStatus& status) override {
        const std::string unit = SystemdUnitName(service);
        if (unit.empty() || m_systemctl.empty() || !m_fullAccess())
            return false;
        std::string output;
        if (RunAndWait(
                m_systemctl,
                {"show", "--no-ask-password", "--property=LoadState,ActiveState", "--", unit},
                &output) != 0)
            return false;
        const std::string loadState = Property(output, "LoadState");
        const std::string activeState = Property(output, "ActiveState");
        // systemd answers for any name; a unit it could not find is not a service of ours.
        if (loadState.empty() || loadState == "not-found" || activeState.empty())
            return false;
        status = ServiceStatus{};
        if (activeState == "active" || activeState == "reloading" || activeState == "refreshing")
            status.state = ServiceState::Running;
        else if (activeState == "activating")
            status.state = ServiceState::StartPending;
        else if (activeState == "deactivating")
            status.state = ServiceState::StopPending;
        else if (activeState == "inactive" || activeState == "failed")
            status.state = ServiceState::Stopped;
        else
            status.state = ServiceState::Other;
        // systemd reports no progress of a start. "systemctl start" has waited for the start
        // job already, so a unit still activating afterwards is one that systemd keeps
        // restarting; one more look after twice this hint settles it.
        if (status.state == ServiceState::StartPending)
            status.waitHintMs = 1000;
        return true;
    }

    bool Start(const std::string& service) override {
        ServiceStatus status;
        if (!QueryStatus(service, status) || status.state != ServiceState::Stopped)
            return false;
        return RunAndWait(m_systemctl,
                          {"start", "--no-ask-password", "--", SystemdUnitName(service)}) == 0;
    }

    bool SendRestartRequest(const std::string& service) override {
        const std::string unit = SystemdUnitName(service);
        if (unit.empty() || m_systemctl.empty() || !m_fullAccess())
            return false;
        // Fails when the unit has no main process, so a service that ended meanwhile is
        // reported, not silently skipped.
        return RunAndWait(m_systemctl, {"kill", "--no-ask-password", "--kill-whom=main",
                                        "--signal=SIGHUP", "--", unit}) == 0;
    }

private:
    // The value of "name=value" among the lines of systemctl show.
    static std::string Property(const std::string& output, const std::string& name) {
        const std::string prefix = name + "=";
        std::size_t start = 0;
        while (start < output.size()) {
            std::size_t end = output.find('\n', start);
            if (end == std::string::npos)
                end = output.size();
            if (output.compare(start, prefix.size(), prefix) == 0)
                return output.substr(start + prefix.size(), end - start - prefix.size());
            start = end + 1;
        }
        return {};
    }

    std::string m_systemctl;
    std::function<bool()> m_fullAccess;
};

std::string FindSystemctl() {
    for (const char* path : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        if (::access(path, X_OK) == 0)
            return path;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Supervisor directory

constexpr std::uint32_t kDefaultWaitHintMs = 1000;

// Service names become file names in the directory: nothing may lead out of it.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name.front() == '.')
        return false;
    for (char c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A whole decimal number of at most maximum; nothing else is accepted.
bool ParseDecimal(const std::string& text, unsigned long long maximum, unsigned long long& value) {
    const std::string digits = Trimmed(text);
    if (digits.empty() || digits.size() > 19)
        return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= maximum;
}

enum class PidFile {
    NoLiveProcess, // missing, unreadable, malformed, or not locked by the process it names
    Live,
    Foreign, // names a live process we may not signal
};

// Whether the pid file at path names a running service, and which process. A service holds a
// write lock on its pid file for as long as it runs (the kernel drops the lock when the process
// ends, however it ends), so "running" is: the file is locked, and by the very process it
// names. That needs no clock: a file left behind by a service that died holds no lock, and an
// id given anew to a stranger is not the lock's holder. A zombie holds no lock either.
PidFile CheckPidFile(const std::string& path, pid_t& pid) {
    std::string text;
    unsigned long long value = 0;
    // Non-blocking and never a link's target in another place we did not mean: the file is
    // opened read-only only to ask who holds its lock.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return PidFile::NoLiveProcess;
    struct stat st;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file
    const bool asked = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 64 &&
                       ::fcntl(fd, F_GETLK, &lock) == 0;
    ::close(fd);
    // Ids 0 and 1 are never a service: a signal to 0 would reach our own process group, one to
    // 1 the system's init.
    if (!asked || lock.l_type == F_UNLCK || !ReadWholeFile(path, text) ||
        !ParseDecimal(text, static_cast<unsigned long long>(std::numeric_limits<pid_t>::max()),
                      value) ||
        value <= 1 || static_cast<pid_t>(value) != lock.l_pid)
        return PidFile::NoLiveProcess;
    pid = static_cast<pid_t>(value);
    if (::kill(pid, 0) != 0)
        return errno == EPERM ? PidFile::Foreign : PidFile::NoLiveProcess;
    return PidFile::Live;
}

class SupervisorServiceManager : public ServiceManager {
public:
    explicit SupervisorServiceManager(std::string directory) : m_directory(std::move(directory)) {}

    bool QueryStatus(const std::string& service, ServiceStatus& status) override {
        if (!IsPlainName(service))
            return false;
        // The start program first: should it end between the two looks, the pid file it leaves
        // is then seen, not missed.
        const bool starting = StarterRunning(service);
        pid_t pid = 0;
        switch (CheckPidFile(PathOf(service, ".pid"), pid)) {
        case PidFile::Foreign:
            return false;
        case PidFile::Live:
            status = ServiceStatus{ServiceState::Running, 0, 0};
            return true;
        case PidFile::NoLiveProcess:
            break;
        }
        if (starting) {
            status =
                ServiceStatus{ServiceState::StartPending, CheckPoint(service), WaitHint(service)};
            return true;
        }
        if (!Exists(PathOf(service, ".pid")) && !Exists(PathOf(service, ".start")))
            return false;
        status = ServiceStatus{ServiceState::Stopped, 0, 0};
        return true;
    }

    bool Start(const std::string& service) override {
        ServiceStatus status;
        if (!QueryStatus(service, status) || status.state != ServiceState::Stopped)
            return false;
        // Check points count from nothing for every start.
        (void)::unlink(PathOf(service, ".progress").c_str());
        std::unique_ptr<ChildProcess> starter = ChildProcess::Start(PathOf(service, ".start"), {});
        if (!starter)
            return false;
        m_starters[service] = std::move(starter);
        return true;
    }

    bool SendRestartRequest(const std::string& service) override {
        pid_t pid = 0;
        if (!IsPlainName(service) || CheckPidFile(PathOf(service, ".pid"), pid) != PidFile::Live)
            return false;
        return ::kill(pid, SIGHUP) == 0;
    }

private:
    std::string PathOf(const std::string& service, const char* suffix) const {
        return m_directory + "/" + service + suffix;
    }

    // Whether a start program we ran for the service is still running; one that has ended is
    // reaped and forgotten.
    bool StarterRunning(const std::string& service) {
        auto it = m_starters.find(service);
        if (it == m_starters.end())
            return false;
        if (it->second->Running())
            return true;
        m_starters.erase(it);
        return false;
    }

    std::uint32_t CheckPoint(const std::string& service) const {
        struct stat st;
        if (::stat(PathOf(service, ".progress").c_str(), &st) != 0 || st.st_size < 0)
            return 0;
        const auto size = static_cast<unsigned long long>(st.st_size);
        return static_cast<std::uint32_t>(
            std::min<unsigned long long>(size, std::numeric_limits<std::uint32_t>::max()));
    }

    std::uint32_t WaitHint(const std::string& service) const {
        std::string text;
        unsigned long long value = 0;
        if (!ReadWholeFile(PathOf(service, ".waithint"), text) ||
            !ParseDecimal(text, std::numeric_limits<std::uint32_t>::max(), value))
            return kDefaultWaitHintMs;
        return static_cast<std::uint32_t>(value);
    }

    std::string m_directory;
    std::map<std::string, std::unique_ptr<ChildProcess>> m_starters;
};

} // namespace

std::unique_ptr<ServiceManager> CreateSystemdServiceManager(const std::string& systemctlPath,
                                                            std::function<bool()> fullAccess) {
    if (!fullAccess)
        fullAccess = [] { return ::geteuid() == 0; };
    return std::make_unique<SystemdServiceManager>(
        systemctlPath.empty() ? FindSystemctl() : systemctlPath, std::move(fullAccess));
}

std::unique_ptr<ServiceManager> CreateSupervisorServiceManager(const std::string& directory) {
    return std::make_unique<SupervisorServiceManager>(directory);
}

std::unique_ptr<ServiceManager> CreateServiceManager() {
    // An empty value names no directory; it is taken as unset.
    const std::optional<std::string> directory = GetEnvironment(kServiceDirVariable);
    if (directory && !directory->empty())
        return CreateSupervisorServiceManager(*directory);
    return CreateSystemdServiceManager();
}

} // namespace platform
