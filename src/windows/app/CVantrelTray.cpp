// The tray: a hidden top-level window (TaskbarCreated is broadcast to top-level windows only)
// that owns the notification icon.
#include "windows/app/CVantrelTray.h"

#include <shellapi.h>

#include <chrono>
#include <ctime>
#include <string>

#include "platform/system/WideText_win.h"
#include "windows/app/ModelHost.h"
#include "windows/app/WindowObject.h"
#include "windows/controls/MessageBox.h"

namespace {

const wchar_t kClass[] = L"VantrelTray";
const wchar_t kProduct[] = L"Vantrel";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Vantrel tray";
constexpr UINT kTrayCallback = WM_APP + 1;
constexpr UINT kShowMenu = WM_APP + 4;  // from a second start
enum Command : UINT { kToggle = 1, kTimed = 10, kOpen = 20, kStartWithDesktop, kExit };

// A disc in the status line's colour, drawn once per state.
HICON DiscIcon(COLORREF colour) {
    const int size = ::GetSystemMetrics(SM_CXSMICON);
    const HDC screen = ::GetDC(nullptr);
    const HDC dc = ::CreateCompatibleDC(screen);
    const HBITMAP colourBits = ::CreateCompatibleBitmap(screen, size, size);
    const HBITMAP maskBits = ::CreateBitmap(size, size, 1, 1, nullptr);
    ::ReleaseDC(nullptr, screen);
    const HBRUSH brush = ::CreateSolidBrush(colour);
    RECT all{0, 0, size, size};
    // The colour: the disc on black; the mask: white (see-through) but the disc.
    HGDIOBJ old = ::SelectObject(dc, colourBits);
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::SelectObject(dc, brush);
    ::SelectObject(dc, ::GetStockObject(NULL_PEN));
    ::Ellipse(dc, 1, 1, size, size);
    ::SelectObject(dc, maskBits);
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SelectObject(dc, ::GetStockObject(BLACK_BRUSH));
    ::Ellipse(dc, 1, 1, size, size);
    ::SelectObject(dc, old);
    ICONINFO info{TRUE, 0, 0, maskBits, colourBits};
    const HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(brush);
    ::DeleteObject(colourBits);
    ::DeleteObject(maskBits);
    ::DeleteDC(dc);
    return icon;
}

std::wstring RunCommand() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return L"\"" + std::wstring(path, length) + L"\" --tray";
}

bool StartsWithDesktop() {
    return ::RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

void SetStartWithDesktop(bool on) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return;
    if (on) {
        const std::wstring command = RunCommand();
        ::RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                         static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    } else {
        ::RegDeleteValueW(key, kRunValue);
    }
    ::RegCloseKey(key);
}

void CopyText(wchar_t* to, std::size_t capacity, const std::wstring& text) {
    const std::size_t n = std::min(text.size(), capacity - 1);
    text.copy(to, n);
    to[n] = L'\0';
}

}  // namespace

CVantrelTray::CVantrelTray(CModelHost& host, std::function<void()> openWindow,
                           std::function<void()> exited)
    : m_host(host), m_openWindow(std::move(openWindow)), m_exited(std::move(exited)) {
    m_icons[0] = DiscIcon(RGB(255, 0, 0));
    m_icons[1] = DiscIcon(RGB(0, 125, 0));
}

CVantrelTray::~CVantrelTray() {
    if (m_view) m_host.Model().RemoveView(m_view);
    RemoveIcon();
    if (m_hWnd) ::DestroyWindow(m_hWnd);
    for (const HICON icon : m_icons) ::DestroyIcon(icon);
}

bool CVantrelTray::Create() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClass;
    ::RegisterClassExW(&windowClass);
    m_hWnd = ::CreateWindowExW(0, kClass, kProduct, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                               windowClass.hInstance, this);
    if (!m_hWnd) return false;

    m_view = m_host.Model().AddView([this](const MainState& state) { Draw(state); });
    m_drawn = m_host.Model().State();
    AddIcon();
    m_host.Start();
    return true;
}

void CVantrelTray::PostShowMenu() const {
    ::PostMessageW(m_hWnd, kShowMenu, 0, 0);
}

void CVantrelTray::RemoveIcon() {
    if (!m_iconShown) return;
    m_iconShown = false;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hWnd;
    data.uID = 1;
    ::Shell_NotifyIconW(NIM_DELETE, &data);
}

void CVantrelTray::AddIcon() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hWnd;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallback;
    data.hIcon = m_icons[0];
    CopyText(data.szTip, std::size(data.szTip), kProduct);
    ::Shell_NotifyIconW(NIM_ADD, &data);
    m_iconShown = true;
    Draw(m_drawn);
}

