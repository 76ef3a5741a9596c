// The splash's time is a window timer of its own: it ends with the window, so nothing can
// touch the splash after it has been destroyed.
#include "windows/app/CSplashDlg.h"

#include "windows/resource.h"

namespace {
constexpr UINT_PTR kTimerId = 1;

// The splash shown on this thread, while it shows.
CSplashDlg* g_pShownSplash = nullptr;
HHOOK g_hKeyHook = nullptr;

// A window manager may keep the keyboard on the dialog beneath the splash: a key pressed on this
// thread while the splash shows dismisses it, and goes no further (it must not press the button
// that has the focus).
LRESULT CALLBACK KeyHook(int code, WPARAM removed, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removed == PM_REMOVE && g_pShownSplash != nullptr &&
        (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN)) {
        msg->message = WM_NULL;
        g_pShownSplash->Dismiss();
    }
    return ::CallNextHookEx(nullptr, code, removed, lParam);
}
}  // namespace

CSplashDlg::CSplashDlg() : CDialog(IDD_SPLASH) {}

CSplashDlg::~CSplashDlg() {
    StopKeyWatch();
}

void CSplashDlg::StopKeyWatch() {
    if (g_pShownSplash != this) return;
    g_pShownSplash = nullptr;
    if (g_hKeyHook != nullptr) ::UnhookWindowsHookEx(g_hKeyHook);
    g_hKeyHook = nullptr;
}

bool CSplashDlg::Popup(HWND owner) {
    if (!Create(owner)) return false;
    ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    ::SetTimer(m_hWnd, kTimerId, kShowMs, nullptr);
    if (g_pShownSplash == nullptr) {
        g_pShownSplash = this;
        g_hKeyHook = ::SetWindowsHookExW(WH_GETMESSAGE, KeyHook, nullptr, ::GetCurrentThreadId());
    }
    return true;
}

BOOL CSplashDlg::OnInitDialog() {
    // The window fits the picture: with a dialog font of another height than the one the
    // template was made for, the window would cut the picture off or leave a band.
    RECT picture{};
    if (const HWND control = ::GetWindow(m_hWnd, GW_CHILD)) {
        ::GetWindowRect(control, &picture);
        RECT frame{0, 0, picture.right - picture.left, picture.bottom - picture.top};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)),
                             FALSE, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        CenterWindow(true);
    }
    // No control takes the focus: keys reach the window itself.
    ::SetFocus(m_hWnd);
    return FALSE;
}

bool CSplashDlg::IsShown() const {
    return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd);
}

void CSplashDlg::Dismiss() {
    if (m_hWnd == nullptr) return;
    ::KillTimer(m_hWnd, kTimerId);
    StopKeyWatch();
    if (!::IsWindowVisible(m_hWnd)) return;
    const bool active = ::GetActiveWindow() == m_hWnd;
    ::ShowWindow(m_hWnd, SW_HIDE);
    // Hand the keyboard back to the window beneath.
    const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (active && owner != nullptr) ::SetActiveWindow(owner);
}

INT_PTR CSplashDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    switch (message) {
        case WM_TIMER:
            if (wParam != kTimerId) return 0;
            [[fallthrough]];
        case WM_LBUTTONDOWN:
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            Dismiss();
            handled = true;
            return 0;
        default:
            return 0;
    }
}
