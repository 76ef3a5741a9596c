// The service control manager's side of the hosts file service.
#include "windows/service/ServiceControl.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include "platform/hosts/HostsService_win.h"

namespace {

// Who may do what with the service: SYSTEM and administrators everything; interactive users may
// query its state and configuration (the window looks up its process), not start, stop or
// change it.
constexpr const wchar_t* kServiceSddl =
    L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLORC;;;IU)";

SERVICE_STATUS_PROCESS StatusOf(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof status, &needed))
        status.dwCurrentState = 0;
    return status;
}

DWORD StateOf(SC_HANDLE service) {
    return StatusOf(service).dwCurrentState;
}

// Waits up to 20 s for the service to reach `state`; a service that stopped while it was to
// start has failed.
bool AwaitState(SC_HANDLE service, DWORD state) {
    for (int i = 0; i < 200; ++i) {
        const DWORD now = StateOf(service);
        if (now == state) return true;
        if (state == SERVICE_RUNNING && now == SERVICE_STOPPED) return false;
        ::Sleep(100);
    }
    return false;
}

void SetServiceAccess(SC_HANDLE service) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return;
    ::SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
}

}  // namespace

bool InstallHostsService(const std::wstring& program) {
    const SC_HANDLE manager =
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return false;
    // Quoted: "C:\Program Files\..." must not be taken for "C:\Program" with arguments.
    const std::wstring binary = L"\"" + program + L"\"";
    SC_HANDLE service = ::CreateServiceW(
        manager, kHostsServiceName, kHostsServiceDisplayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary.c_str(),
        nullptr, nullptr, nullptr, nullptr /* LocalSystem */, nullptr);
    if (service == nullptr && ::GetLastError() == ERROR_SERVICE_EXISTS) {
        service = ::OpenServiceW(manager, kHostsServiceName, SERVICE_ALL_ACCESS);
        if (service != nullptr &&
            !::ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr,
                                    L"LocalSystem", nullptr, kHostsServiceDisplayName)) {
            ::CloseServiceHandle(service);
            service = nullptr;
        }
    }
    bool running = false;
    if (service != nullptr) {
        SetServiceAccess(service);
        if (StateOf(service) == SERVICE_STOP_PENDING) AwaitState(service, SERVICE_STOPPED);
        if (!::StartServiceW(service, 0, nullptr) &&
            ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            running = false;
        } else {
            running = AwaitState(service, SERVICE_RUNNING);
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return running;
}

bool RemoveHostsService() {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    const SC_HANDLE service = ::OpenServiceW(manager, kHostsServiceName, SERVICE_ALL_ACCESS);
    bool gone = service == nullptr && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != nullptr) {
        // Its process holds its program file open until it has ended: waited for, so that the
        // uninstaller can delete the file.
        const SERVICE_STATUS_PROCESS before = StatusOf(service);
        const HANDLE process = before.dwProcessId != 0
                                   ? ::OpenProcess(SYNCHRONIZE, FALSE, before.dwProcessId)
                                   : nullptr;
        SERVICE_STATUS status{};
        if (before.dwCurrentState != SERVICE_STOPPED)
            ::ControlService(service, SERVICE_CONTROL_STOP, &status);
        AwaitState(service, SERVICE_STOPPED);
        if (process != nullptr) {
            ::WaitForSingleObject(process, 20000);
            ::CloseHandle(process);
        }
        gone = ::DeleteService(service) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return gone;
}
