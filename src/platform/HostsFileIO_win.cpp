// Locked, crash-safe reading and replacing of the hosts file on Windows.
//
// Lock: LockFileEx on a byte range far beyond the end of the hosts file itself, so readers and
// writers of the content are never blocked by it and no extra file is left in the system's
// folder. Shared for reads, exclusive for a read-modify-write. Every handle shares delete, so
// the file can be replaced while locked; a waiter checks, once it holds the lock, that the path
// still names the file it locked, and starts over if not.
//
// Write: a temporary file in the same folder (".<name>.vantrel-tmp-*"), flushed, then
// ReplaceFileW over the original, which keeps the original's security descriptor and
// attributes. Where ReplaceFileW is refused, MoveFileExW with write-through replaces it by
// rename. Either way the path names the old bytes or the new ones, never a mixture. Temporary
// files of a killed process are removed by the next writer.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

#include "hosts/CHostsFile.h"
#include "hosts/HostsFileIO.h"
#include "hosts/HostsText.h"
#include "platform/WideText_win.h"

const std::string_view kTextLineEnd = "\r\n";

namespace {

std::wstring SystemHostsPath() {
    wchar_t buffer[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(buffer, length) + L"\\drivers\\etc\\hosts";
}

}  // namespace

std::string DefaultHostsPath() {
    // The NT family keeps the file below the system folder; older Windows in \Windows.
    const std::wstring system = SystemHostsPath();
    if (!system.empty() && FileExists(WideToUtf8(system))) return WideToUtf8(system);
    if (FileExists("\\Windows\\hosts")) return "\\Windows\\hosts";
    return WideToUtf8(system);
}

std::string ConfiguredHostsPath() {
    const std::string overridden = EnvironmentUtf8(L"VANTREL_HOSTS_FILE");
    return overridden.empty() ? DefaultHostsPath() : overridden;
}

bool FileExists(const std::string& path) {
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

namespace {

class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE handle) : m_handle(handle) {}
    ~CHandle() { Reset(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (Valid()) ::CloseHandle(m_handle);
        m_handle = handle;
    }
    bool Close() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || ::CloseHandle(handle) != 0;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

struct PathParts {
    std::string dir;
    std::string base;
};

PathParts SplitPath(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {".", path};
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// Writes land on the file the path finally names; relative paths are made absolute so the
// temporary file is made in the same folder whatever the working directory does meanwhile.
std::wstring FullPath(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    wchar_t buffer[32768];
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 32768, buffer, nullptr);
    if (length == 0 || length >= 32768) return wide;
    return std::wstring(buffer, length);
}

HANDLE OpenForReading(const std::wstring& path) {
    // Sharing delete lets another copy of the program replace the file while this handle is open.
    return ::CreateFileW(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::optional<std::string> ReadAll(HANDLE file) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::nullopt;
    LARGE_INTEGER size{};
    std::size_t capacity = 1 << 16;
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0)
        capacity = static_cast<std::size_t>(size.QuadPart) + 1;
    // Straight into the result: a large file is touched once, not copied from a chunk buffer.
    std::string data(capacity, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) data.resize(data.size() * 2);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - used, 1 << 24));
        DWORD got = 0;
        if (!::ReadFile(file, data.data() + used, want, &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        used += got;
    }
    data.resize(used);
    return data;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 24));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), piece, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// A fresh temporary file beside path, opened for writing; its name goes to *name.
