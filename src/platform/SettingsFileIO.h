// Reading the settings file from disk; the line rules themselves are in core/SettingsFile.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/SettingsFile.h"

// Reads the file line by line (see SplitSettingsLines). A missing file is created empty.
// std::nullopt when the file can be neither opened nor created.
std::optional<std::vector<std::string>> ReadSettingsLines(
    const std::string& path = kSettingsFileName);
