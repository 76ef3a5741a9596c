// The browsers' processes: what program a process runs, whether it still runs, and the user's
// running browsers when their windows cannot be seen (a Wayland session). `procRoot` is where
// Linux's /proc is (tests give a tree of their own); Windows asks the system and ignores it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/browsers/BrowserNames.h"

struct BrowserProcess {
    Browser browser;
    int pid;
};

// The file name of the program the process runs; nothing when it is gone or not ours to see.
std::optional<std::string> ProgramOfProcess(int pid, const std::string& procRoot = "/proc");
// True while the process exists and has not ended (a zombie has ended).
bool ProcessRunning(int pid, const std::string& procRoot = "/proc");
// The main process of each browser the current user runs: a browser process whose parent is not
// the same browser (renderers, content and helper processes are children of the main one).
std::vector<BrowserProcess> FindBrowserProcesses(const std::string& procRoot = "/proc");
// Whether ending the browser's main process as a logout would (SIGTERM) keeps the user's session:
// Chromium's family saves it and records a normal end; Firefox ESR dies as in a crash, its tabs
// back only through crash recovery. Always false on Windows, which has no such request.
bool EndsGracefullyOnRequest(Browser browser);
// Asks the process to end as a logout would; false when it could not be asked.
bool AskProcessToEnd(int pid);
