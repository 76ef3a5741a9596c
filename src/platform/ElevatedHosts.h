// The program's way into a hosts file that the user may not write: the privileged helper, run
// through pkexec so the desktop asks for an administrator's password.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// When path is the system hosts file and the user may not write it, adds (or removes) the block
// through the helper and returns whether that worked; nullopt when the program should write the
// file itself. Asks for no password when there is nothing to do. A cancelled authentication
// changes nothing and is not reported beyond the false result.
std::optional<bool> AddBlockThroughHelper(const std::string& path);
std::optional<bool> RemoveBlockThroughHelper(const std::string& path);

// The helper's stdin for these settings lines: each line ended by LF.
std::string HelperInput(const std::vector<std::string>& lines);

// Runs "pkexec <helper> command" with the lines on its stdin, each ended by LF; true when the
// helper reports success.
bool RunHelperElevated(std::string_view command, const std::vector<std::string>& lines);

// The helper beside the running program (both live in the same folder when installed and in a
// build tree); tests may point elsewhere.
std::string HostsHelperPath();
void SetHostsHelperPath(const std::string& path);