void CVantrelTray::Draw(const MainState& state) {
    m_drawn = state;
    std::wstring tip = state.hidden ? L"Vantrel: ads are hidden." : L"Vantrel: ads are shown.";
    if (state.hideAt) {
        const std::time_t at = WallClock::to_time_t(*state.hideAt);
        std::tm local{};
        localtime_s(&local, &at);
        wchar_t clock[16];
        std::wcsftime(clock, std::size(clock), L"%H:%M", &local);
        tip += L" They will be hidden again at " + std::wstring(clock) + L".";
    }
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hWnd;
    data.uID = 1;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = m_icons[state.hidden ? 1 : 0];
    CopyText(data.szTip, std::size(data.szTip), tip);
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void CVantrelTray::ShowNotice(const Notice& notice) {
    m_noticeOffersHide = notice.offerHide;
    std::wstring text = Utf8ToWide(notice.text);
    if (notice.offerHide) text += L"\n" + Utf8ToWide(kHideAgainAction) + L": click here.";
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hWnd;
    data.uID = 1;
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = notice.offerHide ? NIIF_WARNING : NIIF_INFO;
    CopyText(data.szInfo, std::size(data.szInfo), text);
    CopyText(data.szInfoTitle, std::size(data.szInfoTitle), kProduct);
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

PressPrompts CVantrelTray::Prompts() {
    // Over the window when it is open: the same warnings, repair offer and browser offer as its
    // own presses.
    return m_host.Prompts();
}

void CVantrelTray::ShowMenu() {
    const HMENU menu = ::CreatePopupMenu();
    ::AppendMenuW(menu, MF_STRING | (m_drawn.busy ? MF_GRAYED : 0), kToggle,
                  m_drawn.hidden ? L"Show ads" : L"Hide ads");
    UINT id = kTimed;
    for (const TimedShowChoice& choice : kTimedShowChoices) {
        ::AppendMenuW(menu, MF_STRING, id++, Utf8ToWide(choice.text).c_str());
    }
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, kOpen, L"Open Vantrel");
    ::AppendMenuW(menu, MF_STRING | (StartsWithDesktop() ? MF_CHECKED : 0), kStartWithDesktop,
                  L"Start with my desktop");
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, kExit, L"Exit");
    POINT at{};
    ::GetCursorPos(&at);
    // Without this, the menu stays open when the user clicks elsewhere.
    ::SetForegroundWindow(m_hWnd);
    const UINT command = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, m_hWnd, nullptr));
    ::DestroyMenu(menu);
    if (command == kToggle) {
        m_host.Model().Apply(m_drawn.hidden ? HostsIntent::Show : HostsIntent::Hide, Prompts());
    } else if (command >= kTimed && command < kTimed + std::size(kTimedShowChoices)) {
        m_host.Model().ShowFor(kTimedShowChoices[command - kTimed].minutes, Prompts());
    } else if (command == kOpen) {
        m_openWindow();
    } else if (command == kStartWithDesktop) {
        SetStartWithDesktop(!StartsWithDesktop());
    } else if (command == kExit) {
        Exit();
    }
}

void CVantrelTray::Exit() {
    if (m_host.Model().TimedShowRunning() &&
        ShowMessage(m_hWnd, Utf8ToWide(kHideAgainNowQuestion), kProduct,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) == IDYES) {
        m_host.Model().Apply(HostsIntent::Hide, Prompts());
    }
    RemoveIcon();
    m_exited();
}

LRESULT CALLBACK CVantrelTray::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* tray = WindowObject<CVantrelTray>(window, message, lParam);
    if (tray && tray->m_hWnd == window) return tray->OnMessage(message, wParam, lParam);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CVantrelTray::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    static const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    if (message == taskbarCreated) {
        AddIcon();  // Explorer restarted: its notification area is new and empty
        return 0;
    }
    switch (message) {
        case kTrayCallback:
            if (LOWORD(lParam) == WM_LBUTTONUP || LOWORD(lParam) == WM_LBUTTONDBLCLK) {
                m_openWindow();
            } else if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU) {
                ShowMenu();
            } else if (LOWORD(lParam) == NIN_BALLOONUSERCLICK && m_noticeOffersHide) {
                m_host.Model().Apply(HostsIntent::Hide, Prompts());
            }
            return 0;
        case kShowMenu:
            ShowMenu();
            return 0;
        default:
            return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
    }
}
