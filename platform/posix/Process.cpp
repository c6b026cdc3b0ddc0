#include "platform/Process.h"
#include "platform/Security.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// Where a started program's standard descriptors lead.
enum class Stdio {
    Inherit, // the same as ours
    Null,    // the null device; output to a pipe where one is given
};

// The spawn settings every program we start gets. A program starts with no blocked and no
// ignored signal, whatever this process has set for itself (an ignored SIGPIPE or SIGHUP would
// otherwise be passed on), and with no descriptor of ours beyond the three standard ones: our
// own descriptors are opened close-on-exec, and on this C library the spawn closes whatever a
// library opened without that flag as well.
class SpawnSettings {
public:
    SpawnSettings(Stdio stdio, int outputPipe, bool newSession) {
        m_ok = posix_spawn_file_actions_init(&m_actions) == 0;
        if (!m_ok)
            return;
        m_actionsMade = true;
        m_ok = posix_spawnattr_init(&m_attributes) == 0;
        if (!m_ok)
            return;
        m_attributesMade = true;

        if (stdio == Stdio::Null) {
            m_ok = posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0) == 0;
            if (outputPipe >= 0)
                m_ok = m_ok && posix_spawn_file_actions_adddup2(&m_actions, outputPipe, 1) == 0;
            else
                m_ok = m_ok && posix_spawn_file_actions_addopen(&m_actions, 1, "/dev/null",
                                                                O_WRONLY, 0) == 0;
            m_ok = m_ok &&
                   posix_spawn_file_actions_addopen(&m_actions, 2, "/dev/null", O_WRONLY, 0) == 0;
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        m_ok = m_ok && posix_spawn_file_actions_addclosefrom_np(&m_actions, 3) == 0;
#endif

        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (newSession)
            flags |= POSIX_SPAWN_SETSID;
        m_ok = m_ok && posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
               posix_spawnattr_setsigdefault(&m_attributes, &all) == 0 &&
               posix_spawnattr_setflags(&m_attributes, flags) == 0;
    }
    ~SpawnSettings() {
        if (m_actionsMade)
            posix_spawn_file_actions_destroy(&m_actions);
        if (m_attributesMade)
            posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    // Starts path; 0 and the new process's id, or the system's error code.
    int Spawn(const std::string& path, const std::vector<std::string>& arguments, pid_t& pid) {
        if (!m_ok)
            return ENOMEM;
        std::vector<char*> argv;
        argv.reserve(arguments.size() + 2);
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        // The path is taken as given, never looked up in PATH.
        return posix_spawn(&pid, path.c_str(), &m_actions, &m_attributes, argv.data(), environ);
    }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    bool m_actionsMade = false;
    bool m_attributesMade = false;
    bool m_ok = false;
};

// Waits for pid to end; its exit status, or -1 when it did not exit normally.
int WaitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::string OwnExecutablePath() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0)
            return {};
        // A result that fills the buffer may have been cut short.
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

int StartDetached(const std::string& path, const std::vector<std::string>& arguments) {
    // A session of its own: the new instance outlives us and must not share our terminal's
    // interrupts. We end right after starting it, so it never stays behind as our zombie.
    SpawnSettings settings(Stdio::Inherit, -1, true);
    pid_t pid = 0;
    return settings.Spawn(path, arguments, pid);
}

int RunAndWait(const std::string& path, const std::vector<std::string>& arguments,
               std::string* output) {
    int pipeFds[2] = {-1, -1};
    if (output != nullptr) {
        output->clear();
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return -1;
    }
    pid_t pid = 0;
    int error = 0;
    {
        SpawnSettings settings(Stdio::Null, pipeFds[1], false);
        error = settings.Spawn(path, arguments, pid);
    }
    if (pipeFds[1] >= 0)
        ::close(pipeFds[1]);
    if (error != 0) {
        if (pipeFds[0] >= 0)
            ::close(pipeFds[0]);
        return -1;
    }
    if (output != nullptr) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            output->append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipeFds[0]);
    }
    return WaitForExit(pid);
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& path,
                                                  const std::vector<std::string>& arguments,
                                                  int* error) {
    SpawnSettings settings(Stdio::Null, -1, true);
    pid_t pid = 0;
    const int result = settings.Spawn(path, arguments, pid);
    if (error != nullptr)
        *error = result;
    if (result != 0)
        return nullptr;
    return std::unique_ptr<ChildProcess>(new ChildProcess(static_cast<int>(pid)));
}

ChildProcess::~ChildProcess() {
    (void)Running();
}

bool ChildProcess::Running() {
    if (m_ended)
        return false;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    // 0: still running. An error means it is not our child to wait for any more.
    if (result == 0)
        return true;
    m_ended = true;
    return false;
}

bool IsAdministrator() {
    return ::geteuid() == 0;
}

} // namespace platform
