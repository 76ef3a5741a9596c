// The settings file's bytes, read and written with the Win32 file functions: only a regular file,
// and only as much as a settings file can hold.
#include <windows.h>

#include <algorithm>

#include "platform/settings/SettingsFileIO.h"
#include "platform/system/WideText_win.h"

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

namespace {

bool WriteAll(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
        DWORD written = 0;
        if (!::WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
        text.remove_prefix(written);
    }
    return true;
}

// Every LF as CR LF: a Windows text file.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    return path.substr(0, slash + 1 == 3 && path[1] == L':' ? slash + 1 : slash);
}

}  // namespace

bool WriteSettingsText(std::string_view text, const std::string& path) {
    const std::wstring target = Utf8ToWide(path);
    const std::string bytes = WithCrLf(text);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    // Never replace a folder.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;

    wchar_t temp[MAX_PATH];
    if (::GetTempFileNameW(FolderOf(target).c_str(), L"vts", 0, temp) != 0) {
        const HANDLE file = ::CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        bool written = file != INVALID_HANDLE_VALUE;
        if (written) {
            written = WriteAll(file, bytes) && ::FlushFileBuffers(file);
            ::CloseHandle(file);
        }
        // One rename, written through: the name holds the old list or the new one.
        if (written && ::MoveFileExW(temp, target.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        ::DeleteFileW(temp);
        return false;
    }
    // No temporary file beside it: the file in place, when it may be written.
    const HANDLE file = ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return false;
    }
    const bool written = WriteAll(file, bytes) && ::FlushFileBuffers(file);
    ::CloseHandle(file);
    return written;
}
