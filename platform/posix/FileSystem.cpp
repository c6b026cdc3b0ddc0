#include "platform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <csignal>
#include <iterator>
#include <termios.h>
#include <cstdio>
#include <unistd.h>
#include <vector>

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
    void reset(int fd) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
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

std::optional<std::string> RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return std::nullopt;
    return std::string(resolved);
}

// Whether the resolved path inner is the resolved folder outer or lies below it.
bool IsBelow(const std::string& inner, const std::string& outer) {
    if (!inner.starts_with(outer))
        return false;
    return inner.size() == outer.size() || outer.back() == '/' || inner[outer.size()] == '/';
}

// Whether the object open as fd is the one path resolves to and that lies inside root. Comparing
// device and inode of the open object with what the resolved path names now catches a link
// swapped in between the open and the check.
bool OpenObjectWithin(int fd, const std::string& path, const std::string& root) {
    const auto real = RealPath(path);
    const auto realRoot = RealPath(root);
    if (!real || !realRoot || !IsBelow(*real, *realRoot))
        return false;
    struct stat opened;
    struct stat named;
    return ::fstat(fd, &opened) == 0 && ::stat(real->c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
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
    status.permissions = static_cast<unsigned>(st.st_mode & 07777);
    return status;
}

namespace {

// Reads the regular file open as fd to its end.
template <class Text> bool ReadOpenFile(int fd, Text& out) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Sized from the status, but read to the end: the file may grow while we read it. Whether
    // it did is asked with a small read of its own, so that a file that kept its size (nearly
    // always) is not moved into a larger buffer just to learn that nothing follows.
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t have = 0;
    char probe[4096];
    for (;;) {
        const bool full = have == out.size();
        char* into = full ? probe : out.data() + have;
        const std::size_t room = full ? sizeof probe : out.size() - have;
        ssize_t n = ::read(fd, into, room);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.clear();
            return false;
        }
        if (n == 0)
            break;
        if (full) {
            out.append(probe, static_cast<std::size_t>(n));
            out.resize(out.size() + 65536); // the file grew: read on in larger steps
        }
        have += static_cast<std::size_t>(n);
    }
    out.resize(have);
    return true;
}

// Non-blocking, so that a FIFO or device at the path cannot make us wait forever; only a
// regular file is read, where the flag changes nothing.
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

template <class Text> bool ReadWholeFileInto(const std::string& path, Text& out) {
    out.clear();
    Fd fd(OpenForReading(path));
    return fd.valid() && ReadOpenFile(fd.get(), out);
}

template <class Text>
bool ReadWholeFileWithinInto(const std::string& path, const std::string& root, Text& out) {
    out.clear();
    Fd fd(OpenForReading(path));
    if (!fd.valid())
        return false;
    if (!OpenObjectWithin(fd.get(), path, root)) {
        errno = EACCES;
        return false;
    }
    return ReadOpenFile(fd.get(), out);
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
    return ReadWholeFileInto(path, out);
}

bool ReadWholeFile(const std::string& path, LargeString& out) {
    return ReadWholeFileInto(path, out);
}

bool ReadWholeFileWithin(const std::string& path, const std::string& root, std::string& out) {
    return ReadWholeFileWithinInto(path, root, out);
}

bool ReadWholeFileWithin(const std::string& path, const std::string& root, LargeString& out) {
    return ReadWholeFileWithinInto(path, root, out);
}

bool WriteFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode) {
    // The same as replacing the file a link points to: once resolved, the path is no link.
    return ReplaceFileAtomic(ResolveLink(path), data, newFileMode);
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    // Through the same writer as every save: a copy killed or failing on the way leaves
    // nothing, and an existing copy of that name is replaced whole, never truncated.
    std::string content;
    if (!ReadWholeFile(from, content))
        return false;
    return ReplaceFileAtomic(to, content, 0600);
}

bool WriteFileSynced(const std::string& path, std::string_view data) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid())
        return false;
    if (!WriteAll(fd.get(), data) || ::fdatasync(fd.get()) != 0)
        return false;
    return fd.close();
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

bool SetEnvironment(const char* name, const std::string& value) {
    return ::setenv(name, value.c_str(), 1) == 0;
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

namespace {

// Flushes the folder that holds path, so that a new name in it survives a crash.
void SyncFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        // A file system without the flag: look first, then rename. Only this program names
        // entries this way, and it holds the configuration's lock while it does.
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        struct stat existing;
        if (::lstat(to.c_str(), &existing) == 0 || errno != ENOENT)
            return false;
        if (::rename(from.c_str(), to.c_str()) != 0)
            return false;
    }
    SyncFolderOf(to);
    return true;
}

