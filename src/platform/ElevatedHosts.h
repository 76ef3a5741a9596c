// The program's way into a hosts file that the user may not write: the privileged helper, run
// through pkexec so the desktop asks for an administrator's password.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HostsFileIO.h"

// Whether changing the file at path takes the helper: it is the system hosts file and the user
// may not write it.
bool HostsNeedHelper(const std::string& path);

// When path is the system hosts file and the user may not write it, adds (or removes) the block
// through the helper and returns whether that worked; nullopt when the program should write the
// file itself. Asks for no password when there is nothing to do, nor when the settings lines
// (from settings) would be refused anyway. On false, *why says why in a sentence for the user,
// or is empty when the user dismissed the authentication.
std::optional<bool> AddBlockThroughHelper(const std::string& path, const SettingsSource& settings,
                                          std::string* why);
std::optional<bool> RemoveBlockThroughHelper(const std::string& path, std::string* why);

// The state the helper's "toggle" command reports, as one line on its stdout, whenever it read
// the file: whether ads are hidden after it, whether that changed, and whether a cut was refused
// because the block is damaged. The line is "hidden" or "shown", then "changed" or "unchanged",
// then " damaged" when so.
struct HelperToggleReport {
    bool hidden = false;
    bool changed = false;
    bool damaged = false;
};
std::string HelperToggleLine(const HelperToggleReport& report);
// The report in the helper's output (its last line); nullopt when there is none.
std::optional<HelperToggleReport> ParseHelperToggleLine(std::string_view output);

// The block toggled through the helper in one locked pass of its own: the state afterwards,
// whether it changed, and why it failed in a sentence for the user ("" when it did not, or the
// user dismissed the authentication). lines are the settings lines to add, or nullopt when the
// settings were refused (then only a cut can be made, and settingsWhy says why an add was not).
// The file is read here only when the helper could not say what it holds.
struct ElevatedToggle {
    bool hidden = false;
    bool changed = false;
    std::string why;
};
ElevatedToggle ToggleBlockThroughHelper(const std::string& path,
                                        const std::optional<std::vector<std::string>>& lines,
                                        const std::string& settingsWhy);

// The helper's stdin for these settings lines: each line ended by LF.
std::string HelperInput(const std::vector<std::string>& lines);

// pkexec's own exit statuses, when it ran nothing: the user dismissed the authentication, or it
// was not authorised or failed.
inline constexpr int kPkexecDismissed = 126;
inline constexpr int kPkexecNotAuthorized = 127;
// RunHelperElevated's answer when pkexec could not be started or did not exit normally.
inline constexpr int kHelperNotRun = -1;

// Runs "pkexec <helper> command" with the lines on its stdin, each ended by LF; returns the exit
// status (the helper's HelperStatus, a pkexec status above, or kHelperNotRun). With output, what
// the helper wrote on its stdout goes there.
int RunHelperElevated(std::string_view command, const std::vector<std::string>& lines,
                      std::string* output = nullptr);

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
