// What the offer to close the browsers after a change leaves for the notes line: the same on
// every system, whatever asks the question.
#pragma once

#include <optional>
#include <vector>

#include "core/browsers/BrowserNames.h"

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

// The longest wait for browsers to end after Yes.
inline constexpr int kBrowserEndWaitMs = 6000;
