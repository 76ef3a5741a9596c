// Browser processes on Windows: the image a process runs, whether it still runs, and the browsers'
// main processes from a snapshot of the process list.
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <map>

#include "platform/browsers/BrowserProcesses.h"
#include "platform/system/WideText_win.h"

namespace {

struct CHandle {
    HANDLE handle;
    ~CHandle() {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

}  // namespace

std::optional<std::string> ProgramOfProcess(int pid, const std::string& /*procRoot*/) {
    const CHandle process{
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid))};
    if (process.handle == nullptr) return std::nullopt;
    wchar_t image[32768];
    DWORD size = sizeof image / sizeof image[0];
    if (!::QueryFullProcessImageNameW(process.handle, 0, image, &size)) return std::nullopt;
    const std::wstring path(image, size);
    return WideToUtf8(path.substr(path.find_last_of(L"\\/") + 1));
}

bool ProcessRunning(int pid, const std::string& /*procRoot*/) {
    const CHandle process{::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid))};
    // A process that has ended but whose handle someone still holds is signalled.
    return process.handle != nullptr && ::WaitForSingleObject(process.handle, 0) == WAIT_TIMEOUT;
}

std::vector<BrowserProcess> FindBrowserProcesses(const std::string& /*procRoot*/) {
    std::vector<BrowserProcess> found;
    const CHandle snapshot{::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    if (snapshot.handle == INVALID_HANDLE_VALUE) return found;
    std::map<DWORD, std::pair<std::optional<Browser>, DWORD>> processes;  // pid: browser, parent
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.handle, &entry); more;
         more = ::Process32NextW(snapshot.handle, &entry)) {
        processes[entry.th32ProcessID] = {BrowserOfProgram(WideToUtf8(entry.szExeFile)),
                                          entry.th32ParentProcessID};
    }
    // Only this logon session's: an administrator could see another user's browsers too.
    DWORD ownSession = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &ownSession);
    for (const auto& [pid, process] : processes) {
        const auto& [browser, parent] = process;
        DWORD session = 0;
        if (!browser || !::ProcessIdToSessionId(pid, &session) || session != ownSession) continue;
        // Renderers, content and helper processes are children of the main one.
        if (const auto up = processes.find(parent);
            up != processes.end() && up->second.first == browser)
            continue;
        found.push_back({*browser, static_cast<int>(pid)});
    }
    return found;
}

bool EndsGracefullyOnRequest(Browser /*browser*/) {
    // Nothing asks a Windows process to end the way a logout does, except to its windows.
    return false;
}

bool AskProcessToEnd(int /*pid*/) {
    return false;
}
