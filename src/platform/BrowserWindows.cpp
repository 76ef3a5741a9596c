// Finding and closing browser windows: the two passes over the top-level windows.
#include "platform/BrowserWindows.h"

#include "platform/BrowserWindowSession.h"

bool g_bBrowserFound = false;

namespace {

// Checked in this order; a window matches on either.
constexpr std::string_view kBrowserTitles[] = {"Mozilla Firefox", "Internet Explorer"};

bool TitleMatches(CWindowSession& session, WindowId window) {
    const std::optional<std::string> title = session.GetWindowText(window);
    return title && IsBrowserTitle(*title);
}

// Returns false to end the enumeration at the first browser window.
bool FindBrowserProc(CWindowSession& session, WindowId window) {
    if (!TitleMatches(session, window)) return true;
    g_bBrowserFound = true;
    return false;
}

// Goes on in every case so that each browser window is reached.
bool CloseBrowserProc(CWindowSession& session, WindowId window, int& asked) {
    if (TitleMatches(session, window) && session.AskToClose(window)) ++asked;
    return true;
}

}  // namespace

bool IsBrowserTitle(std::string_view title) {
    for (std::string_view text : kBrowserTitles) {
        if (title.find(text) != std::string_view::npos) return true;
    }
    return false;
}

bool FindBrowserWindow(const char* displayName) {
    g_bBrowserFound = false;
    CWindowSession session(displayName);
    if (!session.IsOpen()) return g_bBrowserFound;
    session.EnumWindows([&](WindowId window) { return FindBrowserProc(session, window); });
    return g_bBrowserFound;
}

int CloseBrowserWindows(const char* displayName) {
    int asked = 0;
    CWindowSession session(displayName);
    if (!session.IsOpen()) return asked;
    session.EnumWindows([&](WindowId window) { return CloseBrowserProc(session, window, asked); });
    return asked;
}