HANDLE CreateTemp(const std::string& path, std::wstring* name) {
    static std::atomic<unsigned> s_counter{0};
    const std::wstring prefix = Utf8ToWide(TempFilePrefix(path));
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(s_counter++) + L"-" + std::to_wstring(::GetTickCount64());
        const HANDLE file = ::CreateFileW(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// Puts bytes in place of the file at path: whole or not at all.
bool ReplaceContent(const std::wstring& path, std::string_view bytes) {
    const std::string utf8 = WideToUtf8(path);
    std::wstring temp;
    CHandle file(CreateTemp(utf8, &temp));
    if (!file.Valid()) return false;
    bool ok = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    if (ok) {
        ok = ::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr) ||
             ::MoveFileExW(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) ::DeleteFileW(temp.c_str());
    return ok;
}

void RemoveStaleTemps(const std::string& path) {
    const std::string dir = SplitPath(path).dir;
    const std::wstring prefix = Utf8ToWide(TempFilePrefix(path));
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        ::DeleteFileW((Utf8ToWide(dir) + L"\\" + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// The lock stands on bytes no file reaches, so it guards the program's edits without
// blocking anyone's reads or writes of the content.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// The hosts file opened for reading and locked.
class CLockedHosts {
public:
    CLockedHosts(const std::wstring& path, bool exclusive) {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            m_file.Reset(OpenForReading(path));
            if (!m_file.Valid()) {
                const DWORD error = ::GetLastError();
                m_status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                               ? ReadStatus::Missing
                               : ReadStatus::Unreadable;
                return;
            }
            OVERLAPPED where{};
            where.OffsetHigh = kLockOffsetHigh;
            if (!::LockFileEx(m_file.Get(), exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0,
                              &where)) {
                m_file.Reset();
                m_status = ReadStatus::Unreadable;
                return;
            }
            CHandle named(OpenForReading(path));
            if (!named.Valid() || !SameFile(named.Get(), m_file.Get())) {
                continue;  // replaced while we waited: lock the new file (closing unlocks)
            }
            if (exclusive) RemoveStaleTemps(WideToUtf8(path));
            m_status = ReadStatus::Ok;
            return;
        }
        m_file.Reset();
        m_status = ReadStatus::Unreadable;
    }

    ReadStatus Status() const { return m_status; }
    HANDLE File() const { return m_file.Get(); }

private:
    CHandle m_file;
    ReadStatus m_status = ReadStatus::Missing;
};

std::string WithLineEnds(std::string_view text, std::string_view lineEnd) {
    std::string bytes;
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    bytes.reserve(text.size() +
                  lines * (lineEnd.size() - std::min<std::size_t>(lineEnd.size(), 1)));
    AppendWithLineEnds(bytes, text, lineEnd);
    return bytes;
}

}  // namespace

std::string TempFilePrefix(const std::string& path) {
    const PathParts parts = SplitPath(path);
    return parts.dir + "\\." + parts.base + ".vantrel-tmp-";
}

std::string BackupFilePath(const std::string& path) {
    // Replacing never rewrites the file in place here, so no backup is ever made.
    const PathParts parts = SplitPath(path);
    return parts.dir + "\\." + parts.base + ".vantrel-backup";
}

HostsRead ReadHostsText(const std::string& path) {
    CLockedHosts lock(FullPath(path), false);
    HostsRead result;
    result.status = lock.Status();
    if (result.status != ReadStatus::Ok) return result;
    std::optional<std::string> data = ReadAll(lock.File());
    if (!data) {
        result.status = ReadStatus::Unreadable;
        return result;
    }
    DropCarriageReturns(*data);
    result.text = std::move(*data);
    return result;
}

bool HostsHasAdLabel(const std::string& path) {
    const HostsRead read = ReadHostsText(path);
    return read.status == ReadStatus::Ok && ContainsAdLabel(read.text);
}

bool WriteHostsText(const std::string& path, std::string_view text, std::string_view lineEnd) {
    const std::wstring full = FullPath(path);
    CLockedHosts lock(full, true);
    if (lock.Status() != ReadStatus::Ok) return false;
    return ReplaceContent(full, WithLineEnds(text, lineEnd));
}

EditOutcome EditHostsFile(const std::string& path,
                          const std::function<EditVerdict(std::string& text)>& edit,
                          std::string_view lineEnd) {
    const std::wstring full = FullPath(path);
    CLockedHosts lock(full, true);
    if (lock.Status() == ReadStatus::Missing) return EditOutcome::Missing;
    if (lock.Status() == ReadStatus::Unreadable) return EditOutcome::Unreadable;
    std::optional<std::string> text = ReadAll(lock.File());
    if (!text) return EditOutcome::Unreadable;
    DropCarriageReturns(*text);
    switch (edit(*text)) {
        case EditVerdict::Unchanged:
            return EditOutcome::Unchanged;
        case EditVerdict::Refused:
            return EditOutcome::Refused;
        case EditVerdict::Write:
            break;
    }
    return ReplaceContent(full, WithLineEnds(*text, lineEnd)) ? EditOutcome::Written
                                                              : EditOutcome::WriteFailed;
}

bool AddBlockAt(const std::string& path, const SettingsSource& settings, std::string_view lineEnd) {
    const EditOutcome outcome = EditHostsFile(
        path,
        [&](std::string& text) {
            if (text.find(kBeginProbe) != std::string::npos) return EditVerdict::Unchanged;
            const std::optional<std::vector<std::string>> lines = settings();
            if (!lines) return EditVerdict::Refused;
            // A line with the end marker would make a block that cannot be removed whole.
            if (!AppendBlock(text, *lines)) return EditVerdict::Refused;
            return EditVerdict::Write;
        },
        lineEnd);
    return outcome == EditOutcome::Unchanged || outcome == EditOutcome::Written;
}

bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd) {
    return AddBlockAt(
        path, [&] { return std::optional<std::vector<std::string>>(lines); }, lineEnd);
}

bool RemoveBlockAt(const std::string& path, std::string_view lineEnd) {
    const EditOutcome outcome = EditHostsFile(
        path,
        [](std::string& text) {
            switch (CutBlock(text)) {
                case CutResult::NoBlock:
                    return EditVerdict::Unchanged;
                case CutResult::Damaged:
                    return EditVerdict::Refused;
                case CutResult::Cut:
                    break;
            }
            return EditVerdict::Write;
        },
        lineEnd);
    return outcome == EditOutcome::Missing || outcome == EditOutcome::Unchanged ||
           outcome == EditOutcome::Written;
}
