#include "platform/Process.h"
#include "platform/Security.h"
#include "platform/win32/CommandLine.h"
#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {
namespace win32 {

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            // The parser halves a run of backslashes before a quote and takes an odd one as
            // the quote's escape: double the run and add one.
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // The closing quote would otherwise be escaped by a trailing backslash.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring BuildCommandLine(const std::wstring& program,
                              const std::vector<std::wstring>& arguments) {
    if (program.find(L'"') != std::wstring::npos)
        return {};
    std::wstring line = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) {
        line += L' ';
        line += QuoteArgument(argument);
    }
    return line;
}

} // namespace win32

namespace {

using win32::AnsiToWide;

// Closes a handle when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_handle; }
    HANDLE* Receive() {
        Close();
        return &m_handle;
    }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    void Close() {
        if (Valid())
            ::CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle = nullptr;
};

// Where a started program's standard handles lead.
enum class Stdio {
    Inherit, // the console's, if any; no handle of ours is inherited
    Null,    // the null device; output to a pipe where one is given
};

// Starts path with the arguments; 0 and the new process, or the system's error code. The path
// is taken as given and never looked up along PATH. A program whose standard handles go
// elsewhere than ours inherits exactly those handles and no other: handles that another
// thread of ours made inheritable at the same moment must not leak into it.
DWORD Spawn(const std::string& path, const std::vector<std::string>& arguments, DWORD flags,
            Stdio stdio, HANDLE output, PROCESS_INFORMATION& process) {
    std::wstring widePath;
    std::vector<std::wstring> wideArguments(arguments.size());
    if (!AnsiToWide(path, widePath) || widePath.empty())
        return ERROR_NO_UNICODE_TRANSLATION;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!AnsiToWide(arguments[i], wideArguments[i]))
            return ERROR_NO_UNICODE_TRANSLATION;
    }
    // A batch file would run through cmd.exe, which reads the line by rules of its own: the
    // quoting below would not hold there. Only programs are started.
    const std::size_t dot = widePath.find_last_of(L'.');
    if (dot != std::wstring::npos) {
        const std::wstring extension = widePath.substr(dot);
        if (::CompareStringOrdinal(extension.c_str(), -1, L".bat", -1, TRUE) == CSTR_EQUAL ||
            ::CompareStringOrdinal(extension.c_str(), -1, L".cmd", -1, TRUE) == CSTR_EQUAL)
            return ERROR_BAD_EXE_FORMAT;
    }
    std::wstring commandLine = win32::BuildCommandLine(widePath, wideArguments);
    if (commandLine.empty())
        return ERROR_INVALID_NAME;

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    BOOL inherit = FALSE;
    Handle null;
    std::vector<char> attributeBuffer;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr;
    HANDLE inherited[2] = {nullptr, nullptr};
    if (stdio == Stdio::Null) {
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        *null.Receive() =
            ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          &security, OPEN_EXISTING, 0, nullptr);
        if (!null.Valid())
            return ::GetLastError();
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = null.Get();
        startup.StartupInfo.hStdOutput = output != nullptr ? output : null.Get();
        startup.StartupInfo.hStdError = null.Get();
        inherited[0] = null.Get();
        inherited[1] = output;
        const DWORD count = output != nullptr ? 2 : 1;

        SIZE_T size = 0;
        (void)::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributeBuffer.resize(size);
        attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(attributes, 1, 0, &size))
            return ::GetLastError() != 0 ? ::GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                         inherited, count * sizeof(HANDLE), nullptr, nullptr)) {
            const DWORD error = ::GetLastError();
            ::DeleteProcThreadAttributeList(attributes);
            return error;
        }
        startup.lpAttributeList = attributes;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        inherit = TRUE;
    }
    const BOOL started =
        ::CreateProcessW(widePath.c_str(), commandLine.data(), nullptr, nullptr, inherit, flags,
                         nullptr, nullptr, &startup.StartupInfo, &process);
    const DWORD error = started ? 0 : ::GetLastError();
    if (attributes != nullptr)
        ::DeleteProcThreadAttributeList(attributes);
    return started ? 0 : (error != 0 ? error : ERROR_GEN_FAILURE);
}

} // namespace

std::string OwnExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        // A result that fills the buffer has been cut short.
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
    // A path the code page cannot spell would name another file, or none.
    bool exact = false;
    std::string ansi = win32::AnsiFromWide(path, &exact);
    return exact ? ansi : std::string();
}

int StartDetached(const std::string& path, const std::vector<std::string>& arguments) {
    // No console of ours and a process group of its own: the new instance outlives us, and a
    // console interrupt meant for us does not reach it.
    PROCESS_INFORMATION process{};
    const DWORD error = Spawn(path, arguments, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                              Stdio::Inherit, nullptr, process);
    if (error != 0)
        return static_cast<int>(error);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 0;
}

int RunAndWait(const std::string& path, const std::vector<std::string>& arguments,
               std::string* output) {
    Handle readEnd;
    Handle writeEnd;
    if (output != nullptr) {
        output->clear();
        // Only the child's end is inheritable; ours must not keep the pipe open in the child.
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &security, 0) ||
            !::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0))
            return -1;
    }
    // No console window pops up for a console program started from the window.
    PROCESS_INFORMATION process{};
    const DWORD error =
        Spawn(path, arguments, CREATE_NO_WINDOW, Stdio::Null, writeEnd.Get(), process);
    writeEnd.Close();
    if (error != 0)
        return -1;
    Handle thread(process.hThread);
    Handle child(process.hProcess);
    if (output != nullptr) {
        char buffer[4096];
        DWORD n = 0;
        // Ends with ERROR_BROKEN_PIPE once the program and whatever inherited the pipe from it
        // have closed their end.
        while (::ReadFile(readEnd.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
            output->append(buffer, n);
    }
    DWORD code = 0;
    if (::WaitForSingleObject(child.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(child.Get(), &code))
        return -1;
    // Status codes of an unhandled exception (0xC0000005 and its kind) mean the program did
    // not exit by itself.
    if (code >= 0xC0000000u)
        return -1;
    return static_cast<int>(code);
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& path,
                                                  const std::vector<std::string>& arguments,
                                                  int* error) {
    PROCESS_INFORMATION process{};
    const DWORD result = Spawn(path, arguments, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                               Stdio::Null, nullptr, process);
    if (error != nullptr)
        *error = static_cast<int>(result);
    if (result != 0)
        return nullptr;
    ::CloseHandle(process.hThread);
    return std::unique_ptr<ChildProcess>(new ChildProcess(
        static_cast<int>(process.dwProcessId), reinterpret_cast<std::intptr_t>(process.hProcess)));
}

ChildProcess::~ChildProcess() {
    // Closing the handle leaves the program running; it only lets the system forget it once
    // it ends.
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool ChildProcess::Running() {
    if (m_ended)
        return false;
    if (::WaitForSingleObject(reinterpret_cast<HANDLE>(m_handle), 0) == WAIT_TIMEOUT)
        return true;
    // Ended, or a handle we can no longer wait on: either way it is not ours to watch.
    m_ended = true;
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
    return false;
}

bool IsAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    // The effective token of this thread: under UAC a filtered token holds the group for deny
    // only, and such a user cannot administer the services either.
    BOOL member = FALSE;
    const BOOL checked = ::CheckTokenMembership(nullptr, administrators, &member);
    ::FreeSid(administrators);
    return checked && member;
}

} // namespace platform
