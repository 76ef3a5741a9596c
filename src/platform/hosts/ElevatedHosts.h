// The program's way into a hosts file that the user may not write: the privileged helper, run
// through pkexec. Show, and Hide of the list an administrator approved, are the active user's
// own; only Hide of another list makes the desktop ask for an administrator's password. On
// Windows it is the hosts file service (HostsService_win.h), which takes no lines from the
// program.
#pragma once

#include <string>
#include <vector>

#include "platform/hosts/HostsResult.h"

// Whether changing the file at path takes the helper: it is the system hosts file and this
// process is not root (only root may take that file's lock, and the helper is root).
bool HostsNeedHelper(const std::string& path);

// A press carried out by the helper in one locked pass of its own (lines: the settings lines for
// Hide). Show is "approved show"; Hide is "approved hide" when the lines are the approved block
// (ListIsApproved), else "hide" with the lines, which asks for the administrator, as does a Hide
// whose approved block the helper no longer finds. The result takes the state from the helper's
// report; the file is read here only when the helper could not say what it holds. Its sentence is
// "" when the helper did what was asked or the user dismissed the authentication.
HostsResult ApplyIntentThroughHelper(const std::string& path, HostsIntent intent,
                                     const std::vector<std::string>& lines);

// Whether the settings lines are the approved block, exactly as the helper keeps it.
bool ListIsApproved(const std::vector<std::string>& lines);

// RunHelperElevated's answer when pkexec could not be started or did not exit normally.
inline constexpr int kHelperNotRun = -1;
// Runs "pkexec <helper> command..." with the lines on its stdin, each ended by LF; returns the
// exit status (the helper's HelperStatus, a pkexec status, or kHelperNotRun). With output, what
// the helper wrote on its stdout goes there.
int RunHelperElevated(const std::vector<std::string>& command,
                      const std::vector<std::string>& lines, std::string* output = nullptr);
// What to tell the user about that status: "" for success and for a dismissed authentication.
std::string HelperFailureText(int status);

// Arguments the next helper runs get after their command (the step that moves running browsers
// onto the new answers); none when empty. HelperRanWithExtras: whether a helper run since then
// succeeded with them.
void SetHelperExtraArguments(std::vector<std::string> args);
bool HelperRanWithExtras();

// The helper beside the running program (both live in the same folder when installed and in a
// build tree), run by kPkexecPath. Tests name others; "" goes back to those.
std::string HostsHelperPath();
void SetHostsHelperPath(const std::string& path);
void SetPkexecPathForTests(const std::string& path);
// The approved block looked at (kApprovedBlockPath unless a test names another; "" goes back).
void SetApprovedBlockPathForTests(const std::string& path);
