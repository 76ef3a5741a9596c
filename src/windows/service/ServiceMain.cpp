// vantrel-service.exe: the hosts file service (run by the service control manager as
// LocalSystem), and "-install" / "-remove", which the setup and the uninstaller run. The block
// comes from vantrel_settings.txt beside this program, in the installation's folder that only
// administrators can change; nothing from the environment or a working folder is used.
#include <windows.h>

#include <cwchar>

#include "platform/hosts/HostsService_win.h"
#include "platform/system/WideText_win.h"
#include "windows/app/ProgramFolder.h"
#include "windows/service/HostsServer.h"
#include "windows/service/ServiceControl.h"

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 20000;
    ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING);
        ::SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_status = ::RegisterServiceCtrlHandlerExW(kHostsServiceName, Control, nullptr);
    if (g_status == nullptr) return;
    Report(SERVICE_START_PENDING);
    g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::wstring folder = EnterProgramFolder() ? ProgramFolder() : std::wstring();
    if (g_stop == nullptr || folder.empty()) {
        Report(SERVICE_STOPPED, ERROR_PATH_NOT_FOUND);
        return;
    }
    const std::string settings = WideToUtf8(folder + L"\\vantrel_settings.txt");
    const bool served = ServeHostsPipe(g_stop, settings, [] { Report(SERVICE_RUNNING); });
    // A pipe of that name held by another process: the window would find no service.
    Report(SERVICE_STOPPED, served ? NO_ERROR : ERROR_PIPE_BUSY);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"-install") == 0) {
        const std::wstring folder = ProgramFolder();
        return !folder.empty() && InstallHostsService(folder + L"\\" + kHostsServiceProgram) ? 0
                                                                                             : 1;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"-remove") == 0) return RemoveHostsService() ? 0 : 1;
    wchar_t name[] = L"VantrelHosts";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
