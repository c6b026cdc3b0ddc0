#include "platform/DirectoryList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

struct DirectoryListing::Impl {
    DIR* dir = nullptr;
    bool sawDot = false;
    bool sawDotDot = false;

    void Close() {
        if (dir != nullptr)
            ::closedir(dir);
        dir = nullptr;
    }
};

DirectoryListing::DirectoryListing(const std::string& directory)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->dir = ::opendir(directory.c_str());
    if (m_impl->dir == nullptr) {
        // Nothing to report for a directory that is not there.
        m_impl->sawDot = m_impl->sawDotDot = true;
    }
}

DirectoryListing::~DirectoryListing() {
    m_impl->Close();
}

bool DirectoryListing::IsOpen() const {
    return m_impl->dir != nullptr;
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
    Impl& impl = *m_impl;
    if (impl.dir != nullptr) {
        // A read error mid-way ends the listing as its end does: the caller could do nothing
        // better with it than stop.
        if (const dirent* e = ::readdir(impl.dir)) {
            entry.name = e->d_name;
            if (entry.name == ".") {
                impl.sawDot = true;
                entry.isDirectory = true;
            } else if (entry.name == "..") {
                impl.sawDotDot = true;
                entry.isDirectory = true;
            } else if (e->d_type != DT_UNKNOWN) {
                // The kind comes with the entry on nearly every file system, so a large spool
                // is listed without one status query per folder.
                entry.isDirectory = e->d_type == DT_DIR;
            } else {
                // The link's own kind, not its target's: a link to a folder is reported as a
                // plain entry, so that a recursive deletion never walks through it.
                struct stat st;
                entry.isDirectory =
                    ::fstatat(::dirfd(impl.dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(st.st_mode);
            }
            return true;
        }
        impl.Close();
    }
    // The few file systems that leave out "." or ".." still get them reported, so that every
    // listing looks alike to the callers that skip them.
    if (!impl.sawDot) {
        impl.sawDot = true;
        entry = {".", true};
        return true;
    }
    if (!impl.sawDotDot) {
        impl.sawDotDot = true;
        entry = {"..", true};
        return true;
    }
    return false;
}

} // namespace platform
