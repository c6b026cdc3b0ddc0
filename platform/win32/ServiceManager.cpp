// The suite's services as the Windows service control manager sees them.
#include "platform/ServiceManager.h"

#include "platform/win32/CommandLine.h"
#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {
namespace {

// The control code the suite's servers take as the request to reload their configuration and
// restart (128 to 255 are left to services for their own use).
constexpr DWORD kRestartControl = 129;

// Every look at a service asks for the rights this program needs over it: a user the service
// manager would not let start it or send it the restart request gets no answer at all, so
// that for such a user every service counts as not running and no request is sent that is
// bound to fail. Connecting to the manager itself needs no more than the right to connect.
constexpr DWORD kServiceRights =
    SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_USER_DEFINED_CONTROL;

// A service control manager handle, closed when it goes out of scope.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
    ~ScHandle() {
        if (m_handle != nullptr)
            ::CloseServiceHandle(m_handle);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE Get() const { return m_handle; }
    void Reset(SC_HANDLE handle) {
        if (m_handle != nullptr)
            ::CloseServiceHandle(m_handle);
        m_handle = handle;
    }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};

ServiceState StateOf(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return ServiceState::Stopped;
    case SERVICE_START_PENDING:
        return ServiceState::StartPending;
    case SERVICE_STOP_PENDING:
        return ServiceState::StopPending;
    case SERVICE_RUNNING:
        return ServiceState::Running;
    default: // paused, or on the way into or out of a pause
        return ServiceState::Other;
    }
}

class WindowsServiceManager : public ServiceManager {
public:
    bool QueryStatus(const std::string& service, ServiceStatus& status) override {
        ScHandle manager;
        ScHandle handle;
        SERVICE_STATUS raw{};
        if (!Open(service, manager, handle) || !::QueryServiceStatus(handle.Get(), &raw))
            return false;
        status = ServiceStatus{StateOf(raw.dwCurrentState), raw.dwCheckPoint, raw.dwWaitHint};
        return true;
    }

    bool Start(const std::string& service) override {
        ScHandle manager;
        ScHandle handle;
        // Refused with ERROR_SERVICE_ALREADY_RUNNING when it runs already.
        return Open(service, manager, handle) && ::StartServiceW(handle.Get(), 0, nullptr);
    }

    bool SendRestartRequest(const std::string& service) override {
        ScHandle manager;
        ScHandle handle;
        SERVICE_STATUS raw{};
        // A service that is not running is not contacted at all.
        if (!Open(service, manager, handle) || !::QueryServiceStatus(handle.Get(), &raw) ||
            raw.dwCurrentState != SERVICE_RUNNING)
            return false;
        return ::ControlService(handle.Get(), kRestartControl, &raw);
    }

private:
    // Connects to the local manager and opens the service; both handles are closed again when
    // the caller's scope ends.
    static bool Open(const std::string& service, ScHandle& manager, ScHandle& handle) {
        std::wstring name;
        if (service.empty() || !win32::AnsiToWide(service, name))
            return false;
        manager.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager)
            return false;
        handle.Reset(::OpenServiceW(manager.Get(), name.c_str(), kServiceRights));
        return static_cast<bool>(handle);
    }
};

// The systemd and supervisor adapters exist on POSIX only; here every call fails, so a caller
// sees a service manager that knows no service.
class NoServiceManager : public ServiceManager {
public:
    bool QueryStatus(const std::string&, ServiceStatus&) override { return false; }
    bool Start(const std::string&) override { return false; }
    bool SendRestartRequest(const std::string&) override { return false; }
};

} // namespace

std::unique_ptr<ServiceManager> CreateSystemdServiceManager(const std::string&,
                                                            std::function<bool()>) {
    return std::make_unique<NoServiceManager>();
}

std::unique_ptr<ServiceManager> CreateSupervisorServiceManager(const std::string&) {
    return std::make_unique<NoServiceManager>();
}

std::unique_ptr<ServiceManager> CreateServiceManager() {
    return std::make_unique<WindowsServiceManager>();
}

} // namespace platform