bool MakeHardLink(const std::string& existing, const std::string& link) {
    if (::link(existing.c_str(), link.c_str()) != 0)
        return false;
    SyncFolderOf(link);
    return true;
}

int LastError() {
    return errno;
}

std::string WriteFailureCause(const std::string& path, int error) {
    struct stat target;
    if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode))
        return S_ISDIR(target.st_mode) ? "An ihrer Stelle steht ein Verzeichnis."
                                       : "An ihrer Stelle steht keine gew\xF6hnliche Datei.";
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct statvfs space;
    const bool known = ::statvfs(folder.c_str(), &space) == 0;
    if (error == EROFS || (known && (space.f_flag & ST_RDONLY)))
        return "Das Dateisystem ist schreibgesch\xFCtzt.";
    if (error == ENOSPC || error == EDQUOT || (known && space.f_bavail == 0))
        return "Der Datentr\xE4ger ist voll.";
    if (error == EACCES || error == EPERM || ::access(folder.c_str(), W_OK) != 0)
        return "Keine Schreibberechtigung f\xFCr den Ordner \"" + folder + "\".";
    if (error == ENOENT || error == ENOTDIR)
        return "Der Ordner \"" + folder + "\" ist nicht vorhanden.";
    if (error == EIO)
        return "Ein Ein-/Ausgabefehler des Datentr\xE4gers.";
    if (error != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Systemfehler %d.", error);
        return text;
    }
    return {};
}

bool IsWritableDirectory(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    struct statvfs space;
    if (::statvfs(path.c_str(), &space) == 0 && (space.f_flag & ST_RDONLY))
        return false;
    return ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

namespace {

struct termios g_shownTerminal; // what the terminal was like before the hidden line
volatile sig_atomic_t g_terminalHidden = 0;

void RestoreTerminalAndDie(int signal) {
    if (g_terminalHidden)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_shownTerminal); // async-signal-safe
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
    if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &g_shownTerminal) != 0)
        return std::nullopt;
    static const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction previous[std::size(kSignals)] = {};
    struct sigaction restore = {};
    restore.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&restore.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &previous[i]);
        // A signal the program was started to ignore (nohup) stays ignored.
        if (previous[i].sa_handler != SIG_IGN)
            ::sigaction(kSignals[i], &restore, nullptr);
    }
    struct termios hidden = g_shownTerminal;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hidden.c_lflag |= ECHONL; // the line end still shows, so the next message starts anew
    (void)!::write(STDERR_FILENO, prompt.data(), prompt.size());
    g_terminalHidden = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    std::string line;
    bool ended = false;
    for (char c;;) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ended = true;
            break;
        }
        if (c == '\n')
            break;
        line += c;
    }
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_shownTerminal);
    g_terminalHidden = 0;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    if (ended && line.empty())
        return std::nullopt;
    return line;
}

// ---------------------------------------------------------------------------------------------
// The atomic writer. Every file the program writes goes through ReplaceInDirectory: targets,
// backup copies and the files of the spool.

namespace {

constexpr std::string_view kTempMarker = ".tmp-";
constexpr std::size_t kTempSuffixLength = 6;

std::atomic<bool> g_unnamedTemporaries{true};

bool IsTempSuffixChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The target name of a temporary file name NAME.tmp-XXXXXX, or nothing for any other name.
std::optional<std::string_view> TargetOfTemporary(std::string_view entry) {
    const std::size_t tail = kTempMarker.size() + kTempSuffixLength;
    if (entry.size() <= tail)
        return std::nullopt;
    const std::string_view target = entry.substr(0, entry.size() - tail);
    if (entry.substr(target.size(), kTempMarker.size()) != kTempMarker)
        return std::nullopt;
    for (char c : entry.substr(entry.size() - kTempSuffixLength))
        if (!IsTempSuffixChar(c))
            return std::nullopt;
    return target;
}

std::string TemporaryNameFor(const std::string& target) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Seeded per thread from the system's entropy: a child made by fork that saves at once
    // must not pick the names its parent picks, and a clash only costs another try anyway.
    thread_local std::mt19937_64 random([] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
               static_cast<std::uint64_t>(::getpid());
    }());
    thread_local pid_t seededFor = ::getpid();
    if (seededFor != ::getpid()) {
        seededFor = ::getpid();
        random.seed(random() ^ static_cast<std::uint64_t>(seededFor));
    }
    std::string name = target;
    name += kTempMarker;
    for (std::size_t i = 0; i < kTempSuffixLength; ++i)
        name.push_back(kAlphabet[random() % (sizeof kAlphabet - 1)]);
    return name;
}

