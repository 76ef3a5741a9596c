// Finding and politely closing the windows of web browsers, recognised by their titles.
#pragma once

#include <string_view>

// Raised by the find step when a browser window was seen.
extern bool g_bBrowserFound;

// Clears g_bBrowserFound, looks through the top-level windows and stops at the first whose
// title contains "Mozilla Firefox" or "Internet Explorer"; returns g_bBrowserFound.
// `displayName` null means the session's own display ($DISPLAY). Without a reachable
// display nothing is found.
bool FindBrowserWindow(const char* displayName = nullptr);
// Asks every matching window to close; never waits. Returns how many were asked.
int CloseBrowserWindows(const char* displayName = nullptr);

// True when the title holds one of the browser texts (case-sensitive).
bool IsBrowserTitle(std::string_view title);
