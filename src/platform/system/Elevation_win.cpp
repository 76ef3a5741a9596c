// ShellExecuteExW with the "runas" verb on the program's own path, waited for with the message
// pump running. This runs in the window, as the user, never elevated: ShellExecuteExW is the only
// way to ask Windows for an administrator's consent, and the file associations it consults are
// the user's own, so they can start only what the user could start anyway. The consent prompt
// names the file Windows will elevate; the elevated copy takes its files from its own folder and
// nothing from its caller but one fixed argument (and the upgrade's file only as a source that it
// copies and checks). The elevated service and -uninstall never link this file.
#include "platform/system/Elevation_win.h"

#include "platform/system/OwnPath_win.h"

#include <shellapi.h>

#include "platform/system/MessagePump_win.h"

namespace {

ElevationHook& Hook() {
    static ElevationHook s_hook;
    return s_hook;
}

}  // namespace

ElevationHook SetElevationHookForTests(ElevationHook hook) {
    ElevationHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

std::optional<DWORD> RunElevated(HWND owner, const std::wstring& arguments) {
    if (Hook()) return Hook()(arguments);
    const std::wstring program = OwnProgramPath();
    if (program.empty()) return std::nullopt;
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    run.hwnd = owner;
    run.lpVerb = L"runas";
    run.lpFile = program.c_str();
    run.lpParameters = arguments.c_str();
    run.lpDirectory = folder.c_str();
    run.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&run) || run.hProcess == nullptr) return std::nullopt;
    const bool wasEnabled = owner != nullptr && ::IsWindowEnabled(owner);
    if (wasEnabled) ::EnableWindow(owner, FALSE);
    while (::MsgWaitForMultipleObjects(1, &run.hProcess, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        if (!PumpMessages()) {
            ::WaitForSingleObject(run.hProcess, INFINITE);
            break;
        }
    }
    if (wasEnabled) ::EnableWindow(owner, TRUE);
    DWORD code = 1;
    ::GetExitCodeProcess(run.hProcess, &code);
    ::CloseHandle(run.hProcess);
    return code;
}
