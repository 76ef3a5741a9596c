// What a privileged helper does before anything else: pkexec hands on through exec much of the
// state of the process that called it, and none of it may steer or stop what runs as root.
#pragma once

// Leaves the caller's session and terminal (setsid; a helper that already leads its process
// group cannot, and drops the controlling terminal instead), sets every signal to its default,
// then ignores SIGPIPE and the terminal's signals (SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN,
// SIGTTOU), unblocks all signals, sets the resource limits this helper and the programs it runs
// need, closes every file descriptor above 2 (and opens /dev/null on any of 0-2 that is closed),
// and moves to "/" with the umask 022. Without privileges, limits that would need them are only
// brought as near as the caller's hard limits allow.
void LeaveCallerProcessState();
