// The directory services the account store uses on the spool: a watch that stays armed on a
// directory tree, and a scan of the names in a directory that match a wildcard pattern.
#pragma once

#include "platform/DirectoryList.h"
#include "platform/DirectoryWatch.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Arms a change watch on a directory (and optionally everything below it) and holds it until
// Stop; TakeChanges tells whether anything changed since it was last asked. Failures are
// reported to the diagnostic log. Safe to use from several threads; the operations run one at
// a time.
class CFileChangeMonitorEx {
public:
    CFileChangeMonitorEx();
    // With the given watch instead of the system's (tests use a scripted one).
    explicit CFileChangeMonitorEx(std::unique_ptr<platform::DirectoryWatch> watch);
    ~CFileChangeMonitorEx();
    CFileChangeMonitorEx(const CFileChangeMonitorEx&) = delete;
    CFileChangeMonitorEx& operator=(const CFileChangeMonitorEx&) = delete;

    // Arms the watch on directory for the change kinds in filter (platform::ChangeFilter
    // bits). False when a watch is already armed (it stays armed) or arming failed (then
    // nothing is held).
    bool Start(const std::string& directory, std::uint32_t filter, bool watchSubtree);
    // Disarms; does nothing when not armed.
    void Stop();
    bool IsArmed() const;
    // The changes reported since the last call, appended to changes; false when there were
    // none or nothing is armed. Never waits.
    bool TakeChanges(std::vector<platform::DirectoryChange>& changes);

private:
    mutable std::mutex m_lock;
    std::uint32_t m_filter = 0;
    bool m_watchSubtree = false;
    std::unique_ptr<platform::DirectoryWatch> m_watch;
};

// Whether name matches pattern by the rules of the platform the suite was written for: "*"
// stands for any run of characters, "?" for exactly one, letters match regardless of case
// (ASCII only: names are bytes of unknown encoding, and folding other bytes could make two
// different multi-byte characters equal), and a pattern that ends in ".*" also matches where
// the name simply ends, so "*.*" matches every name, with or without a dot.
bool MatchFileName(std::string_view pattern, std::string_view name);

// Enumerates the entries of one directory whose names match a pattern. The pattern is a path
// whose last component may hold wildcards ("spool/*.*"); without a directory part the current
// directory is scanned. "." and ".." are reported like any other folder when they match.
class CDirectoryScan {
public:
    explicit CDirectoryScan(std::string pattern);
    ~CDirectoryScan();
    CDirectoryScan(const CDirectoryScan&) = delete;
    CDirectoryScan& operator=(const CDirectoryScan&) = delete;

    // Moves to the first match on the first call and to the next one after that; false when
    // there is no (further) match or the directory cannot be read.
    bool Next();
    // The current match: its name without the directory, and whether it is a folder (a link
    // to a folder is not). Empty and false when not positioned on a match.
    const std::string& GetName() const { return m_current.name; }
    bool IsDirectory() const { return m_current.isDirectory; }
    // After the first Next: whether the directory could not be opened at all, as opposed to
    // holding no match.
    bool IsUnreadable() const { return m_unreadable; }

private:
    std::string m_pattern;
    std::string m_namePattern; // the last component of m_pattern, split off by the first Next
    std::unique_ptr<platform::DirectoryListing> m_listing; // opened by the first Next
    bool m_started = false;
    bool m_unreadable = false;
    platform::DirectoryEntry m_current;
};
