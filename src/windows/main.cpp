// Entry point of the Windows program. "-uninstall" as the first argument removes the block from
// the hosts file without showing a window (the uninstaller runs it that way); the exit status
// says whether a block is left, as on Linux. Otherwise the main dialog runs until it closes.
#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"
#include "platform/WideText_win.h"
#include "windows/CVantrelApp.h"

namespace {

// One line on the standard error, when the caller gave the program one.
void ReportError(const std::string& line) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int Uninstall() {
    CHostsFile hosts;
    if (hosts.RemoveBlock() && !hosts.MayStillHoldBlock()) return 0;
    // Otherwise the status reports what the file holds now, whatever the removal said.
    const std::string path = hosts.GetHostsPath();
    if (path.empty()) return 0;
    bool found = false;
    const ReadStatus status = FindBeginMarker(path, &found);
    if (status == ReadStatus::Ok && !found) return 0;
    const bool busy =
        hosts.GetFailure() == kHostsBusyText || (status != ReadStatus::Ok && HostsLockWasBusy());
    ReportError((status == ReadStatus::Ok ? "vantrel: the block could not be removed from " + path
                                          : "vantrel: the hosts file could not be read: " + path) +
                (busy ? std::string(". ") + kHostsBusyText : std::string()));
    return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The run-time's own split of the command line; the argument is compared byte for byte.
    if (__argc >= 2 && __wargv != nullptr && std::wcscmp(__wargv[1], L"-uninstall") == 0) {
        return Uninstall();
    }
    CVantrelApp app;
    return app.InitInstance() ? 1 : 0;
}
