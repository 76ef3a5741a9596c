#include "windows/app/ProgramFolder.h"

#include <windows.h>

#include "platform/system/OwnPath_win.h"

std::wstring ProgramFolder() {
    const std::wstring path = OwnProgramPath();
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    // "C:\vantrel.exe" lies in "C:\", not in "C:" (that drive's working folder).
    return path.substr(0, slash > 0 && path[slash - 1] == L':' ? slash + 1 : slash);
}

bool EnterProgramFolder() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::wstring folder = ProgramFolder();
    return !folder.empty() && ::SetCurrentDirectoryW(folder.c_str()) != 0;
}
