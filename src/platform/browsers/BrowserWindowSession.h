// The window system seen by the browser-closing steps: one connection per operation (X11), or
// the session's one desktop (Windows, where the display name is not used and a WindowId holds
// a window handle).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

// <windows.h> makes GetWindowText a macro for its wide or narrow function; the member below
// keeps its own name wherever windows.h came first.
#ifdef GetWindowText
#undef GetWindowText
#endif

using WindowId = std::uint32_t;

class CWindowSession {
public:
    // Connects to `displayName` (null: the session's default); IsOpen() tells whether it worked.
    explicit CWindowSession(const char* displayName);
    ~CWindowSession();
    CWindowSession(const CWindowSession&) = delete;
    CWindowSession& operator=(const CWindowSession&) = delete;

    bool IsOpen() const;
    // Calls `proc` for each top-level client window, topmost first, until it returns false.
    void EnumWindows(const std::function<bool(WindowId)>& proc);
    // The window's title as UTF-8 (or the legacy bytes); nothing when it cannot be read.
    std::optional<std::string> GetWindowText(WindowId window);
    // WM_CLASS: the instance and class names; nothing when the window has none (always nothing
    // on Windows, where the class names the toolkit, not the program).
    std::optional<std::pair<std::string, std::string>> GetWindowClass(WindowId window);
    // The process that owns the window (X11: _NET_WM_PID, only when the window says it runs on
    // this machine, since a process id from another host would name an unrelated process here).
    std::optional<int> GetWindowProcessId(WindowId window);
    // False once the window has been destroyed.
    bool WindowExists(WindowId window);
    // Asks the window to close the way its close button would; false when there is no polite way.
    bool AskToClose(WindowId window);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
