// Moving the running browsers onto a changed hosts file instead of asking to close them: the
// addresses the listed names have before the change, the privileged step that announces the
// change and ends the browsers' connections to those addresses, and the check afterwards.
#pragma once

#include <string>
#include <vector>

#include "core/browsers/BrowserSockets.h"

// The preferences value that turns it off with "0" (the browsers are then offered to be closed,
// as always); anything else, or nothing, leaves it on.
inline constexpr const char* kLiveApplyValue = "UpdateOpenBrowsers";
bool LiveApplyTurnedOn();

struct LiveApplyRun {
    LiveApplyBlock before = LiveApplyBlock::None;  // what already rules it out
    std::vector<std::string> peers;                // binary addresses the names have now
};

// Before the change: looks up the names of the block and of the settings file (both families,
// for at most a few seconds) and hands their addresses to the privileged helper's next run.
LiveApplyRun PrepareLiveApply();
// After the toggle (`changed`: the hosts file's state changed; when not, nothing is moved and the
// browsers are offered to be closed as always, with no reason to tell). Otherwise takes the step
// itself when the program runs as root and no helper took it, then lists the browsers' connections
// again. None when no browser needs anything more; otherwise why the browsers must be offered to be
// closed.
LiveApplyBlock FinishLiveApply(const LiveApplyRun& run, bool changed);
