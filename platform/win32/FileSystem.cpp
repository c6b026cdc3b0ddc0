// The file-system services on Windows. The program's strings are bytes in the ANSI code page,
// so every path is converted with CP_ACP to UTF-16 and handed to the wide functions; the narrow
// ones would do the same conversion, but could not reach names beyond MAX_PATH nor the
// "\\?\" paths a handle's final path comes as. Failures set errno (mapped from the system's
// error code), as the callers read errno values through LastError() and errno itself.
#include "platform/FileSystem.h"
#include "platform/win32/Text.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

namespace platform {

using win32::AnsiFromWide;
using win32::WideFromAnsi;
namespace {

// The system's code of the last failure this thread reported as errno, so that a cause without
// an errno counterpart can still be named by its own number.
thread_local DWORD g_lastSystemError = 0;

int ErrnoFor(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
        return EACCES;
    case ERROR_SHARING_VIOLATION: // another program holds the file open
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_PRIVILEGE_NOT_HELD:
        return EPERM;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
        return EIO;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    default:
        return EINVAL;
    }
}

// Reports a failure of the system call just made (or of code) as errno; always false.
bool Fail(DWORD code = ::GetLastError()) {
    g_lastSystemError = code;
    errno = ErrnoFor(code);
    return false;
}

bool FailWith(int error) {
    g_lastSystemError = 0;
    errno = error;
    return false;
}

// Closes a handle on every path out of a function.
class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid())
            ::CloseHandle(m_h);
        m_h = h;
    }
    // Closes now and reports whether the close itself succeeded.
    bool close() {
        HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return ::CloseHandle(h) != 0;
    }

private:
    HANDLE m_h;
};

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The folder that holds path and the name in it. A folder that ends in a drive ("C:") means
// that drive's root here, never its current directory.
std::pair<std::wstring, std::wstring> SplitPath(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return {L".", path};
    std::wstring folder = path.substr(0, slash == 0 ? 1 : slash);
    if (folder.back() == L':')
        folder += L'\\';
    return {folder, path.substr(slash + 1)};
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || IsSeparator(folder.back()))
        return folder + name;
    return folder + L'\\' + name;
}

std::int64_t UnixSeconds(const FILETIME& time) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t kEpoch = 116444736000000000ULL; // 1601 to 1970 in 100 ns steps
    return (static_cast<std::int64_t>(ticks) - static_cast<std::int64_t>(kEpoch)) / 10000000;
}

// Opens path for its attributes only, following links (or not), folders included, sharing
// everything so that no other program is disturbed.
HANDLE OpenForQuery(const std::wstring& path, bool followLinks) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (!followLinks)
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
}

// The path the open object really has, every link and junction resolved ("\\?\C:\...").
std::optional<std::wstring> FinalPath(HANDLE handle) {
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFinalPathNameByHandleW(handle, out.data(), static_cast<DWORD>(out.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) {
            Fail();
            return std::nullopt;
        }
        if (n < out.size()) {
            out.resize(n);
            return out;
        }
        out.resize(n);
    }
}

std::optional<std::wstring> FinalPathOf(const std::wstring& path) {
    Handle h(OpenForQuery(path, true));
    if (!h.valid()) {
        Fail();
        return std::nullopt;
    }
    return FinalPath(h.get());
}

// Whether the final path inner is the final path outer or lies below it. Windows compares
// names without regard to case, and so do we.
bool IsBelow(const std::wstring& inner, const std::wstring& outer) {
    if (inner.size() < outer.size() || outer.empty())
        return false;
    if (::CompareStringOrdinal(inner.data(), static_cast<int>(outer.size()), outer.data(),
                               static_cast<int>(outer.size()), TRUE) != CSTR_EQUAL)
        return false;
    return inner.size() == outer.size() || IsSeparator(outer.back()) ||
           IsSeparator(inner[outer.size()]);
}

