// The session's instance is a named object in the session's namespace (Local\) and a hidden
// window titled kSessionTitle: a later start finds the window and sends it the wish. The answer
// says whether the wish was taken; a process on its way out refuses, and the start tries again
// until that process and its name are gone, then becomes the session's Vantrel itself.
#include "windows/app/CVantrelApp.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "windows/app/CVantrelDlg.h"
#include "windows/app/CVantrelTray.h"
#include "windows/app/ModelHost.h"

namespace {

const wchar_t kInstanceName[] = L"Local\\Vantrel";
const wchar_t kSessionTitle[] = L"Vantrel session";
// Sent by a later start: wParam the VantrelWish; the answer is kWishTaken or 0.
constexpr UINT kSessionWish = WM_APP + 10;
constexpr LRESULT kWishTaken = 1;
// Posted to the host by itself: the wish granted outside the sender's wait, and a closed window
// freed.
constexpr UINT kGrantWish = WM_APP + 11;
constexpr UINT kFreeClosedWindow = WM_APP + 12;

}  // namespace

CVantrelApp::CVantrelApp() = default;

CVantrelApp::~CVantrelApp() {
    m_window.reset();
    m_closedWindow.reset();
    m_tray.reset();
    m_host.reset();
    if (m_instance) ::CloseHandle(m_instance);
}

int CVantrelApp::Run(VantrelWish wish) {
    if (HandOver(wish)) return 0;
    if (!m_instance) return 1;
    // The common controls of the manifest's version 6.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    m_host = std::make_unique<CModelHost>(kSessionTitle);
    if (!m_host->GetSafeHwnd()) return 1;
    m_host->SetNotify([this](const Notice& notice) { Notify(notice); });
    m_host->SetPromptOwner([this] { return PromptOwner(); });
    m_host->SetHandler([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) {
        return OnHostMessage(message, wParam, lParam, answer);
    });
    Grant(wish);
    if (!m_window && !m_tray) return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        const HWND window = m_window ? m_window->GetSafeHwnd() : nullptr;
        if (window && ::IsDialogMessageW(window, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    // Later starts find no instance from here on.
    ::CloseHandle(m_instance);
    m_instance = nullptr;
    return 0;
}

bool CVantrelApp::HandOver(VantrelWish wish) {
    // About ten seconds for a starting instance to make its window, or an ending one to go.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HANDLE instance = ::CreateMutexW(nullptr, FALSE, kInstanceName);
        if (!instance) return false;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            m_instance = instance;
            return false;
        }
        if (const HWND other = ::FindWindowW(kModelHostClass, kSessionTitle)) {
            // The window it opens or brings forward may come to the front.
            DWORD process = 0;
            ::GetWindowThreadProcessId(other, &process);
            ::AllowSetForegroundWindow(process);
            DWORD_PTR answer = 0;
            if (::SendMessageTimeoutW(other, kSessionWish, static_cast<WPARAM>(wish), 0,
                                      SMTO_ABORTIFHUNG, 5000, &answer) &&
                answer == static_cast<DWORD_PTR>(kWishTaken)) {
                ::CloseHandle(instance);
                return true;
            }
        }
        ::CloseHandle(instance);
        ::Sleep(100);
    }
    return false;
}

bool CVantrelApp::OnHostMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& answer) {
    switch (message) {
        case kSessionWish:
            // Granted from this process's own queue: the sender waits for the answer only.
            if (m_ending || (wParam != static_cast<WPARAM>(VantrelWish::Window) &&
                             wParam != static_cast<WPARAM>(VantrelWish::Tray)))
                return false;
            ::PostMessageW(m_host->GetSafeHwnd(), kGrantWish, wParam, 0);
            answer = kWishTaken;
            return true;
        case kGrantWish:
            if (!m_ending) Grant(static_cast<VantrelWish>(wParam));
            return true;
        case kFreeClosedWindow:
            m_closedWindow.reset();
            return true;
        default:
            return false;
    }
}

void CVantrelApp::Grant(VantrelWish wish) {
    if (wish == VantrelWish::Tray) {
        if (m_tray)
            m_tray->PostShowMenu();
        else
            ShowTray();
    } else {
        OpenWindow();
    }
}

void CVantrelApp::OpenWindow() {
    if (m_window) {
        const HWND window = m_window->GetSafeHwnd();
        if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
        // A box open over the window comes forward with it.
        ::SetForegroundWindow(::GetLastActivePopup(window));
        return;
    }
    m_window = std::make_unique<CVantrelDlg>(*m_host);
    m_window->SetEnding([this] { return !m_tray; }, [this] { WindowClosed(); });
    if (!m_window->Create(nullptr)) {
        m_window.reset();
        return;
    }
    ::SetForegroundWindow(m_window->GetSafeHwnd());
}

void CVantrelApp::WindowClosed() {
    // Called from the window's own handler: the object goes later, from the main loop.
    m_closedWindow = std::move(m_window);
    ::PostMessageW(m_host->GetSafeHwnd(), kFreeClosedWindow, 0, 0);
    if (!m_tray) {
        m_ending = true;
        ::PostQuitMessage(0);
    }
}

void CVantrelApp::ShowTray() {
    m_tray = std::make_unique<CVantrelTray>(
        *m_host, [this] { Grant(VantrelWish::Window); }, [this] { TrayExited(); });
    if (!m_tray->Create()) m_tray.reset();
}

void CVantrelApp::TrayExited() {
    // Vantrel ends in this session, the window too. What runs a modal loop now (a box over the
    // window, the tray's menu) ends with the quit message; the objects go after the main loop.
    m_ending = true;
    if (m_window && m_window->GetSafeHwnd()) ::ShowWindow(m_window->GetSafeHwnd(), SW_HIDE);
    ::PostQuitMessage(0);
}

void CVantrelApp::Notify(const Notice& notice) {
    if (m_tray)
        m_tray->ShowNotice(notice);
    else if (m_window)
        m_window->ShowNotice(notice);
}

HWND CVantrelApp::PromptOwner() const {
    if (m_window) return m_window->GetSafeHwnd();
    return m_tray ? m_tray->GetSafeHwnd() : nullptr;
}
