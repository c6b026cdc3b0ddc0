// File-system services the storage library needs. The POSIX implementation is in
// posix/FileSystem.cpp; a Windows one would sit beside it with the same contract.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The separator PathJoin puts between a directory and a name.
inline constexpr char kPathSeparator = '/';

struct FileStatus {
    bool isDirectory = false;
    std::int64_t modified = 0; // seconds since 1970
    std::uint64_t size = 0;
};

// Status of the object at path (following links), or nothing when it does not exist or
// cannot be queried.
std::optional<FileStatus> StatPath(const std::string& path);

// Reads the whole regular file into out. False for a missing or unreadable file and for a
// directory; out then holds nothing useful.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces the file at path by data without ever leaving a partial file behind: the data goes
// to a temporary file in the same directory, is flushed to the disk and renamed over path.
// A link at path is followed, so the file it points to is replaced and the link stays. The new
// file keeps the mode (and, where we may, the owner) of the file it replaces; a new file gets
// newFileMode. On failure the old file is untouched, the temporary file is removed, and the
// function returns false.
bool WriteFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode = 0644);

// Copies the file from to the file to, replacing an existing one. False when from cannot be
// read or to cannot be written.
bool CopyFileReplacing(const std::string& from, const std::string& to);

// Creates one directory; false when it could not be created (also when it exists already).
bool MakeDirectory(const std::string& path);

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> GetEnvironment(const char* name);

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

// Like WriteFileAtomic, except that a link at path is replaced by the new file instead of
// being followed. A file that is replaced keeps its mode (and, where we may, its owner); a new
// file gets newFileMode, and is never readable by others on the way (the temporary file is
// created private).
bool ReplaceFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode);

} // namespace platform
