// File-system services the storage library needs. The POSIX implementation is in
// posix/FileSystem.cpp, the Windows one in win32/FileSystem.cpp (where there are no mode bits: a
// newFileMode only decides whether a new file is private, as 0600, with an access list of its
// owner and the system, or takes its folder's rules; a replaced file keeps its attributes and
// access rules).
#pragma once

#include "platform/Memory.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The separator PathJoin puts between a directory and a name, and the characters that separate
// the parts of a path (Windows takes "/" as well as its own "\\").
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
#endif

// What follows the last separator of path: its file name (all of path when it has none).
inline std::string BaseName(std::string_view path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

struct FileStatus {
    bool isDirectory = false;
    std::int64_t modified = 0; // seconds since 1970
    std::uint64_t size = 0;
    unsigned permissions = 0; // the mode's permission bits (0644 and the like)
};

// Status of the object at path (following links), or nothing when it does not exist or
// cannot be queried.
std::optional<FileStatus> StatPath(const std::string& path);

// Reads the whole regular file into out. False for a missing or unreadable file and for a
// directory; out then holds nothing useful.
bool ReadWholeFile(const std::string& path, std::string& out);
// The same into a buffer for large files (see Memory.h).
bool ReadWholeFile(const std::string& path, LargeString& out);

// Replaces the file at path by data without ever leaving a partial file behind: the data goes
// to a temporary file in the same directory, is flushed to the disk and renamed over path.
// A link at path is followed, so the file it points to is replaced and the link stays. The new
// file keeps the mode (and, where we may, the owner: when we run as root) of the file it
// replaces, so that the services can still read it; a new file gets newFileMode. On failure
// the old file is untouched, the temporary file is removed, and the function returns false.
// A full disk, a read-only folder or a crash thus leave the old file whole. See
// ReplaceFileAtomic for what a crash leaves behind.
bool WriteFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode = 0644);

// Copies the file from to the file to, replacing an existing one whole (atomically, as
// ReplaceFileAtomic does; a link at to is replaced, and a new copy is readable by its owner
// only). False when from cannot be read or to cannot be written; a failed copy leaves nothing.
bool CopyFileReplacing(const std::string& from, const std::string& to);

// Writes data to path plainly (created, or truncated when it exists) and flushes it to the
// disk with one fdatasync: no temporary file, no rename, no folder sync. Not for the
// program's own files, which go through WriteFileAtomic; it is the floor the benchmarks
// measure a safe save against. False when the file could not be written or flushed.
bool WriteFileSynced(const std::string& path, std::string_view data);

// Creates one directory; false when it could not be created (also when it exists already).
bool MakeDirectory(const std::string& path);

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> GetEnvironment(const char* name);
// Sets an environment variable of this process (replacing its value); false on failure.
bool SetEnvironment(const char* name, const std::string& value);

// The current local time formatted with strftime rules.
std::string FormatLocalTimeNow(const char* format);

} // namespace platform

// ---------------------------------------------------------------------------------------------
// Account folders: the operations below never follow a link at the path they are given, so
// that deleting or rewriting inside an account folder cannot reach outside it.

