// Stands in for an uninstaller or a setup program in the upgrade tests: appends its own file
// name and its arguments to runs.txt in its working directory, and " (held)" when its own file
// cannot be opened for deleting because someone holds it open without sharing that; then ends.
// Its version resource says FAKE_VERSION_MAJOR.FAKE_VERSION_MINOR (FakeSetup.rc).
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = path;
    for (DWORD i = 0; i < length; ++i) {
        if (path[i] == L'\\') name = path + i + 1;
    }
    const HANDLE self =
        ::CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    const bool held = self == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
    if (self != INVALID_HANDLE_VALUE) ::CloseHandle(self);
    std::FILE* runs = ::_wfopen(L"runs.txt", L"ab");
    if (!runs) return 1;
    std::fprintf(runs, "%ls", name);
    for (int i = 1; i < argc; ++i) std::fprintf(runs, " %ls", argv[i]);
    std::fprintf(runs, held ? " (held)\n" : "\n");
    std::fclose(runs);
    return 0;
}
