// For the end-to-end test: prints the notes line of the visible main window ("Vantrel" with a
// notes line; message boxes carry the same title), which xdotool cannot read. Status 1 when there
// is no such window.
#include <windows.h>

#include <cstdio>
#include <string>

#include "windows/resource.h"

namespace {

HWND g_found = nullptr;

BOOL CALLBACK Look(HWND window, LPARAM) {
    wchar_t title[16] = {};
    ::GetWindowTextW(window, title, 16);
    if (::IsWindowVisible(window) && std::wstring(title) == L"Vantrel" &&
        ::GetDlgItem(window, IDC_NOTES) != nullptr) {
        g_found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main() {
    ::EnumWindows(Look, 0);
    if (!g_found) return 1;
    wchar_t text[512] = {};
    ::GetDlgItemTextW(g_found, IDC_NOTES, text, 512);
    char utf8[2048] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("%s\n", utf8);
    return 0;
}