// A reparse point that stands for another place: a symbolic link or a junction. Other reparse
// points (deduplicated or cloud files) are the files they look like.
bool IsLinkTag(DWORD tag) {
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// The attributes of the entry at path itself; a link is marked by FILE_ATTRIBUTE_REPARSE_POINT
// only when it is one (see IsLinkTag). INVALID_FILE_ATTRIBUTES when there is nothing.
DWORD OwnAttributes(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return attributes;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return attributes; // cannot tell the kind: safer taken for a link
    ::FindClose(search);
    // A reparse folder counts as a link whatever its tag, so that nothing walks into it.
    if (!IsLinkTag(found.dwReserved0) && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT);
    return attributes;
}

bool IsLinkAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool WriteAll(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, data.data(), chunk, &written, nullptr))
            return Fail();
        data.remove_prefix(written);
    }
    return true;
}

} // namespace

namespace {

// Whether the file's access list lets every user of the machine read it: an entry that allows
// reading to Everyone, to the Authenticated Users or to the Users group, before any entry that
// denies it to them (the system applies the entries in their order). A file without an access
// list is open to all. When the list cannot be read the answer is no: nothing is claimed that
// cannot be seen.
bool EveryUserMayRead(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool readable = dacl == nullptr;
    if (dacl != nullptr) {
        BYTE sids[3][SECURITY_MAX_SID_SIZE];
        const WELL_KNOWN_SID_TYPE kinds[3] = {WinWorldSid, WinAuthenticatedUserSid,
                                              WinBuiltinUsersSid};
        for (int i = 0; i < 3; ++i) {
            DWORD size = SECURITY_MAX_SID_SIZE;
            if (!::CreateWellKnownSid(kinds[i], nullptr, sids[i], &size))
                std::fill(std::begin(sids[i]), std::end(sids[i]), BYTE{0});
        }
        const auto everyone = [&](PSID sid) {
            for (auto& known : sids)
                if (::IsValidSid(known) && ::EqualSid(sid, known))
                    return true;
            return false;
        };
        constexpr DWORD kRead = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* entry = nullptr;
            if (!::GetAce(dacl, i, &entry))
                break;
            const auto* header = static_cast<const ACE_HEADER*>(entry);
            if (header->AceFlags & INHERIT_ONLY_ACE)
                continue;
            if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
                const auto* ace = static_cast<const ACCESS_DENIED_ACE*>(entry);
                if ((ace->Mask & kRead) && everyone(const_cast<DWORD*>(&ace->SidStart)))
                    break;
            } else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
                const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
                if ((ace->Mask & kRead) && everyone(const_cast<DWORD*>(&ace->SidStart))) {
                    readable = true;
                    break;
                }
            }
        }
    }
    ::LocalFree(descriptor);
    return readable;
}

} // namespace

std::optional<FileStatus> StatPath(const std::string& path) {
    const std::wstring wide = WideFromAnsi(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        Fail();
        return std::nullopt;
    }
    FileStatus status;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The attributes above are the link's own; the status is its target's.
        Handle h(OpenForQuery(wide, true));
        BY_HANDLE_FILE_INFORMATION info;
        if (!h.valid() || !::GetFileInformationByHandle(h.get(), &info)) {
            Fail();
            return std::nullopt;
        }
        data.dwFileAttributes = info.dwFileAttributes;
        data.ftLastWriteTime = info.ftLastWriteTime;
        data.nFileSizeHigh = info.nFileSizeHigh;
        data.nFileSizeLow = info.nFileSizeLow;
    }
    status.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.modified = UnixSeconds(data.ftLastWriteTime);
    status.size = status.isDirectory
                      ? 0
                      : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // Windows keeps no mode bits. The owner's are what the read-only attribute says; for a file,
    // the group's and the others' read bits say whether every user of the machine may read it,
    // which is what a check for a file of passwords asks.
    if (status.isDirectory)
        status.permissions = 0755;
    else if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        status.permissions = EveryUserMayRead(wide) ? 0444 : 0400;
    else
        status.permissions = EveryUserMayRead(wide) ? 0644 : 0600;
    return status;
}

