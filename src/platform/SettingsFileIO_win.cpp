// The settings file's bytes, read with the Win32 file functions: only a regular file, and only as
// much as a settings file can hold.
#include <windows.h>

#include "platform/SettingsFileIO.h"
#include "platform/WideText_win.h"

std::optional<std::string> ReadSettingsBytes(const std::string& path, std::string* why,
                                             bool* missing) {
    const auto fail = [why](const char* text) -> std::optional<std::string> {
        *why = text;
        return std::nullopt;
    };
    // OPEN_ALWAYS creates a missing file empty and never truncates one that is there.
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, missing != nullptr ? OPEN_EXISTING : OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && missing != nullptr &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        *missing = true;
        return std::nullopt;
    }
    if (file == INVALID_HANDLE_VALUE && missing != nullptr) return ReadSettingsBytes(path, why);
    if (file == INVALID_HANDLE_VALUE)
        return fail("The settings file vantrel_settings.txt can be neither read nor created.");
    // A named pipe or a device by this name would never end.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return fail("The settings file vantrel_settings.txt is not a regular file.");
    }
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    // A read error ends the file where it stands.
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        data.append(buffer, got);
        if (data.size() > kMaxSettingsFileSize) {  // also a file that grows while it is read
            ::CloseHandle(file);
            return fail("The settings file vantrel_settings.txt is too long.");
        }
    }
    ::CloseHandle(file);
    return data;
}
