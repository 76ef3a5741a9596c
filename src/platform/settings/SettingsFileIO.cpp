// The settings file's lines, and the lines a hosts block may hold, over each system's reader.
#include "platform/settings/SettingsFileIO.h"

namespace {
std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string* why,
                                                  bool* missing) {
    std::string ignored;
    const std::optional<std::string> data =
        ReadSettingsBytes(path, why != nullptr ? why : &ignored, missing);
    if (!data) return std::nullopt;
    return SplitSettingsLines(*data);
}
}  // namespace

std::optional<std::vector<std::string>> ReadSettingsLines(const std::string& path,
                                                          std::string* why) {
    std::string ignored;
    const std::optional<std::string> data =
        ReadSettingsBytes(path, why != nullptr ? why : &ignored);
    if (!data) return std::nullopt;
    return SplitSettingsLines(*data);
}

std::optional<std::vector<std::string>> ReadBlockLines(std::string* why, const std::string& path,
                                                       bool* missing) {
    std::optional<std::vector<std::string>> lines = ReadLines(path, why, missing);
    if (!lines) return std::nullopt;
    const BlockLinesCheck check = CheckBlockLines(*lines);
    if (check.verdict == BlockLinesCheck::Ok) return lines;
    *why = BlockLinesProblem(check, *lines);
    return std::nullopt;
}
