// After a change to the hosts file: offer to close the browsers that still use the old lookups,
// and find out which of them really ended.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "core/BrowserNames.h"

class QWidget;

struct RunningBrowser {
    Browser browser;
    std::optional<int> pid;  // its main process, when known
};

struct BrowserOfferOutcome {
    std::vector<Browser> found;  // empty: nothing was asked
    bool closeAccepted = false;
    // Browsers that keep their old lookups until they are restarted: all of them after No, the
    // ones still running after the wait after Yes, and those that cannot be closed without
    // losing the user's session (seen as processes only, on Wayland), asked or not.
    std::vector<RunningBrowser> mustRestart;
};

// Asks (owned by `owner`) only when a browser runs; on Yes asks every browser window to close
// and then waits a few seconds, dispatching events, until their processes have ended.
// `waiting` is told what is being waited for, and an empty text when the wait is over.
BrowserOfferOutcome OfferToCloseBrowserWindows(
    QWidget* owner, const std::function<void(const QString&)>& waiting = {});

// The longest wait for browsers to end after Yes.
inline constexpr int kBrowserEndWaitMs = 6000;
