// "-uninstall", the same on every system: the block goes, and the exit status says whether one
// is left in the hosts file.
#pragma once

#include <string>

struct UninstallResult {
    int status = 0;     // 0 when no block is left (also when there is no hosts file), else 1
    std::string error;  // the line for standard error (without its line end), or ""
};

// Removes the block. A package's removal script goes on either way, but a person running it
// learns the truth.
UninstallResult RunUninstall();
