// "-uninstall", the same on every system: the block goes, and the exit status says whether one
// is left in the hosts file and what would remove it (core/UninstallReport.h).
#pragma once

#include <string>

struct UninstallResult {
    int status = 0;     // kUninstallDone, kUninstallRetry or kUninstallByHand
    std::string error;  // the line for standard error (without its line end), or ""
};

// Removes the block. A package's removal script goes on either way, but a person running it
// learns the truth.
UninstallResult RunUninstall();
