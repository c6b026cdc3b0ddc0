// A stand-in for one of the suite's services in a supervisor directory, so that the demo and the
// tests restart real processes:
//
//   korvane-standin <supervisor-dir> <ServiceName>
//
// It puts itself in the background and returns once <dir>/<ServiceName>.pid names the
// background process (status 0; 1 when that failed), so a start program may simply exec it.
// While it runs it holds a write lock on its pid file, which is how the supervisor directory
// tells a running service from a pid file left behind.
// Every SIGHUP, the restart request, appends one line to <dir>/<ServiceName>.restarts, naming
// the configuration file it would read again when MAILCONFIGDIR is set. SIGTERM or SIGINT
// removes the pid file and ends it.
//
//   korvane-standin --holder <pid-file>
//
// prints the id of the process that holds the pid file's lock (status 0), or nothing (1).
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Locks the whole file for writing; false when another process holds a lock on it.
bool LockWhole(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_SETLK, &lock) == 0;
}

// The process that holds the lock of the pid file at path, or 0 when none does.
pid_t LockHolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held ? lock.l_pid : 0;
}

// The pid file is the proof that the service runs: it is written beside its final name, locked,
// and renamed over that name, so that a reader never sees a partial id nor an unlocked file of
// a live service. The descriptor stays open (and the lock held) until the process ends; the
// kernel drops the lock however it ends. Returns the descriptor, or -1.
int WritePidFile(const std::string& path) {
    // A second instance of the service must not take over the first one's file.
    if (LockHolder(path) != 0)
        return -1;
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (!LockWhole(fd) || !WriteAll(fd, std::to_string(::getpid()) + "\n") ||
        ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes the pid file unless another process has put its own in its place meanwhile.
void RemovePidFile(const std::string& path, int fd) {
    struct stat ours;
    struct stat now;
    if (::fstat(fd, &ours) == 0 && ::stat(path.c_str(), &now) == 0 && ours.st_dev == now.st_dev &&
        ours.st_ino == now.st_ino)
        ::unlink(path.c_str());
}

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
}

// What a real server would read again on the restart request: its file in MAILCONFIGDIR.
std::string ConfigurationNote(const std::string& service) {
    const char* configDir = std::getenv("MAILCONFIGDIR");
    if (configDir == nullptr || *configDir == '\0')
        return {};
    std::string file;
    for (char c : service)
        file.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    file += ".cfg";
    struct stat st;
    if (::stat((std::string(configDir) + "/" + file).c_str(), &st) != 0)
        return " (" + file + " missing)";
    return " (read " + file + ", " + std::to_string(st.st_size) + " bytes)";
}

void RecordRestart(const std::string& path, const std::string& service, unsigned count) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line, so that a reader never sees half of one.
    (void)WriteAll(fd,
                   Now() + " restart " + std::to_string(count) + ConfigurationNote(service) + "\n");
    ::close(fd);
}

void ToNullDevice() {
    const int fd = ::open("/dev/null", O_RDWR);
    if (fd < 0)
        return;
    for (int target = 0; target <= 2; ++target)
        ::dup2(fd, target);
    if (fd > 2)
        ::close(fd);
}

int Serve(const std::string& directory, const std::string& service, const sigset_t& signals,
          int readyFd) {
    const std::string pidFile = directory + "/" + service + ".pid";
    const int pidFd = WritePidFile(pidFile);
    if (pidFd < 0)
        return 1;
    (void)WriteAll(readyFd, "1");
    ::close(readyFd);

    unsigned restarts = 0;
    for (;;) {
        const int received = ::sigwaitinfo(&signals, nullptr);
        if (received == SIGHUP) {
            RecordRestart(directory + "/" + service + ".restarts", service, ++restarts);
        } else if (received == SIGTERM || received == SIGINT) {
            RemovePidFile(pidFile, pidFd);
            return 0;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    // For scripts, which cannot ask for an fcntl lock themselves: the running service's id.
    if (argc == 3 && std::string(argv[1]) == "--holder") {
        const pid_t holder = LockHolder(argv[2]);
        if (holder <= 0)
            return 1;
        std::printf("%ld\n", static_cast<long>(holder));
        return 0;
    }
    if (argc != 3 || argv[2][0] == '\0' || argv[2][0] == '.' ||
        std::string(argv[2]).find('/') != std::string::npos) {
        std::fprintf(stderr, "usage: %s <supervisor-dir> <ServiceName>\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    const std::string service = argv[2];

    // Blocked before the pid file exists, so that a request sent as soon as it appears is held
    // for the loop instead of ending the process.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0)
        return 1;

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child > 0) {
        // The starter's side: done once the background process reports its pid file, failed
        // when it ends without doing so.
        ::close(ready[1]);
        char byte = 0;
        ssize_t n;
        do {
            n = ::read(ready[0], &byte, 1);
        } while (n < 0 && errno == EINTR);
        return n == 1 ? 0 : 1;
    }
    ::close(ready[0]);
    ::setsid();
    // Nothing of whoever started us stays open here: a test runner waits for its output pipe to
    // close.
    ToNullDevice();
    return Serve(directory, service, signals, ready[1]);
}
