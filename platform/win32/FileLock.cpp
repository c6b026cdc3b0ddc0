// The services' own named mutexes, and directory locks as byte-range locks on lock files.
//
// A mutex called after a message file's base name is what the services take; it is the lock
// here too. The services run in the machine's session, whose names are the global ones, so the
// suite's names are taken in the global namespace. Any other lock directory (a test's) stands
// for a private set of names: a prefix made from the directory keeps them apart from the
// services' and from each other.
//
// A mutex belongs to the thread that took it: the object is released on the thread that
// acquired it, as it is not shared between threads anyway. A thread that ends while holding
// one leaves it abandoned, which the next waiter counts as taken.
#include "platform/FileLock.h"
#include "platform/win32/Text.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

using win32::AnsiFromWide;
using win32::WideFromAnsi;
namespace {

// LockFileEx has no timeout of its own; a non-blocking attempt repeated at this pace keeps the
// delay after a release short without keeping a processor busy.
constexpr std::chrono::milliseconds kPollInterval(10);

// FNV-1a over the UTF-16 units, as sixteen hexadecimal digits: short, stable across runs and
// machines, and free of characters a name may not hold.
std::wstring Fingerprint(const std::wstring& text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const wchar_t unit : text) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (static_cast<std::uint16_t>(unit) >> shift) & 0xFF;
            hash *= 0x100000001b3ULL;
        }
    }
    wchar_t hex[17];
    std::swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The end of a wait of timeout; a wait longer than a day is a day, so that the sum cannot
// overflow the clock.
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::milliseconds timeout) {
    using namespace std::chrono_literals;
    return std::chrono::steady_clock::now() +
           std::clamp<std::chrono::milliseconds>(timeout, 0ms, 24h);
}

DWORD Milliseconds(std::chrono::steady_clock::duration left) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
}

// Mutexes count per thread, not per object: a thread that holds one would simply take it again.
// The names held by this process are therefore kept here, and a second object for a held name
// waits until the first lets go.
struct HeldNames {
    std::mutex guard;
    std::condition_variable released;
    std::map<std::wstring, std::intptr_t> holders; // name -> handle, -1 while being taken
};

HeldNames& Held() {
    static HeldNames held;
    return held;
}

void Forget(const std::wstring& name) {
    HeldNames& held = Held();
    {
        std::lock_guard<std::mutex> lock(held.guard);
        held.holders.erase(name);
    }
    held.released.notify_all();
}

// The suite's mutex of name: created when no one has it yet. The services' mutex may refuse us
// full access; waiting and releasing need no more than SYNCHRONIZE. An account that may not
// create global names (no administrator) takes the name in its own session: no service can hold
// a mutex there, but neither can it hold the global one, which does not exist.
HANDLE OpenNamedMutex(const std::wstring& objectName, bool suite, DWORD& error) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, objectName.c_str());
    if (!mutex && suite && GetLastError() == ERROR_ACCESS_DENIED) {
        mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, objectName.c_str());
        if (!mutex && GetLastError() == ERROR_FILE_NOT_FOUND)
            mutex = CreateMutexW(nullptr, FALSE, objectName.c_str() + 7); // without "Global\"
    }
    if (!mutex)
        error = GetLastError();
    return mutex;
}

// The folder of the directory locks' files. Not the locked directory itself: a byte-range lock
// needs a file, a file in a configuration directory would be taken for part of the
// configuration (and the holder may not be allowed to write there), and a directory's own
// handle cannot be locked. One folder for the machine, so that programs under other accounts
// meet on the same file; empty, with the system's error, when it cannot be made.
std::wstring LockFolder() {
    wchar_t base[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return {};
    }
    std::wstring folder = std::wstring(base) + L"\\Korvane";
    (void)CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\locks";
    // No folder of one's own instead: programs of other accounts would lock other files there.
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return folder;
    return {};
}

