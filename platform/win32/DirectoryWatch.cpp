#include "platform/DirectoryWatch.h"
#include "platform/win32/Text.h"

#include <windows.h>

#include <cstddef>
#include <utility>

namespace platform {

using win32::AnsiFromWide;
using win32::WideFromAnsi;
namespace {

// The filter bits of the interface are the system's FILE_NOTIFY_CHANGE_ values.
constexpr std::uint32_t kKnownFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES |
    FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
    FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;
static_assert(kChangeFileName == FILE_NOTIFY_CHANGE_FILE_NAME &&
              kChangeDirName == FILE_NOTIFY_CHANGE_DIR_NAME &&
              kChangeAttributes == FILE_NOTIFY_CHANGE_ATTRIBUTES &&
              kChangeSize == FILE_NOTIFY_CHANGE_SIZE &&
              kChangeLastWrite == FILE_NOTIFY_CHANGE_LAST_WRITE &&
              kChangeLastAccess == FILE_NOTIFY_CHANGE_LAST_ACCESS &&
              kChangeCreation == FILE_NOTIFY_CHANGE_CREATION &&
              kChangeSecurity == FILE_NOTIFY_CHANGE_SECURITY);

// Notifications that arrive while no request is pending are queued by the system for the next
// one; a full buffer makes the request complete with nothing in it (an overflow).
constexpr DWORD kBufferSize = 16384;
// Requests that complete at once, one after another, are collected in one TakeChanges up to
// this many; the rest wait for the next call, so that a busy folder cannot hold the caller.
constexpr int kMaxRounds = 64;

int CloseAndForget(HANDLE& handle) {
    const int result = CloseHandle(handle) ? 0 : static_cast<int>(GetLastError());
    handle = nullptr;
    return result;
}

class ChangeNotificationWatch final : public DirectoryWatch {
public:
    ~ChangeNotificationWatch() override {
        CancelRequest();
        if (m_event)
            CloseAndForget(m_event);
        if (m_directory)
            CloseAndForget(m_directory);
    }

    int OpenDirectory(const std::string& path) override {
        if (m_directory)
            return ERROR_BUSY;
        // Shared for everything, so that the watch never stands in the way of the files it
        // watches; a backup-semantics open is how the system opens a directory at all.
        const std::wstring wide = WideFromAnsi(path);
        HANDLE handle =
            CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return static_cast<int>(GetLastError());
        // A backup-semantics open opens a plain file just as well; only a folder can be watched.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            CloseHandle(handle);
            return ERROR_DIRECTORY;
        }
        m_directory = handle;
        m_path = wide;
        return 0;
    }

    int CreateNotifier() override {
        if (m_event)
            return ERROR_BUSY;
        // Auto-reset and not signalled: the request signals it when changes arrive.
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!event)
            return static_cast<int>(GetLastError());
        m_event = event;
        return 0;
    }

    int AddWatch(std::uint32_t filter, bool subtree) override {
        if (!m_directory || !m_event)
            return ERROR_INVALID_HANDLE;
        if (m_pending)
            return ERROR_BUSY;
        if ((filter & kKnownFilter) == 0)
            return ERROR_INVALID_PARAMETER;
        m_filter = filter & kKnownFilter;
        m_subtree = subtree;
        return Arm();
    }

    // The request must be over before its event or its directory goes: the system would
    // otherwise write into the buffer or signal an event that is no longer ours.
    int CloseNotifier() override {
        CancelRequest();
        return m_event ? CloseAndForget(m_event) : 0;
    }
    int CloseDirectory() override {
        CancelRequest();
        return m_directory ? CloseAndForget(m_directory) : 0;
    }
    bool HasDirectory() const override { return m_directory != nullptr; }
    bool HasNotifier() const override { return m_event != nullptr; }

