#include "platform/DirectoryWatch.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Limits of the walk that arms a whole tree. The spool holds one folder per account and few
// levels below it; the depth limit keeps a pathological tree from holding up the start-up.
// Watches come from a budget per user that the suite's services, running under the same user,
// need for the watches they do read; so one tree takes at most a quarter of that budget and
// never more than kMaxWatches, and the rest of a very large tree stays unwatched.
constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxWatches = 65536;

std::size_t WatchBudget() {
    std::size_t limit = 8192; // the system's long-standing default
    if (FILE* f = std::fopen("/proc/sys/fs/inotify/max_user_watches", "re")) {
        unsigned long value = 0;
        if (std::fscanf(f, "%lu", &value) == 1 && value > 0)
            limit = value;
        std::fclose(f);
    }
    return std::max<std::size_t>(1, std::min(kMaxWatches, limit / 4));
}

std::uint32_t InotifyMask(std::uint32_t filter) {
    std::uint32_t mask = 0;
    if (filter & (kChangeFileName | kChangeDirName))
        mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
    if (filter & (kChangeAttributes | kChangeSecurity))
        mask |= IN_ATTRIB;
    if (filter & (kChangeSize | kChangeLastWrite))
        mask |= IN_MODIFY;
    if (filter & kChangeLastAccess)
        mask |= IN_ACCESS;
    if (filter & kChangeCreation)
        mask |= IN_CREATE;
    return mask;
}

// An event of the watched folder itself (wd of the root) as the caller sees it. Events of
// subfolders, when a whole tree is watched, name an entry of that subfolder and count as Other.
DirectoryChange ChangeOf(const inotify_event& event, int rootWatch) {
    DirectoryChange change;
    change.isDirectory = (event.mask & IN_ISDIR) != 0;
    if (event.len > 0 && event.wd == rootWatch)
        change.name = event.name; // NUL-terminated inside its padded length
    if (change.name.empty() || (event.mask & IN_Q_OVERFLOW))
        return change; // Other
    if (event.mask & (IN_CREATE | IN_MOVED_TO))
        change.kind = DirectoryChange::Kind::Added;
    else if (event.mask & (IN_DELETE | IN_MOVED_FROM))
        change.kind = DirectoryChange::Kind::Removed;
    else if (event.mask & (IN_MODIFY | IN_ATTRIB | IN_ACCESS))
        change.kind = DirectoryChange::Kind::Written;
    return change;
}

// The error of a close; the descriptor is gone either way on this system, so it is never
// closed a second time.
int CloseDescriptor(int& fd) {
    int result = ::close(fd) == 0 ? 0 : errno;
    fd = -1;
    return result;
}

class InotifyWatch final : public DirectoryWatch {
public:
    ~InotifyWatch() override {
        if (m_notifier >= 0)
            CloseDescriptor(m_notifier);
        if (m_directory >= 0)
            CloseDescriptor(m_directory);
    }

    int OpenDirectory(const std::string& path) override {
        if (m_directory >= 0)
            return EBUSY;
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return errno;
        m_directory = fd;
        m_path = path;
        return 0;
    }

    int CreateNotifier() override {
        if (m_notifier >= 0)
            return EBUSY;
        // Non-blocking: nothing ever reads it, but nothing may ever hang on it either.
        int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0)
            return errno;
        m_notifier = fd;
        return 0;
    }

    int AddWatch(std::uint32_t filter, bool subtree) override {
        if (m_directory < 0 || m_notifier < 0)
            return EBADF;
        std::uint32_t mask = InotifyMask(filter);
        if (mask == 0)
            return EINVAL;
        int root = ::inotify_add_watch(m_notifier, m_path.c_str(), mask | IN_ONLYDIR);
        if (root < 0)
            return errno;
        m_rootWatch = root;
        if (subtree)
            WatchSubfolders(mask, root);
        return 0;
    }

    int CloseNotifier() override { return m_notifier >= 0 ? CloseDescriptor(m_notifier) : 0; }
    int CloseDirectory() override { return m_directory >= 0 ? CloseDescriptor(m_directory) : 0; }
    bool HasDirectory() const override { return m_directory >= 0; }
    bool HasNotifier() const override { return m_notifier >= 0; }

    bool TakeChanges(std::vector<DirectoryChange>& changes) override {
        if (m_notifier < 0)
            return false;
        // The notifier is non-blocking: read until it is empty.
        alignas(inotify_event) char buffer[16384];
        bool any = false;
        for (;;) {
            const ssize_t n = ::read(m_notifier, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return any;
            any = true;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                changes.push_back(ChangeOf(*event, m_rootWatch));
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    // inotify watches one directory per watch, so a tree is armed folder by folder: every
    // folder that exists now gets its own watch. Links are not followed. The watch of a
    // subfolder is a convenience (no one reads the notifications), so a folder that cannot be
    // read or watched is left out instead of failing the whole watch.
    void WatchSubfolders(std::uint32_t mask, int rootWatch) {
        // The system hands out one watch per folder; a watch number seen before means the
        // walk has come back to a folder it already armed.
        const std::size_t budget = WatchBudget();
        std::unordered_set<int> armed{rootWatch};
        std::vector<std::pair<std::string, int>> pending{
            {std::string(), 0}}; // relative path, depth
        while (!pending.empty() && armed.size() < budget) {
            auto [relative, depth] = std::move(pending.back());
            pending.pop_back();
            int fd = ::openat(m_directory, relative.empty() ? "." : relative.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                continue;
            DIR* dir = ::fdopendir(fd);
            if (dir == nullptr) {
                ::close(fd);
                continue;
            }
            while (const dirent* e = ::readdir(dir)) {
                std::string_view name = e->d_name;
                if (name == "." || name == "..")
                    continue;
                bool isFolder = e->d_type == DT_DIR;
                if (e->d_type == DT_UNKNOWN) {
                    struct stat st;
                    isFolder = ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISDIR(st.st_mode);
                }
                if (!isFolder)
                    continue;
                std::string child =
                    relative.empty() ? std::string(name) : relative + "/" + std::string(name);
                std::string full = m_path + "/" + child;
                int wd = ::inotify_add_watch(m_notifier, full.c_str(),
                                             mask | IN_ONLYDIR | IN_DONT_FOLLOW);
                if (wd < 0) {
                    if (errno == ENOSPC || errno == ENOMEM) {
                        // The system's watch limit: the rest of the tree stays unwatched.
                        ::closedir(dir);
                        return;
                    }
                    continue;
                }
                if (!armed.insert(wd).second || depth + 1 >= kMaxDepth)
                    continue;
                if (armed.size() >= budget)
                    break;
                pending.emplace_back(std::move(child), depth + 1);
            }
            ::closedir(dir);
        }
    }

    int m_directory = -1;
    int m_notifier = -1;
    int m_rootWatch = -1;
    std::string m_path;
};

} // namespace

std::unique_ptr<DirectoryWatch> CreateDirectoryWatch() {
    return std::make_unique<InotifyWatch>();
}

} // namespace platform
