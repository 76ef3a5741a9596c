// Reading the settings file from disk; the line rules themselves are in core/SettingsFile.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/HostsLine.h"
#include "core/SettingsFile.h"

// The whole file. std::nullopt, with *why saying why in a sentence for the user, under the same
// conditions as ReadSettingsLines below. With `missing`, a file that is not there is not created:
// *missing becomes true and the result is std::nullopt. One per system.
std::optional<std::string> ReadSettingsBytes(const std::string& path, std::string* why,
                                             bool* missing = nullptr);

// Reads the file line by line (see SplitSettingsLines). A missing file is created empty.
// std::nullopt when the file can be neither opened nor created, is not a regular file (a FIFO
// would block the read for ever, a device never ends) or is longer than kMaxSettingsFileSize;
// *why (when given) then says so in a sentence for the user.
std::optional<std::vector<std::string>> ReadSettingsLines(
    const std::string& path = kSettingsFileName, std::string* why = nullptr);

// The settings file's lines when the hosts block may hold them (CheckBlockLines); otherwise
// std::nullopt, with *why saying what is wrong.
std::optional<std::vector<std::string>> ReadBlockLines(std::string* why,
                                                       const std::string& path = kSettingsFileName,
                                                       bool* missing = nullptr);
