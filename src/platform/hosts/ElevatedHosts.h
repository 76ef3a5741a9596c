// The program's way into a hosts file that the user may not write: the privileged helper, run
// through pkexec so the desktop asks for an administrator's password.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosts/HostsFileIO.h"

// Whether changing the file at path takes the helper: it is the system hosts file and this
// process is not root (only root may take that file's lock, and the helper is root).
bool HostsNeedHelper(const std::string& path);

// What the helper's "hide" and "show" commands report, as one line on their stdout, whenever they
// read the file: "hidden" or "shown" (after the pass), then "changed" or "unchanged", then what
// refused the change when something did: "damaged", "foreign" (another form of the begin text)
// or "empty" (a list without entry lines).
struct HelperReport {
    bool hidden = false;
    bool changed = false;
    BlockProblem problem = BlockProblem::None;
};
std::string HelperReportLine(const HelperReport& report);
// The report in the helper's output (its last line); nullopt when there is none.
std::optional<HelperReport> ParseHelperReport(std::string_view output);

// A press carried out by the helper in one locked pass of its own: the state afterwards, whether
// it changed, whether the helper did what was asked, and why not in a sentence for the user (""
// when it did, or the user dismissed the authentication). lines are the settings lines for Hide.
// The file is read here only when the helper could not say what it holds.
struct ElevatedChange {
    bool hidden = false;
    bool changed = false;
    bool done = false;
    std::string why;
};
ElevatedChange ApplyIntentThroughHelper(const std::string& path, HostsIntent intent,
                                        const std::vector<std::string>& lines);

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
