// Finding and politely closing the windows of web browsers, recognised by the program behind
// them (WM_CLASS, or the process that owns the window) and, failing that, by their titles.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "core/browsers/BrowserNames.h"
#include "platform/browsers/BrowserWindowSession.h"

// Raised by the find step when a browser window was seen.
extern bool g_bBrowserFound;

struct BrowserWindow {
    WindowId window;
    Browser browser;
    std::optional<int> pid;  // the owning process on this machine, when the window names it
};

// Every browser window on the display, topmost first. `displayName` null means the session's
// own display ($DISPLAY); without a reachable display nothing is found.
std::vector<BrowserWindow> FindBrowserWindows(const char* displayName = nullptr);

// Clears g_bBrowserFound, looks through the top-level windows and stops at the first browser
// window; returns g_bBrowserFound.
bool FindBrowserWindow(const char* displayName = nullptr);
// Asks every browser window to close; never waits. Returns the windows asked.
std::vector<BrowserWindow> CloseBrowserWindows(const char* displayName = nullptr);

// The browsers among these windows that still run: their process when it is known, otherwise
// the window itself.
std::vector<Browser> BrowsersStillRunning(const std::vector<BrowserWindow>& windows,
                                          const char* displayName = nullptr);
