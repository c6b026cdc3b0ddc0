#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Closes a descriptor on every path out of a function.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether the close itself succeeded (it can report a late
    // write error on some file systems).
    bool close() {
        int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, std::string_view data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The file a save really replaces: the target of a link, so that the link survives.
std::string ResolveLink(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path; // a dangling link: replace the link itself
    return resolved;
}

} // namespace

std::optional<FileStatus> StatPath(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    FileStatus status;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.modified = static_cast<std::int64_t>(st.st_mtime);
    status.size = static_cast<std::uint64_t>(st.st_size);
    return status;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    // Non-blocking, so that a FIFO or device at the path cannot make us wait forever; only a
    // regular file is read, where the flag changes nothing.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return false;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Sized from the status, but read to the end: the file may grow while we read it.
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t have = 0;
    for (;;) {
        if (have == out.size())
            out.resize(out.size() + 65536);
        ssize_t n = ::read(fd.get(), out.data() + have, out.size() - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.clear();
            return false;
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    out.resize(have);
    return true;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode) {
    // The same as replacing the file a link points to: once resolved, the path is no link.
    return ReplaceFileAtomic(ResolveLink(path), data, newFileMode);
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    std::string content;
    if (!ReadWholeFile(from, content))
        return false;
    Fd fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid())
        return false;
    bool ok = WriteAll(fd.get(), content);
    return fd.close() && ok;
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

std::optional<std::string> GetEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::string FormatLocalTimeNow(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buffer[128];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

} // namespace platform

// ---------------------------------------------------------------------------------------------
// Account folders: nothing here follows a link at the given path.

namespace platform {

PathKind QueryPathKind(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return PathKind::Missing;
    if (S_ISLNK(st.st_mode))
        return PathKind::Link;
    if (S_ISDIR(st.st_mode))
        return PathKind::Directory;
    if (S_ISREG(st.st_mode))
        return PathKind::File;
    return PathKind::Other;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

bool ReplaceFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode) {
    struct stat old;
    const bool exists = ::lstat(path.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return false;
    // Only a regular file hands on its mode and owner; a link or anything else at the path is
    // simply replaced.
    const bool replacingFile = exists && S_ISREG(old.st_mode);

    std::string temp = path + ".tmp-XXXXXX";
    Fd fd(::mkstemp(temp.data())); // created with mode 0600
    if (!fd.valid())
        return false;
    bool ok = WriteAll(fd.get(), data);
    if (ok) {
        if (replacingFile) {
            ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
            if (::geteuid() == 0)
                (void)::fchown(fd.get(), old.st_uid, old.st_gid);
        } else {
            ok = ::fchmod(fd.get(), newFileMode) == 0;
        }
    }
    ok = ok && ::fdatasync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0; // a link at path goes, its target stays
    if (!ok) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    Fd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        (void)::fsync(dir.get());
    return true;
}

} // namespace platform
