// The window system on Windows: the desktop's visible top-level windows, their titles and
// processes, and WM_CLOSE as the polite request to close.
#include <windows.h>

#include <cstdint>

#include "platform/browsers/BrowserWindowSession.h"
#include "platform/system/WideText_win.h"

namespace {

// Window handles carry 32 significant bits, also in 64-bit processes, so that they can be handed
// between 32- and 64-bit programs: WindowId holds one whole.
HWND HandleOf(WindowId window) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

WindowId IdOf(HWND window) {
    return static_cast<WindowId>(reinterpret_cast<std::uintptr_t>(window));
}

BOOL CALLBACK EnumProc(HWND window, LPARAM context) {
    const auto& proc = *reinterpret_cast<const std::function<bool(WindowId)>*>(context);
    // Only what the user can see, as the window manager's client list on X11: the hidden
    // top-level windows every browser keeps for its own messages end with its process.
    if (!::IsWindowVisible(window)) return TRUE;
    return proc(IdOf(window)) ? TRUE : FALSE;
}

}  // namespace

// One desktop per session, no connection to open.
struct CWindowSession::Impl {};

CWindowSession::CWindowSession(const char* /*displayName*/) : m_pImpl(std::make_unique<Impl>()) {}

CWindowSession::~CWindowSession() = default;

bool CWindowSession::IsOpen() const {
    return true;
}

void CWindowSession::EnumWindows(const std::function<bool(WindowId)>& proc) {
    // EnumWindows goes in Z order, topmost first.
    ::EnumWindows(EnumProc, reinterpret_cast<LPARAM>(&proc));
}

std::optional<std::string> CWindowSession::GetWindowText(WindowId window) {
    const HWND handle = HandleOf(window);
    if (!::IsWindow(handle)) return std::nullopt;
    // A hung window's title is read from its own record, without a message to it.
    const int length = ::GetWindowTextLengthW(handle);
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(handle, title.data(), length + 1);
    title.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return WideToUtf8(title);
}

std::optional<std::pair<std::string, std::string>> CWindowSession::GetWindowClass(
    WindowId /*window*/) {
    // A window class names the toolkit ("MozillaWindowClass", "Chrome_WidgetWin_1"), not the
    // program: the process's image says which browser it is.
    return std::nullopt;
}

std::optional<int> CWindowSession::GetWindowProcessId(WindowId window) {
    DWORD pid = 0;
    if (::GetWindowThreadProcessId(HandleOf(window), &pid) == 0 || pid == 0) return std::nullopt;
    return static_cast<int>(pid);
}

bool CWindowSession::WindowExists(WindowId window) {
    return ::IsWindow(HandleOf(window)) != FALSE;
}

bool CWindowSession::AskToClose(WindowId window) {
    return ::PostMessageW(HandleOf(window), WM_CLOSE, 0, 0) != FALSE;
}
