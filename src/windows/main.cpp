// Entry point of the Windows program, which runs as the user. With a first argument it does one
// administrator's step and shows no main window:
// - "-uninstall" removes the block from the hosts file itself (the elevated uninstaller runs it);
//   the exit status says whether a block is left, as on Linux.
// - "-repair-service" registers and starts the hosts file service from this program's folder.
// - "-settings" shows the settings dialog, which saves into this program's folder.
// - "-install-upgrade <file>" installs a downloaded setup (SetupInstaller.h).
// The window starts the last three through "runas" (Elevation_win.h); each takes nothing from
// its caller but the fixed argument, and the upgrade's file only as a source to copy and check.
// Otherwise it is the session's Vantrel, as the user: "--tray" asks for the tray icon, no argument
// for the main window; when Vantrel already runs in the session, it takes the wish instead.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cwchar>
#include <string>

#include "platform/hosts/HostsService_win.h"
#include "platform/hosts/Uninstall.h"
#include "windows/app/CSettingsDlg.h"
#include "windows/app/CVantrelApp.h"
#include "windows/app/ProgramFolder.h"
#include "windows/service/ServiceControl.h"
#include "windows/upgrade/SetupInstaller.h"
#include "windows/upgrade/UpgradeGate.h"

namespace {

// One line on the standard error, when the caller gave the program one.
void ReportError(const std::string& line) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool IsArgument(int index, const wchar_t* word) {
    return __argc > index && __wargv != nullptr && std::wcscmp(__wargv[index], word) == 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Whatever folder the caller started it in, the files it names without a folder are the
    // installed ones.
    const bool bInOwnFolder = EnterProgramFolder();
    // The run-time's own split of the command line; the argument is compared byte for byte.
    if (__argc == 2 && IsArgument(1, L"-uninstall")) {
        WriteHostsDirectly();
        const UninstallResult result = RunUninstall();
        if (!result.error.empty()) ReportError(result.error);
        return result.status;
    }
    if (!bInOwnFolder) return 1;
    if (__argc == 2 && IsArgument(1, L"-repair-service"))
        return InstallHostsService(ProgramFolder() + L"\\" + kHostsServiceProgram) ? 0 : 1;
    if (__argc == 2 && IsArgument(1, L"-settings")) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        CSettingsDlg dlg;
        return dlg.DoModal(nullptr) == IDOK ? 0 : 1;
    }
    if (__argc == 3 && IsArgument(1, L"-install-upgrade")) {
        return static_cast<int>(
            InstallUpgradeFrom(__wargv[2], BuiltInUpgradeKey(), ProgramFolder(), RunningVersion()));
    }
    const bool tray = __argc >= 2 && __wargv != nullptr && std::wcscmp(__wargv[1], L"--tray") == 0;
    CVantrelApp app;
    return app.Run(tray ? VantrelWish::Tray : VantrelWish::Window);
}