// The directory's name as the system knows it after links and short names, with its case folded
// (the file system ignores case): every spelling of one directory gives one lock.
bool DirectoryKey(const std::string& directory, std::wstring& key, DWORD& error) {
    const std::wstring wide = WideFromAnsi(directory);
    const HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        error = GetLastError();
        CloseHandle(handle);
        return false;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        error = ERROR_DIRECTORY;
        return false;
    }
    key.assign(32768, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, key.data(), static_cast<DWORD>(key.size()),
                                             FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (length == 0 || length >= key.size())
        length =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(key.size()), key.data(), nullptr);
    if (length == 0 || length >= key.size()) {
        error = GetLastError();
        return false;
    }
    key.resize(length);
    while (key.size() > 1 && (key.back() == L'\\' || key.back() == L'/'))
        key.pop_back();
    CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return true;
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
    // A backslash would make the system look for a namespace of that name.
    std::wstring base = WideFromAnsi(name);
    std::replace(base.begin(), base.end(), L'\\', L'_');
    if (m_directory == kLockDirectory)
        return AnsiFromWide(L"Global\\" + base);
    return AnsiFromWide(L"Local\\korvane-" + Fingerprint(WideFromAnsi(m_directory)) + L"-" + base);
}

bool FileLock::Acquire(std::string_view name, std::chrono::milliseconds timeout) {
    Release();
    m_error = 0;
    const std::wstring objectName = WideFromAnsi(PathFor(name));
    const auto deadline = DeadlineAfter(timeout);

    HeldNames& held = Held();
    {
        std::unique_lock<std::mutex> lock(held.guard);
        if (!held.released.wait_until(lock, deadline,
                                      [&] { return held.holders.count(objectName) == 0; })) {
            m_error = ETIMEDOUT;
            return false;
        }
        held.holders.emplace(objectName, -1);
    }

    DWORD error = 0;
    const HANDLE mutex = OpenNamedMutex(objectName, m_directory == kLockDirectory, error);
    if (!mutex) {
        Forget(objectName);
        m_error = static_cast<int>(error);
        return false;
    }
    // An abandoned mutex is ours all the same: its holder ended without letting go, and the
    // file it guarded is as complete as a crash left it either way.
    const DWORD waited =
        WaitForSingleObject(mutex, Milliseconds(deadline - std::chrono::steady_clock::now()));
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        m_handle = reinterpret_cast<std::intptr_t>(mutex);
        std::lock_guard<std::mutex> lock(held.guard);
        held.holders[objectName] = m_handle;
        return true;
    }
    m_error = waited == WAIT_TIMEOUT ? ETIMEDOUT : static_cast<int>(GetLastError());
    CloseHandle(mutex);
    Forget(objectName);
    return false;
}

void FileLock::Release() {
    if (m_handle < 0)
        return;
    const HANDLE mutex = reinterpret_cast<HANDLE>(std::exchange(m_handle, -1));
    (void)ReleaseMutex(mutex);
    CloseHandle(mutex);
    HeldNames& held = Held();
    {
        std::lock_guard<std::mutex> lock(held.guard);
        for (auto it = held.holders.begin(); it != held.holders.end(); ++it) {
            if (it->second == reinterpret_cast<std::intptr_t>(mutex)) {
                held.holders.erase(it);
                break;
            }
        }
    }
    held.released.notify_all();
}

bool DirectoryLock::Acquire(const std::string& directory, Mode mode,
                            std::chrono::milliseconds timeout) {
    Release();
    m_error = 0;
    const auto deadline = DeadlineAfter(timeout);
    std::wstring key;
    DWORD error = 0;
    if (!DirectoryKey(directory, key, error)) {
        m_error = static_cast<int>(error);
        return false;
    }
    // Read access is all a byte-range lock needs, so a lock file another account made can still
    // be locked. The file is never removed: a file removed while another process is about to
    // lock it would split the lock.
    const std::wstring folder = LockFolder();
    if (folder.empty()) {
        m_error = static_cast<int>(GetLastError());
        return false;
    }
    const std::wstring path = folder + L"\\dir-" + Fingerprint(key) + L".lock";
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_error = static_cast<int>(GetLastError());
        return false;
    }
    // Locks are held per handle: a second object, with a handle of its own, is excluded like
    // another process.
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : DWORD{0});
    for (;;) {
        OVERLAPPED at{};
        if (LockFileEx(file, flags, 0, 1, 0, &at)) {
            m_handle = reinterpret_cast<std::intptr_t>(file);
            return true;
        }
        const DWORD failure = GetLastError();
        if (failure != ERROR_LOCK_VIOLATION && failure != ERROR_IO_PENDING) {
            m_error = static_cast<int>(failure);
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            m_error = ETIMEDOUT;
            break;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
    }
    CloseHandle(file);
    return false;
}

bool DirectoryLock::TimedOut() const {
    return m_error == ETIMEDOUT;
}

void DirectoryLock::Release() {
    if (m_handle >= 0) {
        // Closing the handle drops its lock.
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
        m_handle = -1;
    }
}

} // namespace platform