// Removes the stale temporaries in the directory open as dirFd whose target isTarget accepts.
// A writer holds an exclusive flock on its temporary file from before the file has a name
// until it is renamed or removed, so a file we can lock without waiting belongs to no live
// save. After the lock we check that the name still leads to the file we locked, so that we
// never remove a file that took the name meanwhile.
void RemoveStaleIn(int dirFd, const std::function<bool(std::string_view)>& isTarget) {
    std::vector<std::string> candidates;
    {
        const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (listFd < 0)
            return;
        DIR* listing = ::fdopendir(listFd);
        if (listing == nullptr) {
            ::close(listFd);
            return;
        }
        while (const dirent* entry = ::readdir(listing)) {
            const auto target = TargetOfTemporary(entry->d_name);
            if (target && isTarget(*target))
                candidates.emplace_back(entry->d_name);
        }
        ::closedir(listing);
    }
    for (const std::string& name : candidates) {
        struct stat named;
        if (::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode))
            continue;
        Fd fd(::openat(dirFd, name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        struct stat held;
        if (::fstat(fd.get(), &held) != 0 ||
            ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino)
            continue;
        (void)::unlinkat(dirFd, name.c_str(), 0);
    }
}

thread_local SyncBatch* g_syncBatch = nullptr; // the innermost batch open on this thread

} // namespace

struct SyncBatchAccess {
    // Whether a batch is open on this thread; if so, it now knows the file system of the
    // folder open as dirFd. A folder whose file system cannot be told is flushed at once.
    static bool Defer(int dirFd) {
        SyncBatch* batch = g_syncBatch;
        struct stat folder;
        if (batch == nullptr || ::fstat(dirFd, &folder) != 0)
            return false;
        const auto device = static_cast<std::uint64_t>(folder.st_dev);
        for (const auto& known : batch->m_fileSystems)
            if (known.first == device)
                return true;
        const int kept = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
        if (kept < 0)
            return false;
        batch->m_fileSystems.emplace_back(device, kept);
        return true;
    }
};

SyncBatch::SyncBatch() : m_outer(g_syncBatch) {
    g_syncBatch = this;
}

SyncBatch::~SyncBatch() {
    (void)Commit();
    g_syncBatch = m_outer;
}

bool SyncBatch::Commit() {
    bool flushed = true;
    for (const auto& [device, folder] : m_fileSystems) {
#ifdef __linux__
        flushed = ::syncfs(folder) == 0 && flushed;
#else
        ::sync();
#endif
        ::close(folder);
    }
    m_fileSystems.clear();
    return flushed;
}