    bool TakeChanges(std::vector<DirectoryChange>& changes) override {
        bool any = false;
        for (int round = 0; round < kMaxRounds && m_pending; ++round) {
            DWORD bytes = 0;
            if (GetOverlappedResult(m_directory, &m_request, &bytes, FALSE)) {
                m_pending = false;
                if (bytes == 0)
                    changes.push_back({}); // the system's queue overflowed
                else
                    Collect(bytes, changes);
            } else {
                const DWORD error = GetLastError();
                if (error == ERROR_IO_INCOMPLETE)
                    break;
                // An overflow reported as an error, or the folder itself gone: the caller has to
                // look for itself either way.
                m_pending = false;
                changes.push_back({});
            }
            any = true;
            // A request that cannot be made again (the folder was removed) leaves the watch
            // disarmed; the Other above tells the caller.
            if (Arm() != 0)
                break;
        }
        return any;
    }

private:
    int Arm() {
        ZeroMemory(&m_request, sizeof m_request);
        m_request.hEvent = m_event;
        if (!ReadDirectoryChangesW(m_directory, m_buffer, kBufferSize, m_subtree ? TRUE : FALSE,
                                   m_filter, nullptr, &m_request, nullptr))
            return static_cast<int>(GetLastError());
        m_pending = true;
        return 0;
    }

    void CancelRequest() {
        if (!m_pending)
            return;
        DWORD bytes = 0;
        // Waits for the cancellation to finish; the request cannot outlive its buffer.
        if (CancelIoEx(m_directory, &m_request) || GetLastError() != ERROR_NOT_FOUND)
            (void)GetOverlappedResult(m_directory, &m_request, &bytes, TRUE);
        m_pending = false;
    }

    void Collect(DWORD bytes, std::vector<DirectoryChange>& changes) {
        DWORD at = 0;
        for (;;) {
            if (at + offsetof(FILE_NOTIFY_INFORMATION, FileName) > bytes)
                return;
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(
                reinterpret_cast<const unsigned char*>(m_buffer) + at);
            const int length = static_cast<int>(info->FileNameLength / sizeof(wchar_t));
            const std::wstring name(info->FileName, static_cast<std::size_t>(length));
            DirectoryChange change;
            // An entry of a subfolder, when the tree is watched, comes as a relative path.
            if (!name.empty() && name.find(L'\\') == std::wstring::npos) {
                change.name = AnsiFromWide(name);
                switch (info->Action) {
                case FILE_ACTION_ADDED:
                case FILE_ACTION_RENAMED_NEW_NAME:
                    change.kind = DirectoryChange::Kind::Added;
                    break;
                case FILE_ACTION_REMOVED:
                case FILE_ACTION_RENAMED_OLD_NAME:
                    change.kind = DirectoryChange::Kind::Removed;
                    break;
                case FILE_ACTION_MODIFIED:
                    change.kind = DirectoryChange::Kind::Written;
                    break;
                default:
                    change.name.clear();
                    break;
                }
                // Only an entry that is still there can tell what it is; one that went may have
                // been a folder, and a caller that cares must look (see DirectoryChange).
                if (change.kind != DirectoryChange::Kind::Removed) {
                    const DWORD attributes = GetFileAttributesW((m_path + L'\\' + name).c_str());
                    change.isDirectory = attributes != INVALID_FILE_ATTRIBUTES &&
                                         (attributes & FILE_ATTRIBUTE_DIRECTORY);
                } else {
                    change.isDirectory = true;
                }
            }
            changes.push_back(std::move(change));
            if (info->NextEntryOffset == 0)
                return;
            at += info->NextEntryOffset;
        }
    }

    HANDLE m_directory = nullptr;
    HANDLE m_event = nullptr;
    std::wstring m_path;
    std::uint32_t m_filter = 0;
    bool m_subtree = false;
    bool m_pending = false;
    OVERLAPPED m_request{};
    alignas(DWORD) unsigned char m_buffer[kBufferSize];
};

} // namespace

std::unique_ptr<DirectoryWatch> CreateDirectoryWatch() {
    return std::make_unique<ChangeNotificationWatch>();
}

} // namespace platform