namespace platform {

// What the path itself is; a link is reported as a link, whatever it points to.
enum class PathKind { Missing, File, Directory, Link, Other };
PathKind QueryPathKind(const std::string& path);

// Removes one directory entry that is not a folder: a file, or a link as a link (its target
// stays). False when nothing was removed.
bool RemoveFile(const std::string& path);

// Removes an empty folder; false when it is not empty, not a folder, or cannot be removed.
bool RemoveEmptyDirectory(const std::string& path);

// Gives the entry at from the name to within the same file system, folders included; never
// replaces anything already at to (false then, and nothing moved). The folder that holds both
// is flushed, so that the new name survives a crash.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Gives the file existing a second name link in the same file system (a hard link: both names
// share the bytes); never replaces anything at link. The folder is flushed as above.
bool MakeHardLink(const std::string& existing, const std::string& link);

// Why writing the file at path failed, in German for the user ("Der Datenträger ist voll."),
// from error (an errno value of the failed write, 0 when unknown) and from what the path and
// its folder are now: not a regular file, a read-only file system, no room left, no
// permission. Empty when nothing can be said.
std::string WriteFailureCause(const std::string& path, int error);

// The errno value of the calling thread, for WriteFailureCause.
int LastError();

// Whether path is a folder this process can create files in (it exists, is a folder, and
// neither its permissions nor a read-only file system stand in the way).
bool IsWritableDirectory(const std::string& path);

// Whether the program's standard input is a terminal a person types into.
bool StandardInputIsTerminal();

// Writes prompt to standard error and reads one line typed at the terminal of standard input
// without showing it (a password); nothing when standard input is no terminal or ends first.
// The terminal shows what is typed again afterwards, also when the program is interrupted
// while it waits (the signal is then delivered as before).
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

// Like WriteFileAtomic, except that a link at path is replaced by the new file instead of
// being followed. A file that is replaced keeps its mode (and, where we may, its owner); a new
// file gets newFileMode.
//
// What a crash leaves: the temporary file is, where the file system allows, created without a
// name, so the kernel discards it with the process; it gets its name NAME.tmp-XXXXXX only just
// before the rename, and only then the target's mode (until then it is readable by its owner
// only). Where no unnamed file can be made, a private named one is used. Either way a writer
// holds an exclusive flock on its temporary file for as long as it exists, and every save first
// removes the temporary siblings of its target that no live writer holds (see
// RemoveStaleTemporaries), so an orphan of a killed save never survives the next save.
bool ReplaceFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode);

// Removes from directory the temporary files that saves killed on the way left behind: entries
// named T.tmp-XXXXXX (six letters or digits) for a target name T that isTarget accepts, which
// are regular files (a link of that name stays) and which no live writer holds locked.
void RemoveStaleTemporaries(const std::string& directory,
                            const std::function<bool(std::string_view target)>& isTarget);

// Confinement to one folder (an account folder's files to the spool): whether path, with every
// link in it resolved, stays inside root.
enum class Access {
    Read,  // the object at path itself must exist and resolve to something below root
    Write, // the folder that holds path must be root or lie below it, and path must name an
           // entry of it: a write replaces a link at path, never follows it
};
bool StaysWithin(const std::string& path, const std::string& root, Access access);

// ReadWholeFile for a file that must lie inside root: a path that leads elsewhere through a
// link is refused like an unreadable file (false, errno EACCES). The check is made on the file
// actually opened, so a link swapped in meanwhile cannot slip through.
bool ReadWholeFileWithin(const std::string& path, const std::string& root, std::string& out);
bool ReadWholeFileWithin(const std::string& path, const std::string& root, LargeString& out);

// ReplaceFileAtomic inside root: refused (false, errno EACCES, nothing written) unless the
// folder holding path lies inside root. The folder is checked once opened and written through
// that handle, so nothing is ever created or changed outside root.
bool ReplaceFileAtomicWithin(const std::string& path, const std::string& root,
                             std::string_view data, unsigned newFileMode);

// For tests: false makes every save take the named temporary file that is otherwise only the
// fallback for file systems without unnamed ones. True by default.
void UseUnnamedTemporaryFiles(bool enabled);

// Many new files with one flush instead of one each (an import of thousands of accounts spends
// nearly all its time in those flushes otherwise). While a batch is open on a thread, the
// atomic writers of this thread leave out the flush of a file they create, and of its folder,
// and remember the file system instead; Commit flushes each such file system once. A file that
// replaces one already there is flushed at once as always, so what existed before the batch is
// never at risk. What a crash before the commit may lose or leave empty is only new files: the
// caller commits before it saves anything that refers to them. Batches nest; the destructor
// commits what was not committed.
class SyncBatch {
public:
    SyncBatch();
    ~SyncBatch();
    SyncBatch(const SyncBatch&) = delete;
    SyncBatch& operator=(const SyncBatch&) = delete;

    // Flushes every file system the batch wrote new files to, and starts afresh; false when one
    // of them could not be flushed (the files are then in an unknown state on the disk).
    bool Commit();

private:
    friend struct SyncBatchAccess;
    SyncBatch* m_outer;
    std::vector<std::pair<std::uint64_t, int>> m_fileSystems; // device, a folder open on it
};

} // namespace platform
