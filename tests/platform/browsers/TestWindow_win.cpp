// Another program's top-level windows, one per title argument; built under browsers' image names
// too. Ends when its last window is closed. With "--stay" it ignores WM_CLOSE, as a browser asking
// about unsaved work would.
#include <windows.h>

#include <string>

namespace {

bool g_stay = false;
int g_windows = 0;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && g_stay) return 0;
    if (message == WM_DESTROY && --g_windows == 0) ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VantrelTestWindow";
    ::RegisterClassW(&windowClass);
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--stay") {
            g_stay = true;
            continue;
        }
        if (::CreateWindowExW(0, windowClass.lpszClassName, argv[i],
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                              200, nullptr, nullptr, windowClass.hInstance, nullptr) == nullptr)
            return 1;
        ++g_windows;
    }
    if (g_windows == 0) return 2;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
