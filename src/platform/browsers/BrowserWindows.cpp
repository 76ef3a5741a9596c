// Finding and closing browser windows: the passes over the top-level windows.
#include "platform/browsers/BrowserWindows.h"

#include "platform/browsers/BrowserProcesses.h"

bool g_bBrowserFound = false;

namespace {

// The program first: a title is whatever page the browser shows, and a browser's own name in
// it is neither reliable nor proof.
std::optional<BrowserWindow> IdentifyWindow(CWindowSession& session, WindowId window) {
    std::optional<Browser> browser;
    if (const auto wmClass = session.GetWindowClass(window)) {
        browser = BrowserOfProgram(wmClass->second);
        if (!browser) browser = BrowserOfProgram(wmClass->first);
    }
    const std::optional<int> pid = session.GetWindowProcessId(window);
    if (!browser && pid) {
        if (const auto program = ProgramOfProcess(*pid)) browser = BrowserOfProgram(*program);
    }
    if (!browser) {
        if (const auto title = session.GetWindowText(window)) browser = BrowserOfTitle(*title);
    }
    if (!browser) return std::nullopt;
    return BrowserWindow{window, *browser, pid};
}

}  // namespace

std::vector<BrowserWindow> FindBrowserWindows(const char* displayName) {
    std::vector<BrowserWindow> found;
    CWindowSession session(displayName);
    session.EnumWindows([&](WindowId window) {
        if (auto browser = IdentifyWindow(session, window)) found.push_back(*browser);
        return true;
    });
    return found;
}

bool FindBrowserWindow(const char* displayName) {
    g_bBrowserFound = false;
    CWindowSession session(displayName);
    session.EnumWindows([&](WindowId window) {
        g_bBrowserFound = IdentifyWindow(session, window).has_value();
        return !g_bBrowserFound;
    });
    return g_bBrowserFound;
}

std::vector<BrowserWindow> CloseBrowserWindows(const char* displayName) {
    std::vector<BrowserWindow> asked;
    CWindowSession session(displayName);
    session.EnumWindows([&](WindowId window) {
        const auto browser = IdentifyWindow(session, window);
        if (browser && session.AskToClose(window)) asked.push_back(*browser);
        return true;
    });
    return asked;
}

std::vector<Browser> BrowsersStillRunning(const std::vector<BrowserWindow>& windows,
                                          const char* displayName) {
    std::vector<Browser> running;
    CWindowSession session(displayName);
    for (const BrowserWindow& window : windows) {
        const bool alive =
            window.pid ? ProcessRunning(*window.pid) : session.WindowExists(window.window);
        if (alive) running.push_back(window.browser);
    }
    return InQuestionOrder(running);
}