namespace {

// The temporary file of one save. It is removed (when it has a name) and closed, releasing
// its lock, on every path out of the save that did not rename it.
class TemporaryFile {
public:
    TemporaryFile(int dirFd, const std::string& target) : m_dirFd(dirFd), m_target(target) {}
    ~TemporaryFile() {
        if (!m_name.empty()) {
            const int saved = errno;
            (void)::unlinkat(m_dirFd, m_name.c_str(), 0);
            errno = saved;
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return m_fd.get(); }
    const std::string& name() const { return m_name; }
    void Renamed() { m_name.clear(); }

    // Writes data into a private temporary file, flushes it to the disk (unless flush is
    // false) and gives it its name beside the target.
    bool WriteAndName(std::string_view data, bool flush) {
        const auto written = [&] {
            return WriteAll(m_fd.get(), data) && (!flush || ::fdatasync(m_fd.get()) == 0);
        };
        if (g_unnamedTemporaries && OpenUnnamed()) {
            if (!written())
                return false;
            if (LinkUnnamed())
                return true;
            if (errno != ENOENT && errno != EPERM && errno != EXDEV)
                return false;
            // No way to give an unnamed file a name here (no /proc): write a named one.
        }
        return OpenNamed() && written();
    }

private:
    static constexpr int kNameAttempts = 100;

    bool OpenUnnamed() {
        m_fd.reset(::openat(m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (!m_fd.valid())
            return false; // EOPNOTSUPP, EISDIR, EINVAL ...: the file system has none
        // Locked before it ever has a name, so no cleaner can take it for stale.
        return ::flock(m_fd.get(), LOCK_EX) == 0;
    }

    bool LinkUnnamed() {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::string name = TemporaryNameFor(m_target);
            int rc = ::linkat(AT_FDCWD, self.c_str(), m_dirFd, name.c_str(), AT_SYMLINK_FOLLOW);
            if (rc != 0 && errno == ENOENT) // no /proc; allowed to the privileged only
                rc = ::linkat(m_fd.get(), "", m_dirFd, name.c_str(), AT_EMPTY_PATH);
            if (rc == 0) {
                m_name = std::move(name);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    bool OpenNamed() {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::string name = TemporaryNameFor(m_target);
            m_fd.reset(::openat(m_dirFd, name.c_str(),
                                O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!m_fd.valid()) {
                if (errno == EEXIST)
                    continue;
                return false;
            }
            m_name = name;
            if (::flock(m_fd.get(), LOCK_EX) != 0)
                return false;
            // A cleaner may have locked and removed the file between its creation and our
            // lock; then the name no longer leads to it, and we start again.
            struct stat held;
            struct stat named;
            if (::fstat(m_fd.get(), &held) == 0 &&
                ::fstatat(m_dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino)
                return true;
            m_name.clear();
        }
        return false;
    }

    int m_dirFd;
    std::string m_target;
    Fd m_fd{-1};
    std::string m_name;
};

// Replaces the entry name of the directory open as dirFd by a new file holding data.
bool ReplaceInDirectory(int dirFd, const std::string& name, std::string_view data,
                        unsigned newFileMode) {
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }
    struct stat old;
    const bool exists = ::fstatat(dirFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // Only a regular file hands on its mode and owner; a link or anything else at the path is
    // simply replaced.
    const bool replacingFile = exists && S_ISREG(old.st_mode);

    RemoveStaleIn(dirFd, [&name](std::string_view target) { return target == name; });

    const bool deferred = !exists && SyncBatchAccess::Defer(dirFd);
    TemporaryFile temp(dirFd, name);
    if (!temp.WriteAndName(data, !deferred))
        return false;
    // The mode is handed on only now, right before the rename: until then the file, named or
    // not, is readable by its owner only. The owner goes first, as a change of owner may clear
    // set-id bits.
    if (replacingFile) {
        // A file system without owners (or a refused change) leaves the file ours; the mode
        // below still decides who may read it.
        if (::geteuid() == 0 && ::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) {
        }
        if (::fchmod(temp.fd(), old.st_mode & 07777) != 0)
            return false;
    } else if (::fchmod(temp.fd(), newFileMode) != 0) {
        return false;
    }
    // A link at the name goes, its target stays.
    if (::renameat(dirFd, temp.name().c_str(), dirFd, name.c_str()) != 0)
        return false;
    temp.Renamed();
    if (!deferred)
        (void)::fsync(dirFd);
    return true;
}

int OpenDirectory(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

bool ReplaceFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode) {
    Fd dir(OpenDirectory(DirectoryOf(path)));
    return dir.valid() && ReplaceInDirectory(dir.get(), BaseName(path), data, newFileMode);
}

bool ReplaceFileAtomicWithin(const std::string& path, const std::string& root,
                             std::string_view data, unsigned newFileMode) {
    const std::string folder = DirectoryOf(path);
    Fd dir(OpenDirectory(folder));
    if (!dir.valid())
        return false;
    if (!OpenObjectWithin(dir.get(), folder, root)) {
        errno = EACCES;
        return false;
    }
    return ReplaceInDirectory(dir.get(), BaseName(path), data, newFileMode);
}

void RemoveStaleTemporaries(const std::string& directory,
                            const std::function<bool(std::string_view target)>& isTarget) {
    Fd dir(OpenDirectory(directory));
    if (dir.valid())
        RemoveStaleIn(dir.get(), isTarget);
}

bool StaysWithin(const std::string& path, const std::string& root, Access access) {
    const auto real = RealPath(access == Access::Read ? path : DirectoryOf(path));
    const auto realRoot = RealPath(root);
    if (!real || !realRoot || !IsBelow(*real, *realRoot))
        return false;
    if (access == Access::Read)
        return *real != *realRoot; // root itself is no file inside it
    const std::string name = BaseName(path);
    return !name.empty() && name != "." && name != "..";
}

void UseUnnamedTemporaryFiles(bool enabled) {
    g_unnamedTemporaries = enabled;
}

} // namespace platform
