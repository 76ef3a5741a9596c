// The settings file over the file layer: only a regular file, and only as much as a settings file
// can hold.
#include "platform/settings/SettingsFileIO.h"

#include "core/hosts/HostsText.h"
#include "platform/files/SafeReplace.h"

std::optional<std::string> ReadSettingsBytes(const std::string& path, std::string* why,
                                             bool* missing) {
    const auto fail = [why](const char* text) -> std::optional<std::string> {
        *why = text;
        return std::nullopt;
    };
    filesys::OpenError error = filesys::OpenError::None;
    const filesys::File file = filesys::OpenForReading(path, &error, missing == nullptr);
    if (!file.Valid() && missing != nullptr && error == filesys::OpenError::Missing) {
        *missing = true;
        return std::nullopt;
    }
    if (!file.Valid())
        return fail("The settings file vantrel_settings.txt can be neither read nor created.");
    // A FIFO or a device by this name would never end.
    if (!filesys::IsRegularFile(file))
        return fail("The settings file vantrel_settings.txt is not a regular file.");
    std::string data;
    char buffer[65536];
    for (;;) {
        const std::int64_t n = filesys::ReadSome(file, buffer, sizeof buffer);
        if (n <= 0) break;  // a read error ends the file where it stands
        data.append(buffer, static_cast<std::size_t>(n));
        if (data.size() > kMaxSettingsFileSize)  // also a file that grows while it is read
            return fail("The settings file vantrel_settings.txt is too long.");
    }
    return data;
}

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
    const std::optional<std::string> data = ReadSettingsBytes(path, why, missing);
    if (!data) return std::nullopt;
    const std::vector<std::string> lines = SplitSettingsLines(*data);
    const BlockLinesCheck check = CheckBlockLines(lines);
    if (check.verdict == BlockLinesCheck::Ok) return BlockLinesOf(lines);
    *why = BlockLinesProblem(check, lines);
    return std::nullopt;
}

bool WriteSettingsText(std::string_view text, const std::string& path) {
    std::string bytes;
    AppendWithLineEnds(bytes, text, filesys::kTextLineEnd);
    return filesys::SaveFile(path, bytes);
}