namespace {

// Reads the regular file open as h to its end.
template <class Text> bool ReadOpenFile(HANDLE h, Text& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info))
        return FailWith(EINVAL);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return FailWith(EISDIR);
    // Sized from the status, but read to the end: the file may grow while we read it (see the
    // POSIX version for why the growth is asked with a small read of its own).
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.resize(static_cast<std::size_t>(size));
    std::size_t have = 0;
    char probe[4096];
    for (;;) {
        const bool full = have == out.size();
        char* into = full ? probe : out.data() + have;
        const std::size_t room = full ? sizeof probe : out.size() - have;
        DWORD n = 0;
        if (!::ReadFile(h, into, static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)), &n,
                        nullptr)) {
            out.clear();
            return Fail();
        }
        if (n == 0)
            break;
        if (full) {
            out.append(probe, n);
            out.resize(out.size() + 65536); // the file grew: read on in larger steps
        }
        have += n;
    }
    out.resize(have);
    return true;
}

// Others may go on reading, writing, renaming or deleting the file while we read it, as they
// may on POSIX. A folder cannot be opened this way (no backup semantics), which is what we want.
HANDLE OpenForReading(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

template <class Text> bool ReadWholeFileInto(const std::string& path, Text& out) {
    out.clear();
    Handle h(OpenForReading(WideFromAnsi(path)));
    if (!h.valid())
        return Fail();
    return ReadOpenFile(h.get(), out);
}

template <class Text>
bool ReadWholeFileWithinInto(const std::string& path, const std::string& root, Text& out) {
    out.clear();
    Handle h(OpenForReading(WideFromAnsi(path)));
    if (!h.valid())
        return Fail();
    // The check is made on the object opened: its final path is where it really is.
    const auto real = FinalPath(h.get());
    const auto realRoot = FinalPathOf(WideFromAnsi(root));
    if (!real || !realRoot || !IsBelow(*real, *realRoot))
        return FailWith(EACCES);
    return ReadOpenFile(h.get(), out);
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

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    // Through the same writer as every save; a new copy is private to its owner.
    std::string content;
    if (!ReadWholeFile(from, content))
        return false;
    return ReplaceFileAtomic(to, content, 0600);
}

bool WriteFileSynced(const std::string& path, std::string_view data) {
    Handle h(::CreateFileW(WideFromAnsi(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return Fail();
    if (!WriteAll(h.get(), data))
        return false;
    if (!::FlushFileBuffers(h.get()))
        return Fail();
    return h.close() || Fail();
}

bool MakeDirectory(const std::string& path) {
    return ::CreateDirectoryW(WideFromAnsi(path).c_str(), nullptr) != 0 || Fail();
}

// The process environment block is the one truth: child processes get it, and it holds an
// empty value, which the C runtime's copy cannot. The runtime's copy is kept in step for the
// code that asks getenv.
std::optional<std::string> GetEnvironment(const char* name) {
    const std::wstring wideName = WideFromAnsi(name);
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                  static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::string();
        }
        if (n < value.size()) {
            value.resize(n);
            return AnsiFromWide(value);
        }
        value.resize(n);
    }
}

bool SetEnvironment(const char* name, const std::string& value) {
    // The C runtime keeps a copy of its own, which getenv reads. An empty value removes its entry
    // (and the system's), so the system's empty one is set after it.
    (void)::_putenv_s(name, value.c_str());
    if (!::SetEnvironmentVariableW(WideFromAnsi(name).c_str(), WideFromAnsi(value).c_str()))
        return Fail();
    return true;
}

std::string FormatLocalTimeNow(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_s(&local, &now);
    char buffer[128];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

} // namespace platform

// ---------------------------------------------------------------------------------------------
// Account folders: nothing here follows a link at the given path.

namespace platform {

PathKind QueryPathKind(const std::string& path) {
    const DWORD attributes = OwnAttributes(WideFromAnsi(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Fail();
        return PathKind::Missing;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return PathKind::Other;
    return PathKind::File;
}

bool RemoveFile(const std::string& path) {
    const std::wstring wide = WideFromAnsi(path);
    const DWORD attributes = OwnAttributes(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Fail();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A link to a folder is a folder entry to Windows; removing it leaves its target.
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return FailWith(EISDIR);
        return ::RemoveDirectoryW(wide.c_str()) != 0 || Fail();
    }
    if (::DeleteFileW(wide.c_str()))
        return true;
    const DWORD error = ::GetLastError();
    // The read-only attribute protects a file's bytes on Windows, but not its name on POSIX,
    // whose contract this is: the entry goes all the same.
    if (error != ERROR_ACCESS_DENIED || !(attributes & FILE_ATTRIBUTE_READONLY))
        return Fail(error);
    if (!::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return Fail(error);
    if (::DeleteFileW(wide.c_str()))
        return true;
    const DWORD again = ::GetLastError();
    (void)::SetFileAttributesW(wide.c_str(), attributes);
    return Fail(again);
}

bool RemoveEmptyDirectory(const std::string& path) {
    const std::wstring wide = WideFromAnsi(path);
    const DWORD attributes = OwnAttributes(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Fail();
    // RemoveDirectoryW would take a link to a folder as well; that is no folder here.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FailWith(ENOTDIR);
    return ::RemoveDirectoryW(wide.c_str()) != 0 || Fail();
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name in the same step, and
    // without MOVEFILE_COPY_ALLOWED it stays on one volume. Write-through makes the new name
    // durable before the call returns: the folder flush of POSIX.
    return ::MoveFileExW(WideFromAnsi(from).c_str(), WideFromAnsi(to).c_str(),
                         MOVEFILE_WRITE_THROUGH) != 0 ||
           Fail();
}

bool MakeHardLink(const std::string& existing, const std::string& link) {
    // NTFS logs the new name at once; there is no folder to flush.
    return ::CreateHardLinkW(WideFromAnsi(link).c_str(), WideFromAnsi(existing).c_str(), nullptr) !=
               0 ||
           Fail();
}

int LastError() {
    return errno;
}

namespace {

bool VolumeIsReadOnly(const std::wstring& folder) {
    wchar_t volume[MAX_PATH + 1];
    DWORD flags = 0;
    return ::GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1) &&
           ::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_READ_ONLY_VOLUME);
}

} // namespace

std::string WriteFailureCause(const std::string& path, int error) {
    // The probes below must not change what the caller reads from LastError() afterwards.
    struct KeepErrno {
        int saved = errno;
        DWORD system = g_lastSystemError;
        ~KeepErrno() {
            errno = saved;
            g_lastSystemError = system;
        }
    } keep;
    const std::wstring wide = WideFromAnsi(path);
    WIN32_FILE_ATTRIBUTE_DATA target;
    if (::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &target)) {
        if (target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return "An ihrer Stelle steht ein Verzeichnis.";
        if (target.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
            return "An ihrer Stelle steht keine gew\xF6hnliche Datei.";
    }
    const std::wstring folderWide = SplitPath(wide).first;
    const std::string folder = AnsiFromWide(folderWide);
    if (error == EROFS || VolumeIsReadOnly(folderWide))
        return "Das Dateisystem ist schreibgesch\xFCtzt.";
    ULARGE_INTEGER available;
    const bool known = ::GetDiskFreeSpaceExW(folderWide.c_str(), &available, nullptr, nullptr);
    if (error == ENOSPC || (known && available.QuadPart == 0))
        return "Der Datentr\xE4ger ist voll.";
    const DWORD folderAttributes = ::GetFileAttributesW(folderWide.c_str());
    const bool folderThere = folderAttributes != INVALID_FILE_ATTRIBUTES &&
                             (folderAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (error == EACCES || error == EPERM || (folderThere && !IsWritableDirectory(folder)))
        return "Keine Schreibberechtigung f\xFCr den Ordner \"" + folder + "\".";
    if (error == ENOENT || error == ENOTDIR || !folderThere)
        return "Der Ordner \"" + folder + "\" ist nicht vorhanden.";
    // Windows refuses to replace or delete a file another program has open without sharing it
    // (a service reading it, a virus scanner); there is nothing wrong with the folder then.
    if (error == EBUSY)
        return "Die Datei ist von einem anderen Programm ge\xF6"
               "ffnet.";
    if (error == EIO)
        return "Ein Ein-/Ausgabefehler des Datentr\xE4gers.";
    if (error != 0) {
        // A system error without an errno of its own is named by the system's number.
        const unsigned long code = g_lastSystemError != 0 && ErrnoFor(g_lastSystemError) == error
                                       ? g_lastSystemError
                                       : static_cast<unsigned long>(error);
        char text[64];
        std::snprintf(text, sizeof text, "Systemfehler %lu.", code);
        return text;
    }
    return {};
}

bool StandardInputIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

namespace {

HANDLE g_hiddenConsole = nullptr; // the console input whose echo is off
DWORD g_shownMode = 0;            // its mode before the hidden line
std::atomic<bool> g_consoleHidden{false};

// Runs on its own thread when Ctrl+C or Ctrl+Break comes or the console closes: the echo comes
// back, and the handlers after this one (the system's, which ends the program) go on as before.
BOOL WINAPI RestoreConsoleOnInterrupt(DWORD) {
    if (g_consoleHidden.exchange(false))
        ::SetConsoleMode(g_hiddenConsole, g_shownMode);
    return FALSE;
}

} // namespace

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD shown = 0;
    if (!::GetConsoleMode(input, &shown))
        return std::nullopt;
    (void)std::fwrite(prompt.data(), 1, prompt.size(), stderr);
    std::fflush(stderr);
    g_hiddenConsole = input;
    g_shownMode = shown;
    ::SetConsoleCtrlHandler(RestoreConsoleOnInterrupt, TRUE);
    g_consoleHidden = true;
    ::SetConsoleMode(input, (shown & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                ENABLE_PROCESSED_INPUT);
    std::wstring line;
    bool ended = false;
    for (;;) {
        wchar_t c;
        DWORD got = 0;
        if (!::ReadConsoleW(input, &c, 1, &got, nullptr) || got == 0) {
            ended = true;
            break;
        }
        if (c == L'\n')
            break;
        if (c != L'\r')
            line += c;
    }
    if (g_consoleHidden.exchange(false))
        ::SetConsoleMode(input, shown);
    ::SetConsoleCtrlHandler(RestoreConsoleOnInterrupt, FALSE);
    // The line end the user typed was not shown; the next message starts on a line of its own.
    (void)std::fputs("\n", stderr);
    std::fflush(stderr);
    if (ended && line.empty())
        return std::nullopt;
    return AnsiFromWide(line);
}

// ---------------------------------------------------------------------------------------------
// The atomic writer. Every file the program writes goes through ReplaceInFolder: targets,
// backup copies and the files of the spool.
//
// Windows has no unnamed files, so a save always writes a named temporary file NAME.tmp-XXXXXX
// beside its target. The writer keeps it open from its creation (CREATE_NEW) until after the
// rename; a cleaner opens a candidate with no sharing at all, which the system refuses while
// any handle is open, and deletes it through that very handle. A killed writer's handles are
// closed by the system, so its orphan is taken by the next save of that target.

namespace {

constexpr std::wstring_view kTempMarker = L".tmp-";
constexpr std::size_t kTempSuffixLength = 6;

bool IsTempSuffixChar(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9');
}

std::optional<std::wstring_view> TargetOfTemporary(std::wstring_view entry) {
    const std::size_t tail = kTempMarker.size() + kTempSuffixLength;
    if (entry.size() <= tail)
        return std::nullopt;
    const std::wstring_view target = entry.substr(0, entry.size() - tail);
    if (entry.substr(target.size(), kTempMarker.size()) != kTempMarker)
        return std::nullopt;
    for (wchar_t c : entry.substr(entry.size() - kTempSuffixLength))
        if (!IsTempSuffixChar(c))
            return std::nullopt;
    return target;
}

std::wstring TemporaryNameFor(const std::wstring& target) {
    static constexpr wchar_t kAlphabet[] =
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random([] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
               (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 16) ^ ::GetTickCount64();
    }());
    std::wstring name = target;
    name += kTempMarker;
    for (std::size_t i = 0; i < kTempSuffixLength; ++i)
        name.push_back(kAlphabet[random() % (sizeof kAlphabet / sizeof kAlphabet[0] - 1)]);
    return name;
}

// Deletes the file open as h (with DELETE and FILE_WRITE_ATTRIBUTES access) through that handle,
// so that it is this file that goes, whatever its name leads to by now. A read-only attribute,
// carried over from a target, would refuse the deletion; it goes first.
bool DeleteThrough(HANDLE h) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    if (::SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose))
        return true;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) &&
           ::SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose);
}

// Removes the stale temporaries in folder whose target isTarget accepts. Opened without any
// sharing, a file held by a live writer refuses us; one we do open is a regular file (checked
// on the handle, so a link put in its place is never followed) and goes through that handle.
void RemoveStaleIn(const std::wstring& folder,
                   const std::function<bool(std::wstring_view)>& isTarget) {
    std::vector<std::wstring> candidates;
    {
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do {
            const auto target = TargetOfTemporary(found.cFileName);
            if (target &&
                !(found.dwFileAttributes &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                isTarget(*target))
                candidates.emplace_back(found.cFileName);
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    for (const std::wstring& name : candidates) {
        Handle h(::CreateFileW(JoinPath(folder, name).c_str(),
                               DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!h.valid() || !::GetFileInformationByHandle(h.get(), &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        (void)DeleteThrough(h.get());
    }
}

thread_local SyncBatch* g_syncBatch = nullptr; // the innermost batch open on this thread

} // namespace

// Windows cannot flush a folder or a volume without administrator rights, so a batch has
// nothing to gather: the writer flushes every file itself, and Commit has nothing left to do.
// The nesting is kept as on POSIX, so that callers see the same object.
struct SyncBatchAccess {};

SyncBatch::SyncBatch() : m_outer(g_syncBatch) {
    g_syncBatch = this;
}

SyncBatch::~SyncBatch() {
    (void)Commit();
    g_syncBatch = m_outer;
}

bool SyncBatch::Commit() {
    m_fileSystems.clear();
    return true;
}

namespace {

// An access list for the current user and the system alone, protected from the folder's
// inherited entries: what a temporary file holds is nobody else's business until it has its
// name, and what POSIX gives a file of mode 0600.
class OwnerOnlySecurity {
public:
    OwnerOnlySecurity() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        const bool known = ::GetTokenInformation(token, TokenUser, m_user, sizeof m_user, &size);
        ::CloseHandle(token);
        DWORD systemSize = sizeof m_system;
        if (!known || !::CreateWellKnownSid(WinLocalSystemSid, nullptr, m_system, &systemSize))
            return;
        PSID user = reinterpret_cast<TOKEN_USER*>(m_user)->User.Sid;
        auto* acl = reinterpret_cast<ACL*>(m_acl);
        m_ready =
            ::InitializeAcl(acl, sizeof m_acl, ACL_REVISION) &&
            ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) &&
            ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, m_system) &&
            ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
            ::SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = &m_descriptor;
    }
    OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
    OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

    // nullptr (the folder's inherited rules) when the list could not be made.
    SECURITY_ATTRIBUTES* attributes() { return m_ready ? &m_attributes : nullptr; }

private:
    alignas(TOKEN_USER) BYTE m_user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    BYTE m_system[SECURITY_MAX_SID_SIZE] = {};
    alignas(ACL)
        BYTE m_acl[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_ready = false;
};

// Gives the file at path the rules its folder hands down, and only those.
void InheritFolderRules(const std::wstring& path) {
    ACL empty;
    if (::InitializeAcl(&empty, sizeof empty, ACL_REVISION))
        (void)::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION |
                                          UNPROTECTED_DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &empty, nullptr);
}

// The temporary file of one save: removed and closed on every path out of the save that did
// not rename it.
class TemporaryFile {
public:
    TemporaryFile(const std::wstring& folder, const std::wstring& target)
        : m_folder(folder), m_target(target) {}
    ~TemporaryFile() {
        if (!m_path.empty())
            (void)DeleteThrough(m_h.get());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    HANDLE handle() const { return m_h.get(); }
    const std::wstring& path() const { return m_path; }
    void Renamed() { m_path.clear(); }

    // Creates the file under a fresh name, readable by its owner alone, writes data into it and
    // flushes it to the disk. Sharing delete lets the rename below go ahead while we hold the
    // file; a cleaner, asking for no sharing at all, is still refused.
    bool Write(std::string_view data) {
        OwnerOnlySecurity security;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::wstring path = JoinPath(m_folder, TemporaryNameFor(m_target));
            m_h.reset(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, security.attributes(),
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (m_h.valid()) {
                m_path = path;
                return WriteAll(m_h.get(), data) && (::FlushFileBuffers(m_h.get()) || Fail());
            }
            if (::GetLastError() != ERROR_FILE_EXISTS)
                return Fail();
        }
        return Fail();
    }

private:
    std::wstring m_folder;
    std::wstring m_target;
    Handle m_h;
    std::wstring m_path;
};

// The access list the administrator gave the old file, when it has rules of its own, carried
// over as POSIX hands on the mode; false when the old file has only what its folder hands down
// (or its list cannot be read), which the caller then gives the new file. A failure to set the
// list leaves the temporary file's own, as a refused chown leaves the file ours.
bool CarryAccessRules(const std::wstring& from, HANDLE to) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool own = ::GetSecurityDescriptorControl(descriptor, &control, &revision) &&
               (control & SE_DACL_PROTECTED);
    for (DWORD i = 0; !own && dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        own = ::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && !(ace->AceFlags & INHERITED_ACE);
    }
    if (own) {
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION |
            ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                           : UNPROTECTED_DACL_SECURITY_INFORMATION);
        (void)::SetSecurityInfo(to, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    }
    ::LocalFree(descriptor);
    return own;
}

// Renames from over to in one step. A virus scanner or indexer that opens a fresh file for a
// moment makes the rename fail with a sharing violation; it is tried again a few times before
// the save gives up, so that only a lasting hold (a service keeping the file open) fails it.
bool MoveReplacing(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if (attempt == 4 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
                             error != ERROR_LOCK_VIOLATION))
            return false;
        ::Sleep(20);
        ::SetLastError(error);
    }
}

// Whether another program has the file at path open without sharing its deletion, which is
// why a rename over it fails: Windows reports that as a denied access, not as a sharing
// violation, and the user should hear that the file is in use, not that the folder is locked.
bool HeldByAnother(const std::wstring& path) {
    Handle h(::CreateFileW(
        path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return !h.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Replaces the entry name of folder by a new file holding data. Windows keeps no mode bits: a
// new file that is to be private (newFileMode gives the group and others nothing, as 0600) keeps
// the temporary file's list of owner and system, any other gets its folder's inherited rules. A
// file that is replaced hands on its own rules and its attributes (read-only, hidden, system).
bool ReplaceInFolder(const std::wstring& folder, const std::wstring& name, std::string_view data,
                     unsigned newFileMode) {
    if (name.empty() || name == L"." || name == L"..")
        return FailWith(EISDIR);
    const std::wstring target = JoinPath(folder, name);
    const DWORD old = OwnAttributes(target);
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    if (exists && (old & FILE_ATTRIBUTE_DIRECTORY) && !(old & FILE_ATTRIBUTE_REPARSE_POINT))
        return FailWith(EISDIR);
    const bool replacingFile =
        exists && !(old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

    RemoveStaleIn(folder, [&name](std::wstring_view t) {
        return ::CompareStringOrdinal(t.data(), static_cast<int>(t.size()), name.data(),
                                      static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
    });

    TemporaryFile temp(folder, name);
    if (!temp.Write(data))
        return false;
    const DWORD carried = replacingFile ? old & kCarriedAttributes : 0;
    const bool ownRules = replacingFile && CarryAccessRules(target, temp.handle());
    if (!ownRules && (replacingFile || (newFileMode & 077) != 0))
        InheritFolderRules(temp.path());
    if (replacingFile) {
        if (carried != 0) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = carried;
            if (!::SetFileInformationByHandle(temp.handle(), FileBasicInfo, &basic, sizeof basic))
                return Fail();
        }
    }
    // A read-only file refuses to be replaced on Windows, though not on POSIX, whose contract
    // this is; it is writable only for the instant of the rename, and read-only again if the
    // rename fails.
    const bool unlocked = (carried & FILE_ATTRIBUTE_READONLY) &&
                          ::SetFileAttributesW(target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
    // One rename with replace: the old file stays whole until the new one has its name. A link
    // at the name goes, its target stays.
    if (!MoveReplacing(temp.path(), target)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED && HeldByAnother(target))
            error = ERROR_SHARING_VIOLATION;
        if (unlocked)
            (void)::SetFileAttributesW(target.c_str(), old);
        return Fail(error);
    }
    temp.Renamed();
    return true;
}

// The target a save really replaces: what a link at path points to, so that the link survives.
// A dangling link is replaced itself.
std::wstring ResolveLink(const std::wstring& path) {
    if (!IsLinkAttributes(OwnAttributes(path)))
        return path;
    const auto final = FinalPathOf(path);
    return final ? *final : path;
}

bool ReplaceAt(const std::wstring& path, std::string_view data, unsigned newFileMode) {
    const auto [folder, name] = SplitPath(path);
    return ReplaceInFolder(folder, name, data, newFileMode);
}

} // namespace

bool WriteFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode) {
    return ReplaceAt(ResolveLink(WideFromAnsi(path)), data, newFileMode);
}

bool ReplaceFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode) {
    return ReplaceAt(WideFromAnsi(path), data, newFileMode);
}

bool ReplaceFileAtomicWithin(const std::string& path, const std::string& root,
                             std::string_view data, unsigned newFileMode) {
    const auto [folder, name] = SplitPath(WideFromAnsi(path));
    // Held open for listing (a handle for its attributes alone would take no part in the
    // sharing rules) and without delete sharing, the folder can be neither renamed nor removed, nor
    // replaced by a link, until the save is done; it is written by its final path, so every
    // name below is looked up in the folder that was checked.
    Handle dir(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir.valid())
        return Fail();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(dir.get(), &info))
        return Fail();
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FailWith(ENOTDIR);
    const auto real = FinalPath(dir.get());
    const auto realRoot = FinalPathOf(WideFromAnsi(root));
    if (!real || !realRoot || !IsBelow(*real, *realRoot))
        return FailWith(EACCES);
    return ReplaceInFolder(*real, name, data, newFileMode);
}

void RemoveStaleTemporaries(const std::string& directory,
                            const std::function<bool(std::string_view target)>& isTarget) {
    RemoveStaleIn(WideFromAnsi(directory), [&isTarget](std::wstring_view target) {
        bool exact = true;
        const std::string name = AnsiFromWide(target, &exact);
        return exact && isTarget(name);
    });
}

bool StaysWithin(const std::string& path, const std::string& root, Access access) {
    const std::wstring wide = WideFromAnsi(path);
    const auto real = FinalPathOf(access == Access::Read ? wide : SplitPath(wide).first);
    const auto realRoot = FinalPathOf(WideFromAnsi(root));
    if (!real || !realRoot || !IsBelow(*real, *realRoot))
        return false;
    if (access == Access::Read)
        return real->size() != realRoot->size(); // root itself is no file inside it
    const std::string name = BaseName(path);
    return !name.empty() && name != "." && name != "..";
}

bool IsWritableDirectory(const std::string& path) {
    const auto status = StatPath(path);
    if (!status || !status->isDirectory)
        return false;
    const std::wstring folder = WideFromAnsi(path);
    if (VolumeIsReadOnly(folder))
        return false;
    // The read-only attribute means nothing for a folder, and its access rules are best asked
    // of the system itself: a probe file, gone again with its handle even if we die.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::wstring probe = JoinPath(folder, TemporaryNameFor(L".writable"));
        Handle h(::CreateFileW(
            probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (h.valid())
            return true;
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return Fail();
    }
    return false;
}

// Windows has no unnamed files: every save takes the named temporary file, and the switch has
// nothing to change.
void UseUnnamedTemporaryFiles(bool) {}

} // namespace platform
