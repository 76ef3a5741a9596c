// The question before closing the browsers, and the wait for them to end, on Windows.
#include "platform/browsers/BrowserOffer_win.h"
#include "platform/system/MessagePump_win.h"

#include <algorithm>

#include "platform/browsers/BrowserProcesses.h"
#include "platform/system/WideText_win.h"

namespace {

// A window found by its title alone may belong to any program (an editor showing a file named
// after a browser): that program need not end, only the window. A browser's own window is
// followed by its process, which keeps the old lookups until it ends.
struct Awaited {
    BrowserWindow window;
    bool byProcess;
};

bool IsBrowserProcess(const std::optional<int>& pid) {
    if (!pid) return false;
    const std::optional<std::string> program = ProgramOfProcess(*pid);
    return program && BrowserOfProgram(*program).has_value();
}

// Each browser process once, every other window on its own.
std::vector<Awaited> WhatToAwait(const std::vector<BrowserWindow>& windows) {
    std::vector<Awaited> awaited;
    for (const BrowserWindow& window : windows) {
        const bool byProcess = IsBrowserProcess(window.pid);
        const bool seen = std::any_of(awaited.begin(), awaited.end(), [&](const Awaited& a) {
            return byProcess ? a.byProcess && a.window.pid == window.pid
                             : !a.byProcess && a.window.window == window.window;
        });
        if (!seen) awaited.push_back({window, byProcess});
    }
    return awaited;
}

std::vector<RunningBrowser> Running(const std::vector<Awaited>& awaited) {
    std::vector<RunningBrowser> running;
    CWindowSession session(nullptr);
    for (const Awaited& a : awaited) {
        const bool alive =
            a.byProcess ? ProcessRunning(*a.window.pid) : session.WindowExists(a.window.window);
        if (alive) running.push_back({a.window.browser, a.window.pid});
    }
    return running;
}

}  // namespace

std::vector<RunningBrowser> CloseBrowsersAndWait(const std::vector<BrowserWindow>& windows,
                                                 int waitMs) {
    std::vector<BrowserWindow> all = windows;
    const std::vector<BrowserWindow> asked = CloseBrowserWindows();
    all.insert(all.end(), asked.begin(), asked.end());
    std::vector<Awaited> awaited = WhatToAwait(all);

    std::vector<HANDLE> processes;
    std::vector<BrowserWindow> polled;  // watched by the window itself
    for (Awaited& a : awaited) {
        const HANDLE process =
            a.byProcess ? ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(*a.window.pid))
                        : nullptr;
        a.byProcess = process != nullptr;
        if (process != nullptr)
            processes.push_back(process);
        else
            polled.push_back(a.window);
    }

    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(waitMs, 0));
    CWindowSession session(nullptr);
    for (;;) {
        std::erase_if(processes, [](HANDLE process) {
            if (::WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
            ::CloseHandle(process);
            return true;
        });
        std::erase_if(polled,
                      [&](const BrowserWindow& w) { return !session.WindowExists(w.window); });
        const ULONGLONG now = ::GetTickCount64();
        if ((processes.empty() && polled.empty()) || now >= deadline) break;
        // At most 63 handles beside the message queue; the rest, and windows, are looked at
        // every 100 ms.
        const auto count = static_cast<DWORD>(std::min<std::size_t>(processes.size(), 63));
        DWORD slice = static_cast<DWORD>(deadline - now);
        if (!polled.empty() || processes.size() > count) slice = std::min<DWORD>(slice, 100);
        // Also for messages that arrived before and are still queued.
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(count, processes.data(), slice,
                                                         QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0 + count && !PumpMessages()) break;
        if (woke == WAIT_FAILED) ::Sleep(std::min<DWORD>(slice, 100));
    }
    for (const HANDLE process : processes) ::CloseHandle(process);
    return Running(awaited);
}

BrowserOfferOutcome OfferToCloseBrowserWindows(
    HWND owner, const std::function<void(const std::string&)>& waiting,
    const BrowserQuestion& ask) {
    BrowserOfferOutcome outcome;
    const std::vector<BrowserWindow> windows = FindBrowserWindows();
    g_bBrowserFound = !windows.empty();
    std::vector<Browser> browsers;
    for (const BrowserWindow& window : windows) browsers.push_back(window.browser);
    outcome.found = InQuestionOrder(browsers);
    if (outcome.found.empty()) return outcome;

    const std::string text = CloseQuestionText(outcome.found);
    const bool yes = ask ? ask(owner, text)
                         : ::MessageBoxW(owner, Utf8ToWide(text).c_str(), L"Vantrel",
                                         MB_YESNO | MB_ICONQUESTION) == IDYES;
    if (!yes) {
        for (const Awaited& a : WhatToAwait(windows))
            outcome.mustRestart.push_back({a.window.browser, a.window.pid});
        return outcome;
    }
    outcome.closeAccepted = true;
    if (waiting) waiting(WaitingToCloseText(outcome.found));
    outcome.mustRestart = CloseBrowsersAndWait(windows);
    if (waiting) waiting(std::string());
    return outcome;
}
