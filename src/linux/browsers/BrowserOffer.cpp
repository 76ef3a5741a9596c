// The question put to the user before browsers are closed, and the wait for them to end.
#include "linux/browsers/BrowserOffer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "linux/controls/MessageBox.h"
#include "platform/browsers/BrowserProcesses.h"
#include "platform/browsers/BrowserWindows.h"

namespace {

// Native Wayland windows are invisible to X11: there the user's browser processes are all
// there is to go by.
bool OnWayland() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland != nullptr && *wayland != '\0';
}

// Browsers running without an X11 window we can see.
std::vector<BrowserProcess> BrowsersWithoutWindows(const std::vector<BrowserWindow>& windows) {
    if (!OnWayland()) return {};
    std::vector<BrowserProcess> hidden;
    for (const BrowserProcess& process : FindBrowserProcesses()) {
        const bool seen = std::any_of(windows.begin(), windows.end(),
                                      [&](const BrowserWindow& w) { return w.pid == process.pid; });
        if (!seen) hidden.push_back(process);
    }
    return hidden;
}

std::vector<RunningBrowser> StillRunning(const std::vector<BrowserWindow>& windows,
                                         const std::vector<BrowserProcess>& processes) {
    std::vector<RunningBrowser> running;
    CWindowSession session(nullptr);
    for (const BrowserWindow& window : windows) {
        const bool alive =
            window.pid ? ProcessRunning(*window.pid) : session.WindowExists(window.window);
        if (alive) running.push_back({window.browser, window.pid});
    }
    for (const BrowserProcess& process : processes) {
        if (ProcessRunning(process.pid)) running.push_back({process.browser, process.pid});
    }
    return running;
}

std::vector<Browser> BrowsersOf(const std::vector<RunningBrowser>& running) {
    std::vector<Browser> browsers;
    for (const RunningBrowser& browser : running) browsers.push_back(browser.browser);
    return InQuestionOrder(browsers);
}

}  // namespace

BrowserOfferOutcome OfferToCloseBrowserWindows(
    QWidget* owner, const std::function<void(const std::string&)>& waiting) {
    BrowserOfferOutcome outcome;
    const std::vector<BrowserWindow> windows = FindBrowserWindows();
    g_bBrowserFound = !windows.empty();
    // Browsers seen only as processes are closed only where that keeps the user's session; the
    // others can only be named, for the user to restart.
    std::vector<BrowserProcess> hidden;
    std::vector<RunningBrowser> unclosable;
    for (const BrowserProcess& process : BrowsersWithoutWindows(windows)) {
        if (EndsGracefullyOnRequest(process.browser))
            hidden.push_back(process);
        else
            unclosable.push_back({process.browser, process.pid});
    }

    std::vector<RunningBrowser> all;
    for (const BrowserWindow& window : windows) all.push_back({window.browser, window.pid});
    for (const BrowserProcess& process : hidden) all.push_back({process.browser, process.pid});
    outcome.found = BrowsersOf(all);
    outcome.mustRestart = unclosable;
    if (outcome.found.empty()) return outcome;

    const QString product = QStringLiteral("Vantrel");
    const QString text = QString::fromStdString(CloseQuestionText(outcome.found));
    const auto answer = ShowMessage(owner, text, product, QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::Question);
    if (answer != QMessageBox::Yes) {
        outcome.mustRestart.insert(outcome.mustRestart.end(), all.begin(), all.end());
        return outcome;
    }
    outcome.closeAccepted = true;

    CloseBrowserWindows();
    for (const BrowserProcess& process : hidden) {
        // Ended as a logout would end it, so it keeps its open tabs for the next start.
        AskProcessToEnd(process.pid);
    }

    // Dispatches events while waiting, so the window stays painted and responsive.
    if (waiting) waiting(WaitingToCloseText(outcome.found));
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() >= kBrowserEndWaitMs || StillRunning(windows, hidden).empty())
            loop.quit();
    });
    tick.start();
    if (!StillRunning(windows, hidden).empty()) loop.exec();
    if (waiting) waiting(std::string());
    const std::vector<RunningBrowser> left = StillRunning(windows, hidden);
    outcome.mustRestart.insert(outcome.mustRestart.end(), left.begin(), left.end());
    return outcome;
}
