// What the program and its privileged hosts helper (linux/root) say to each other, in one place:
// the files the helper writes, its commands, its input and the limit on it, its exit statuses,
// pkexec's, and the report line it answers with (which the Windows hosts file service answers
// with too: HostsService_win.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/hosts/HostsLine.h"
#include "platform/hosts/HostsResult.h"
#include "platform/system/Pkexec_unix.h"

// The only file the installed helper ever writes: the system's hosts file.
inline constexpr const char* kHelperHostsPath = "/etc/hosts";

// The approved block: the entry lines (as the helper's input, each ended by LF) that the last
// administrator-authorised Hide put in place. Root's, readable by all, so the program can tell
// whether a Hide needs the administrator at all.
inline constexpr const char* kApprovedBlockPath = "/var/lib/vantrel/approved-block";

// The commands, each its own polkit action (told apart by the first argument):
// - "hide", the settings lines on its stdin: an administrator's step; the lines become the
//   approved block once they are in the file;
// - "approved hide" and "approved show", nothing on stdin: the active user's own step, which
//   adds the approved block or cuts Vantrel's block out.
inline constexpr const char* kHelperHide = "hide";
inline constexpr const char* kHelperShow = "show";
inline constexpr const char* kHelperApproved = "approved";

// The most input the helper reads: a full settings file's worth of lines.
inline constexpr std::size_t kHelperMaxInput = kMaxSettingsFileSize;
// The helper's stdin for these settings lines: each line ended by LF.
std::string HelperInput(const std::vector<std::string>& lines);

// Exit statuses of the helper; pkexec's own are in Pkexec_unix.h.
enum HelperStatus : int {
    kHelperOk = 0,      // done, or nothing to do
    kHelperFailed = 1,  // the hosts file could not be changed (missing, unreadable, damaged block,
                        // a list without entry lines)
    kHelperUsage = 2,   // unknown command, extra arguments, or input where none is taken
    kHelperBadInput = 3,     // the settings lines were refused
    kHelperBusy = 4,         // another program held a lock on the hosts file past the wait
    kHelperNotApproved = 5,  // "approved hide" without an approved block it can trust
};

// The report the helper writes as one line on its stdout whenever a pass read the file:
// "hidden" or "shown" (after the pass), then "changed" or "unchanged", then what refused the
// change when something did: "damaged", "foreign" (another form of the begin text) or "empty" (a
// list without entry lines).
std::string HelperReportLine(const HostsResult& result);
// The report in the helper's output (its last line): hidden, changed, and as the outcome the
// refusal it names, or else Written or Unchanged as the state changed or not. nullopt when there
// is none.
std::optional<HostsResult> ParseHelperReport(std::string_view output);
