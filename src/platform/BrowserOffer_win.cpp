// The question before closing the browsers, and the wait for them to end, on Windows.
#include "platform/BrowserOffer_win.h"

#include <algorithm>

#include "platform/BrowserProcesses.h"
#include "platform/WideText_win.h"

namespace {

// Each process once; a window without a known process stands for itself.
std::vector<BrowserWindow> OnePerProcess(std::vector<BrowserWindow> windows) {
    std::vector<BrowserWindow> distinct;
    for (const BrowserWindow& window : windows) {
        const bool seen =
            std::any_of(distinct.begin(), distinct.end(), [&](const BrowserWindow& w) {
                return window.pid ? w.pid == window.pid : w.window == window.window;
            });
        if (!seen) distinct.push_back(window);
    }
    return distinct;
}

std::vector<RunningBrowser> Running(const std::vector<BrowserWindow>& windows) {
    std::vector<RunningBrowser> running;
    CWindowSession session(nullptr);
    for (const BrowserWindow& window : windows) {
        const bool alive =
            window.pid ? ProcessRunning(*window.pid) : session.WindowExists(window.window);
        if (alive) running.push_back({window.browser, window.pid});
    }
    return running;
}

// Dispatches what is waiting; false when the thread was told to quit (the message is put back
// for the loop that owns it).
bool PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return true;
}

}  // namespace

std::vector<RunningBrowser> CloseBrowsersAndWait(const std::vector<BrowserWindow>& windows,
                                                 int waitMs) {
    std::vector<BrowserWindow> awaited = windows;
    const std::vector<BrowserWindow> asked = CloseBrowserWindows();
    awaited.insert(awaited.end(), asked.begin(), asked.end());
    awaited = OnePerProcess(std::move(awaited));

    std::vector<HANDLE> processes;
    std::vector<BrowserWindow> polled;  // no process handle: watched by the window itself
    for (const BrowserWindow& window : awaited) {
        const HANDLE process =
            window.pid ? ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(*window.pid))
                       : nullptr;
        if (process != nullptr)
            processes.push_back(process);
        else
            polled.push_back(window);
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
        const DWORD woke =
            ::MsgWaitForMultipleObjects(count, processes.data(), FALSE, slice, QS_ALLINPUT);
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
        for (const BrowserWindow& window : OnePerProcess(windows))
            outcome.mustRestart.push_back({window.browser, window.pid});
        return outcome;
    }
    outcome.closeAccepted = true;
    if (waiting) waiting(WaitingToCloseText(outcome.found));
    outcome.mustRestart = CloseBrowsersAndWait(windows);
    if (waiting) waiting(std::string());
    return outcome;
}
