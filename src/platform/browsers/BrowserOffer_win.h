// After a change to the hosts file on Windows: offer to close the browsers that still use the old
// lookups, close them on Yes and find out which of them really ended. Windows only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/browsers/BrowserOffer.h"
#include "platform/browsers/BrowserWindows.h"

// Puts the question to the user; true for Yes.
using BrowserQuestion = std::function<bool(HWND owner, const std::string& text)>;

// Asks only when a browser window is open: CloseQuestionText in a message box owned by `owner`
// (caption "Vantrel", Yes and No, question mark), or through `ask` when one is given. On Yes,
// CloseBrowsersAndWait. `waiting` is told what is awaited before the wait and "" after it.
BrowserOfferOutcome OfferToCloseBrowserWindows(
    HWND owner, const std::function<void(const std::string&)>& waiting = {},
    const BrowserQuestion& ask = {});

// The Yes answer: posts WM_CLOSE to every browser window, then waits at most waitMs, dispatching
// this thread's messages so its windows stay painted, until the processes behind those windows
// and `windows` have ended (a window whose process cannot be waited for: until it is gone).
// Returns the browsers still running, each process once.
std::vector<RunningBrowser> CloseBrowsersAndWait(const std::vector<BrowserWindow>& windows,
                                                 int waitMs = kBrowserEndWaitMs);
