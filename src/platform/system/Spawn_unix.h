// Starting a program and waiting for it, the one way every part of the program and its helpers
// does it: posix_spawn with an argument vector (never a shell) and waitpid.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

struct ChildSetup {
    std::vector<std::string> argv;  // argv[0]: the program's absolute path
    // The environment; the caller's own when not given.
    std::optional<std::vector<std::string>> environment;
    // Standard input from this descriptor, or else from the file inputPath, or else inherited.
    int inputFd = -1;
    std::string inputPath;
    // Standard output and error onto these descriptors (-1: inherited).
    int outputFd = -1;
    int errorFd = -1;
};

// Starts the program with SIGPIPE at its default and no signal blocked, as the programs a helper
// runs (and their maintainer scripts) expect; -1 when it could not be started.
pid_t StartChild(const ChildSetup& setup);
// Waits for it: its exit status, or -1 when it did not exit normally (or pid is -1).
int WaitForChild(pid_t pid);
// Both.
int RunChild(const ChildSetup& setup);
