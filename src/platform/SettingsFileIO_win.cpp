// The settings file's bytes, read with the Win32 file functions.
#include <windows.h>

#include "platform/SettingsFileIO.h"
#include "platform/WideText_win.h"

namespace {
// The whole file, or nullopt when it can be neither opened nor created.
std::optional<std::string> Slurp(const std::string& path) {
    // OPEN_ALWAYS creates a missing file empty and never truncates one that is there.
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    // A read error ends the file where it stands.
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    ::CloseHandle(file);
    return data;
}
}  // namespace

std::optional<std::vector<std::string>> ReadSettingsLines(const std::string& path) {
    const std::optional<std::string> data = Slurp(path);
    if (!data) return std::nullopt;
    return SplitSettingsLines(*data);
}
