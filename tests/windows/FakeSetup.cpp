// Stands in for an uninstaller or a setup program in the upgrade tests: appends its own file
// name and its arguments to runs.txt in its working directory, and ends.
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
    std::FILE* runs = ::_wfopen(L"runs.txt", L"ab");
    if (!runs) return 1;
    std::fprintf(runs, "%ls", name);
    for (int i = 1; i < argc; ++i) std::fprintf(runs, " %ls", argv[i]);
    std::fprintf(runs, "\n");
    std::fclose(runs);
    return 0;
}
