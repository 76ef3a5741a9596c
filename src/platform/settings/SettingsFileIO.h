// Reading and writing the settings file on disk; the line rules themselves are in
// core/settings/SettingsFile.h and core/hosts/HostsLine.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/hosts/HostsLine.h"
#include "core/settings/SettingsFile.h"

// The whole file. std::nullopt, with *why saying why in a sentence for the user, under the same
// conditions as ReadSettingsLines below. With `missing`, a file that is not there is not created:
// *missing becomes true and the result is std::nullopt.
std::optional<std::string> ReadSettingsBytes(const std::string& path, std::string* why,
                                             bool* missing = nullptr);

// Reads the file line by line (see SplitSettingsLines). A missing file is created empty.
// std::nullopt when the file can be neither opened nor created, is not a regular file (a FIFO
// would block the read for ever, a device never ends) or is longer than kMaxSettingsFileSize;
// *why (when given) then says so in a sentence for the user.
std::optional<std::vector<std::string>> ReadSettingsLines(
    const std::string& path = kSettingsFileName, std::string* why = nullptr);

// The lines of the settings file that go into the hosts block (BlockLinesOf: comment lines and
// blank lines left out) when it may hold them all (CheckBlockLines); otherwise std::nullopt,
// with *why saying what is wrong.
std::optional<std::vector<std::string>> ReadBlockLines(std::string* why,
                                                       const std::string& path = kSettingsFileName,
                                                       bool* missing = nullptr);

// Replaces the file as a whole with text, every LF written as this system's text line end (CR LF
// on Windows): through a temporary file in the same folder, flushed and renamed over it, so an
// interrupted save leaves either the old list or the new one (filesys::SaveFile). False, the old
// file (or whatever holds the name, such as a folder) left as it was, when that fails.
bool WriteSettingsText(std::string_view text, const std::string& path = kSettingsFileName);
