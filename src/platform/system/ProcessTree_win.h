// Runs a program and waits until it and every process it started have ended (Windows only).
// An uninstaller made by NSIS copies itself to the temporary folder, starts the copy and ends at
// once: waiting for its first process alone would let the next step run beside it.
#pragma once

#include <string>

struct ProcessTreeRun {
    bool bStarted = false;
    unsigned long exitCode = 0;  // of the first process
};

// commandLine as CreateProcessW takes it (the program's path quoted when it holds blanks);
// workingDir empty: the caller's. The caller's thread blocks until the whole tree has ended.
ProcessTreeRun RunProcessTree(const std::wstring& commandLine, const std::wstring& workingDir);

// The path in double quotes when it holds a blank or a tab, as a command line needs it.
std::wstring QuoteForCommandLine(const std::wstring& path);
