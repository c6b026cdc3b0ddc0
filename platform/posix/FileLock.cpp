#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

// flock has no timeout of its own; a non-blocking attempt repeated at this pace keeps the
// delay after a release short without keeping a processor busy.
constexpr std::chrono::milliseconds kPollInterval(10);

// Takes the flock of kind on fd, trying again at kPollInterval until timeout; false with
// error set when the wait ran out or the lock cannot be had.
bool LockWithin(int fd, int kind, std::chrono::milliseconds timeout, int& error) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (::flock(fd, kind | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            error = errno;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            error = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
    }
}

// Opens (creating when needed) the lock file. Read access is all flock needs, so a lock file
// that another account created can still be locked. No link is followed and nothing but a
// regular file is accepted: the directory is open to every account, and a link or a FIFO
// planted under a lock's name must neither lead us elsewhere nor block the open.
int OpenLockFile(const std::string& path, int& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = EINVAL;
        ::close(fd);
        return -1;
    }
    // A restrictive umask must not lock the services out of a lock file we made.
    if (st.st_uid == ::geteuid() && (st.st_mode & 0444) != 0444)
        (void)::fchmod(fd, 0644);
    return fd;
}

// Creates the lock directory open to every account, sticky so that no account can remove
// another's lock files. One that exists already is left as it is.
void MakeLockDirectory(const std::string& directory) {
    if (::mkdir(directory.c_str(), 01777) == 0)
        (void)::chmod(directory.c_str(), 01777); // mkdir's mode is cut by the umask
}

} // namespace

FileLock::FileLock(std::string directory) : m_directory(std::move(directory)) {}

FileLock::~FileLock() {
    Release();
}

FileLock::FileLock(FileLock&& other) noexcept
    : m_directory(std::move(other.m_directory)), m_handle(std::exchange(other.m_handle, -1)),
      m_error(other.m_error) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_directory = std::move(other.m_directory);
        m_handle = std::exchange(other.m_handle, -1);
        m_error = other.m_error;
    }
    return *this;
}

std::string FileLock::PathFor(std::string_view name) const {
    // The suffix keeps every name a plain file name, whatever dots it holds.
    std::string path = m_directory;
    path += '/';
    path += name;
    path += ".lock";
    return path;
}

bool FileLock::Acquire(std::string_view name, std::chrono::milliseconds timeout) {
    Release();
    m_error = 0;
    const std::string path = PathFor(name);
    int fd = OpenLockFile(path, m_error);
    if (fd < 0 && m_error == ENOENT) {
        MakeLockDirectory(m_directory);
        fd = OpenLockFile(path, m_error);
    }
    if (fd < 0)
        return false;

    if (LockWithin(fd, LOCK_EX, timeout, m_error)) {
        m_handle = fd;
        return true;
    }
    ::close(fd);
    return false;
}

void FileLock::Release() {
    if (m_handle >= 0) {
        // Closing the only descriptor of the open file drops its lock.
        ::close(static_cast<int>(m_handle));
        m_handle = -1;
    }
}

bool DirectoryLock::Acquire(const std::string& directory, Mode mode,
                            std::chrono::milliseconds timeout) {
    Release();
    m_error = 0;
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    if (!LockWithin(fd, mode == Mode::Shared ? LOCK_SH : LOCK_EX, timeout, m_error)) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    return true;
}

bool DirectoryLock::TimedOut() const {
    return m_error == ETIMEDOUT;
}

void DirectoryLock::Release() {
    if (m_handle >= 0) {
        ::close(static_cast<int>(m_handle));
        m_handle = -1;
    }
}

} // namespace platform
