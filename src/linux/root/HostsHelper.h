// The privileged hosts helper's logic, kept apart from its main() so it can be tested without
// privileges: fixed commands, strictly checked input, and the program's own locked write.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/hosts/HostsLine.h"

// The only file the installed helper ever writes.
inline constexpr const char* kSystemHostsPath = "/etc/hosts";

// The most input the helper reads: a full settings file's worth of lines.
inline constexpr std::size_t kHelperMaxInput = kMaxSettingsFileSize;

// Exit statuses of the helper.
enum HelperStatus : int {
    kHelperOk = 0,      // done, or nothing to do
    kHelperFailed = 1,  // the hosts file could not be changed (missing, unreadable, damaged block,
                        // a list without entry lines)
    kHelperUsage = 2,   // unknown command or extra arguments
    kHelperBadInput = 3,  // the settings lines were refused
    kHelperBusy = 4,      // another program held a lock on the hosts file past the wait
};

// The settings lines sent on the helper's stdin, each ended by LF. nullopt unless every line is
// a block line (CheckBlockLines); only the last line may be empty (the reader's line after a
// final line break). On nullopt, *why (when given) says what was refused.
std::optional<std::vector<std::string>> ParseHelperInput(std::string_view input,
                                                         std::string* why = nullptr);
// Reads the input from fd up to its end; nullopt when longer than kHelperMaxInput or unreadable.
std::optional<std::string> ReadHelperInput(int fd);

// Runs one command on hostsPath and returns the helper's exit status: "hide", which reads the
// settings lines from inputFd and makes the file hide ads, or "show", which makes it show them;
// each in one locked pass that does nothing when the file already is that way (ApplyIntentAt).
// After a pass that read the file, *report (when given) is the line telling the state it left
// (HelperReportLine). args are the command-line arguments after the program name.
int RunHostsHelper(const std::vector<std::string>& args, int inputFd, const std::string& hostsPath,
                   std::string* report = nullptr);
