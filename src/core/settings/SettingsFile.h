// The settings file "vantrel_settings.txt": ready-made hosts lines, one per blocked domain.
// The hosts block and the settings dialog read it through this one reader.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kSettingsFileName = "vantrel_settings.txt";

// The file's text line by line: each line without its line end (a CR before the LF dropped),
// lines longer than 4,999 characters in several pieces, and one empty line more when the
// text ends with a line break (an empty text gives one empty line).
std::vector<std::string> SplitSettingsLines(std::string_view text);

// The list the dialog shows for the settings file's lines: each line's domain, followed by a line
// break when the line is longer than one character; a line that is the twin of the line shown
// before it (same domain, twin address) is not shown, nor are comment and blank lines
// (IsSkippedLine), which the block leaves out too.
std::string DomainListOf(const std::vector<std::string>& lines);
