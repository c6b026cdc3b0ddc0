#include "platform/ServiceManager.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <limits>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// ---------------------------------------------------------------------------------------------
// systemd

class SystemdServiceManager : public ServiceManager {
public:
    explicit SystemdServiceManager(std::string systemctl) : m_systemctl(std::move(systemctl)) {}

    bool QueryStatus(const std::string& service, ServiceStatus& status) override {
        const std::string unit = SystemdUnitName(service);
        if (unit.empty() || m_systemctl.empty())
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
        if (unit.empty() || m_systemctl.empty())
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

// How much later than its pid file's last write a process may seem to have started and still
// count as its writer: the file's time and the process's start time come from different clocks,
// and the start time counts in ticks.
constexpr double kStartTimeSlackSeconds = 1.0;

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

struct ProcessInfo {
    char state = '?';
    unsigned long long startTicks = 0; // after the system's boot
};

// From /proc/<pid>/stat: the state letter is the field after the parenthesised command name
// (which may itself hold blanks and parentheses), the start time the twentieth after it.
bool ReadProcessInfo(pid_t pid, ProcessInfo& info) {
    std::string text;
    if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", text))
        return false;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::vector<std::string> fields;
    std::size_t pos = close + 1;
    while (pos < text.size() && fields.size() < 20) {
        const std::size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        const std::size_t end = text.find(' ', start);
        fields.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        pos = end == std::string::npos ? text.size() : end;
    }
    if (fields.size() < 20 || fields[0].size() != 1)
        return false;
    info.state = fields[0][0];
    return ParseDecimal(fields[19], std::numeric_limits<unsigned long long>::max(),
                        info.startTicks);
}

double Seconds(const timespec& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// When the process started, in seconds since 1970; nothing when we cannot tell.
bool ProcessStartTime(const ProcessInfo& info, double& start) {
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    timespec now{};
    timespec sinceBoot{};
    if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
        return false;
    start = Seconds(now) - Seconds(sinceBoot) +
            static_cast<double>(info.startTicks) / static_cast<double>(ticksPerSecond);
    return true;
}

enum class PidFile {
    NoLiveProcess, // missing, unreadable, malformed, or naming a process that is gone
    Live,
    Foreign, // names a live process we may not signal
};

// Whether the pid file at path names a live process, and which. A zombie is not alive: it will
// never act on a signal, though the system still accepts one for it.
PidFile CheckPidFile(const std::string& path, pid_t& pid) {
    struct stat st;
    std::string text;
    unsigned long long value = 0;
    // Ids 0 and 1 are never a service: a signal to 0 would reach our own process group, one to
    // 1 the system's init.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 64 ||
        !ReadWholeFile(path, text) ||
        !ParseDecimal(text, static_cast<unsigned long long>(std::numeric_limits<pid_t>::max()),
                      value) ||
        value <= 1)
        return PidFile::NoLiveProcess;
    pid = static_cast<pid_t>(value);

    bool foreign = false;
    if (::kill(pid, 0) != 0) {
        if (errno != EPERM)
            return PidFile::NoLiveProcess;
        foreign = true;
    }
    // Without /proc (or without sight of the process there) the signal test above is all we
    // have.
    ProcessInfo info;
    if (ReadProcessInfo(pid, info)) {
        if (info.state == 'Z' || info.state == 'X')
            return PidFile::NoLiveProcess;
        // A process that started after its pid file was last written cannot have written it:
        // the id was given anew after the service ended without removing the file. A signal
        // to that process would hit a stranger. (A wall clock set forward by more than the
        // slack after the service started makes it look younger than its file, and so stopped;
        // missing one restart request is the lesser harm.)
        double start = 0;
        if (ProcessStartTime(info, start) && start > Seconds(st.st_mtim) + kStartTimeSlackSeconds)
            return PidFile::NoLiveProcess;
    }
    return foreign ? PidFile::Foreign : PidFile::Live;
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

std::string SystemdUnitName(const std::string& service) {
    static const std::map<std::string, std::string> units = {
        {"SMTPd", "korvane-smtpd.service"},     {"MDAd", "korvane-mdad.service"},
        {"POP3d", "korvane-pop3d.service"},     {"IMAP4d", "korvane-imap4d.service"},
        {"SYSLOGd", "korvane-syslogd.service"}, {"Schedule", "cron.service"},
    };
    auto it = units.find(service);
    return it == units.end() ? std::string() : it->second;
}

std::unique_ptr<ServiceManager> CreateSystemdServiceManager(const std::string& systemctlPath) {
    return std::make_unique<SystemdServiceManager>(systemctlPath.empty() ? FindSystemctl()
                                                                         : systemctlPath);
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
