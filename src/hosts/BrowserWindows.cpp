// Browser windows on X11.
#include "hosts/BrowserWindows.h"

bool g_bBrowserFound = false;

bool FindBrowserWindow() {
    g_bBrowserFound = false;
    return g_bBrowserFound;
}

int CloseBrowserWindows() { return 0; }
