// The settings file "vantrel_settings.txt": ready-made hosts lines, one per blocked domain.
// The hosts block and the settings dialog read it through this one reader.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hosts/HostsLine.h"

inline constexpr const char* kSettingsFileName = "vantrel_settings.txt";

// Reads the file line by line: each line without its line end (a CR before the LF dropped),
// lines longer than 4,999 characters in several pieces, and one empty line more when the
// file ends with a line break (an empty file gives one empty line). A missing file is
// created empty. std::nullopt when the file can be neither opened nor created, is not a regular
// file (a FIFO would block the read for ever, a device never ends) or is longer than
// kMaxSettingsFileSize; *why (when given) then says so in a sentence for the user.
std::optional<std::vector<std::string>> ReadSettingsLines(
    const std::string& path = kSettingsFileName, std::string* why = nullptr);

// The settings file's lines when the hosts block may hold them (CheckBlockLines); otherwise
// std::nullopt, with *why saying what is wrong.
std::optional<std::vector<std::string>> ReadBlockLines(std::string* why,
                                                       const std::string& path = kSettingsFileName);
