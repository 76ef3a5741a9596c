// Finding and politely closing the windows of web browsers, recognised by their titles.
#pragma once

// Raised by the find step when a browser window was seen.
extern bool g_bBrowserFound;

// Clears g_bBrowserFound, looks through the top-level windows and stops at the first whose
// title contains "Mozilla Firefox" or "Internet Explorer"; returns g_bBrowserFound.
bool FindBrowserWindow();
// Asks every matching window to close; never waits. Returns how many were asked.
int CloseBrowserWindows();
