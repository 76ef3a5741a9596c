// Entry point of the Windows program. "-uninstall" as the first argument removes the block from
// the hosts file without showing a window (the uninstaller runs it that way); the exit status
// says whether a block is left, as on Linux. "--tray" runs the tray icon until its Exit.
// Otherwise the main dialog runs until it closes.
#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/hosts/Uninstall.h"
#include "windows/app/CVantrelApp.h"
#include "windows/app/CVantrelTray.h"
#include "windows/app/ProgramFolder.h"

namespace {

// One line on the standard error, when the caller gave the program one.
void ReportError(const std::string& line) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Whatever folder the caller started it in, the files it names without a folder are the
    // installed ones.
    const bool bInOwnFolder = EnterProgramFolder();
    // The run-time's own split of the command line; the argument is compared byte for byte.
    if (__argc >= 2 && __wargv != nullptr && std::wcscmp(__wargv[1], L"-uninstall") == 0) {
        const UninstallResult result = RunUninstall();
        if (!result.error.empty()) ReportError(result.error);
        return result.status;
    }
    if (!bInOwnFolder) return 1;
    if (__argc >= 2 && __wargv != nullptr && std::wcscmp(__wargv[1], L"--tray") == 0)
        return CVantrelTray::Run();
    CVantrelApp app;
    return app.InitInstance() ? 1 : 0;
}
