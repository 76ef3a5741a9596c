// Another program's top-level window, titled by the first argument; built under browsers' image
// names too. Ends when its window is closed, unless the second argument is "--stay": then it
// ignores WM_CLOSE, as a browser asking about unsaved work would.
#include <windows.h>

#include <string>

namespace {

bool g_stay = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && g_stay) return 0;
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    g_stay = argc > 2 && std::wstring(argv[2]) == L"--stay";
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VantrelTestWindow";
    ::RegisterClassW(&windowClass);
    if (::CreateWindowExW(0, windowClass.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                          CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr,
                          windowClass.hInstance, nullptr) == nullptr)
        return 1;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
