// The program's way into a hosts file that the user may not write: the privileged helper, run
// through pkexec so the desktop asks for an administrator's password.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HostsFileIO.h"

// When path is the system hosts file and the user may not write it, adds (or removes) the block
// through the helper and returns whether that worked; nullopt when the program should write the
// file itself. Asks for no password when there is nothing to do, nor when the settings lines
// (from settings) would be refused anyway. On false, *why says why in a sentence for the user,
// or is empty when the user dismissed the authentication.
std::optional<bool> AddBlockThroughHelper(const std::string& path, const SettingsSource& settings,
                                          std::string* why);
std::optional<bool> RemoveBlockThroughHelper(const std::string& path, std::string* why);

// The helper's stdin for these settings lines: each line ended by LF.
std::string HelperInput(const std::vector<std::string>& lines);

// pkexec's own exit statuses, when it ran nothing: the user dismissed the authentication, or it
// was not authorised or failed.
inline constexpr int kPkexecDismissed = 126;
inline constexpr int kPkexecNotAuthorized = 127;
// RunHelperElevated's answer when pkexec could not be started or did not exit normally.
inline constexpr int kHelperNotRun = -1;

// Runs "pkexec <helper> command" with the lines on its stdin, each ended by LF; returns the exit
// status (the helper's HelperStatus, a pkexec status above, or kHelperNotRun).
int RunHelperElevated(std::string_view command, const std::vector<std::string>& lines);

// What to tell the user about that status: "" for success and for a dismissed authentication.
std::string HelperFailureText(int status);

// Arguments the next helper runs get after their command (the step that moves running browsers
// onto the new answers); none when empty. HelperRanWithExtras: whether a helper run since then
// succeeded with them.
void SetHelperExtraArguments(std::vector<std::string> args);
bool HelperRanWithExtras();

// The helper beside the running program (both live in the same folder when installed and in a
// build tree); tests may point elsewhere.
std::string HostsHelperPath();
void SetHostsHelperPath(const std::string& path);
