#include "windows/app/ProgramFolder.h"

#include <windows.h>

std::wstring ProgramFolder() {
    std::wstring path(32768, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
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
