// The privileged hosts helper's logic, kept apart from its main() so it can be tested without
// privileges: fixed commands, strictly checked input, and the program's own locked write. What it
// says to the program is platform/hosts/HelperProtocol.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosts/HelperProtocol.h"

// The settings lines sent on the helper's stdin, each ended by LF, as they go into the block
// (BlockLinesOf). nullopt unless every line is a block line or one the block leaves out
// (CheckBlockLines); on nullopt, *why (when given) says what was refused.
std::optional<std::vector<std::string>> ParseHelperInput(std::string_view input,
                                                         std::string* why = nullptr);
// Reads the input from fd up to its end; nullopt when longer than kHelperMaxInput or unreadable.
std::optional<std::string> ReadHelperInput(int fd);

// Runs one command on hostsPath and returns the helper's exit status, each command one locked
// pass that does nothing when the file already is that way (ApplyIntentAt):
// - "hide" reads the settings lines from inputFd and makes the file hide ads; when that puts
//   them in the file as a block, they become the approved block at approvedPath;
// - "approved hide" makes it hide ads with the approved block (kHelperNotApproved when there is
//   none it can trust), "approved show" makes it show them; any byte on inputFd is refused.
// After a pass that read the file, *report (when given) is the line telling the state it left
// (HelperReportLine). args are the command-line arguments after the program name.
int RunHostsHelper(const std::vector<std::string>& args, int inputFd, const std::string& hostsPath,
                   const std::string& approvedPath, std::string* report = nullptr);

// Keeps bytes as the approved block at path: its folder made (0755) when missing and used only
// when it is a folder of ours that nobody else may write; whatever else stands at path (a link,
// a file of another owner or mode) replaced by a file of mode 0644, atomically. False when that
// could not be done.
bool SaveApprovedBlock(const std::string& path, std::string_view bytes);
