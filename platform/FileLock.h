// Machine-wide named locks shared with the suite's services. On Windows the services guard a
// message file with a named mutex called after the file's base name, and so does win32/FileLock:
// with kLockDirectory the mutex is "Global\<name>" (the services run in session 0, whose names
// are the global ones), with any other directory a private name derived from it, so that tests
// stay apart. On POSIX the same name picks a lock file in one lock directory of the machine, and
// an exclusive advisory lock on that file plays the mutex. Any process that follows the naming
// rule takes part. The rest of this comment is about POSIX.
//
// The lock files live in their own directory, not beside the files they guard: a name shared by
// files in different folders then means one lock, as it does for the services' mutexes, and the
// account folders stay free of files the services could take for mail. Lock files are never
// removed (removing a lock file that another process is about to lock would split the lock);
// they are empty, and the directory sits on a file system that is cleared at boot.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The lock directory of the suite. Created on first use, open to every local account (with the
// sticky bit, like its parent), so that services running under their own accounts can join in.
inline constexpr const char* kLockDirectory = "/run/lock/korvane";

// Holds one named lock until Release or destruction. Not shared between threads; two objects
// for the same name exclude each other within one process as well as across processes.
class FileLock {
public:
    // Lock files go to directory (the suite's one unless a test says otherwise).
    explicit FileLock(std::string directory = kLockDirectory);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;

    // Takes the lock called name, waiting at most timeout for another holder to let go. False
    // when the wait ran out (LastError() is then ETIMEDOUT's value) or the lock file could not
    // be made or opened (LastError() is the system's error code). An object already holding a
    // lock releases it first.
    bool Acquire(std::string_view name, std::chrono::milliseconds timeout);
    void Release();

    bool IsHeld() const { return m_handle >= 0; }
    int LastError() const { return m_error; }
    // The lock file that stands for name.
    std::string PathFor(std::string_view name) const;

private:
    std::string m_directory;
    // The open lock file's descriptor; on Windows the mutex's or the folder's handle. -1 when
    // nothing is held.
    std::intptr_t m_handle = -1;
    int m_error = 0;
};

// A lock on a directory itself, taken on the directory's own descriptor: no file is made, so it
// works in a directory the holder may not write to. Programs that read a configuration
// directory hold it shared, one that writes it holds it alone. Like FileLock, two objects
// exclude each other within one process too. Windows cannot lock a directory's bytes: there the
// lock is taken on a file in %ProgramData%\Korvane\locks named after the directory's full path,
// still nothing in the directory itself.
class DirectoryLock {
public:
    enum class Mode { Shared, Exclusive };

    DirectoryLock() = default;
    ~DirectoryLock() { Release(); }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Takes the lock on directory, waiting at most timeout; false when the wait ran out
    // (LastError() is ETIMEDOUT's value) or the directory cannot be opened. A lock held already
    // is released first.
    bool Acquire(const std::string& directory, Mode mode, std::chrono::milliseconds timeout);
    void Release();
    bool IsHeld() const { return m_handle >= 0; }
    int LastError() const { return m_error; }
    // The last Acquire failed because the wait ran out, not because of the directory.
    bool TimedOut() const;

private:
    // The open lock file's descriptor; on Windows the mutex's or the folder's handle. -1 when
    // nothing is held.
    std::intptr_t m_handle = -1;
    int m_error = 0;
};

} // namespace platform
