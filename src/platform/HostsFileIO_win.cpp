// Locked, crash-safe reading and replacing of the hosts file on Windows.
//
// Lock: LockFileEx on a lock file beside the hosts file (".<name>.vantrel-lock", hidden), shared
// for reads, exclusive for a read-modify-write. Not on the hosts file itself: a waiter would hold
// it open, and Wine refuses to rename over a file that is open. The hosts file is opened only
// while the lock is held; a folder without a hosts file gets no lock file.
//
// Write: a temporary file in the same folder (".<name>.vantrel-tmp-*"), flushed, then
// ReplaceFileW over the original, which keeps the original's security descriptor and
// attributes; MoveFileExW with write-through where ReplaceFileW is not supported or not atomic
// (Wine). Either way the path names the old bytes or the new ones, never a mixture and never
// nothing. Temporary files of a killed process are removed by the next writer.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"
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

// Asked without opening the file: an open handle, however short, makes a replacement by another
// copy of the program fail under Wine.
bool FileExists(const std::string& path) {
    if (::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
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

// Another program (a virus scanner, Windows' own replace) may hold the file for a moment without
// sharing it: such a refusal is waited out for up to a second before it counts.
template <typename Attempt>
bool RetryWhileShared(const Attempt& attempt) {
    for (int tries = 0;; ++tries) {
        if (attempt()) return true;
        if (::GetLastError() != ERROR_SHARING_VIOLATION || tries == 100) return false;
        ::Sleep(10);
    }
}

HANDLE OpenForReading(const std::wstring& path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    RetryWhileShared([&] {
        // Sharing delete lets another copy of the program replace the file while this handle
        // is open.
        file = ::CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return file;
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

// Wine's ReplaceFileW moves the old file aside and deletes it before it moves the new one in, so
// for a moment there is no hosts file at all (a reader finds none; a kill then loses it). Its
// MoveFileExW is a single rename and atomic.
bool RunningOnWine() {
    static const bool s_bWine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return s_bWine;
}

// Puts the temporary file in place of the one at path. ReplaceFileW keeps the original's security
// descriptor and attributes. Where it is not supported (some network and FAT file systems), and
// under Wine, a rename with write-through is atomic too. A refusal (a read-only file, missing
// rights, the file in use) stays a refusal: a rename would overrule a read-only attribute that
// the user set to protect the file.
bool Replace(const std::wstring& path, const std::wstring& temp) {
    if (RunningOnWine()) {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        // Wine also refuses the rename while anyone has the file open, if only for a moment.
        for (int tries = 0; tries < 100; ++tries) {
            if (::MoveFileExW(temp.c_str(), path.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                return true;
            }
            if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
            ::Sleep(10);
        }
        return false;
    } else {
        if (::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                           nullptr, nullptr)) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return false;
    }
    return ::MoveFileExW(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Puts bytes in place of the file at path: whole or not at all.
bool ReplaceContent(const std::wstring& path, std::string_view bytes) {
    const std::string utf8 = WideToUtf8(path);
    std::wstring temp;
    CHandle file(CreateTemp(utf8, &temp));
    if (!file.Valid()) return false;
    bool ok = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    ok = ok && RetryWhileShared([&] { return Replace(path, temp); });
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

// The lock file beside the hosts file. It is never removed: a waiter may hold it open.
std::wstring LockFilePath(const std::wstring& path) {
    const PathParts parts = SplitPath(WideToUtf8(path));
    return Utf8ToWide(parts.dir + "\\." + parts.base + ".vantrel-lock");
}

thread_local bool t_lockWasBusy = false;

// LockFileEx with a bounded wait: retries without blocking, at growing intervals, for
// kHostsLockWaitSeconds, so a program that holds the lock cannot stop this one for good.
bool LockBounded(HANDLE file, bool exclusive) {
    const ULONGLONG deadline = ::GetTickCount64() + kHostsLockWaitSeconds * 1000ULL;
    DWORD pause = 1;
    for (;;) {
        OVERLAPPED where{};
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (::LockFileEx(file, flags, 0, 1, 0, &where)) return true;
        if (::GetLastError() != ERROR_LOCK_VIOLATION) return false;
        if (::GetTickCount64() >= deadline) {
            t_lockWasBusy = true;
            return false;
        }
        ::Sleep(pause);
        pause = pause < 50 ? pause * 2 : 50;
    }
}

// The hosts file opened for reading, under the lock: shared for reading, exclusive for a
// read-modify-write.
class CLockedHosts {
public:
    CLockedHosts(const std::wstring& path, bool exclusive) {
        t_lockWasBusy = false;
        if (!FileExists(WideToUtf8(path))) {
            m_status = ReadStatus::Missing;
            return;
        }
        // Waiting on a lock of the hosts file itself would hold it open, and a file that is
        // open cannot be renamed over under Wine; so the lock is a file of its own.
        const std::wstring lockPath = LockFilePath(path);
        RetryWhileShared([&] {
            m_lock.Reset(::CreateFileW(
                lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr));
            return m_lock.Valid();
        });
        if (!m_lock.Valid() || !LockBounded(m_lock.Get(), exclusive)) {
            m_lock.Reset();
            m_status = ReadStatus::Unreadable;
            return;
        }
        // Opened again under the lock: the file may have been replaced while we waited.
        m_file.Reset(OpenForReading(path));
        if (!m_file.Valid()) {
            const DWORD error = ::GetLastError();
            m_status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                           ? ReadStatus::Missing
                           : ReadStatus::Unreadable;
            return;
        }
        if (exclusive) RemoveStaleTemps(WideToUtf8(path));
        m_status = ReadStatus::Ok;
    }

    ReadStatus Status() const { return m_status; }
    HANDLE File() const { return m_file.Get(); }
    // The file is closed before it is replaced; the lock stays until the end.
    void CloseFile() { m_file.Reset(); }

private:
    CHandle m_lock;  // declared first, so it is released last
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

bool HostsLockWasBusy() {
    return t_lockWasBusy;
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

ReadStatus FindBeginMarker(const std::string& path, bool* found) {
    const HostsRead read = ReadHostsText(path);
    *found = read.status == ReadStatus::Ok && read.text.find(kBeginMarker) != std::string::npos;
    return read.status;
}

bool WriteHostsText(const std::string& path, std::string_view text, std::string_view lineEnd) {
    const std::wstring full = FullPath(path);
    CLockedHosts lock(full, true);
    if (lock.Status() != ReadStatus::Ok) return false;
    lock.CloseFile();
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
    lock.CloseFile();
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

EditOutcome CutFirstBlock(const std::string& path, std::string_view lineEnd, bool,
                          bool* blockLeft) {
    return EditHostsFile(
        path,
        [blockLeft](std::string& text) {
            switch (CutBlock(text)) {
                case CutResult::NoBlock:
                    *blockLeft = false;
                    return EditVerdict::Unchanged;
                case CutResult::Damaged:
                    *blockLeft = true;
                    return EditVerdict::Refused;
                case CutResult::Cut:
                    break;
            }
            // The whole text is at hand: whether a second block follows costs nothing extra.
            *blockLeft = text.find(kBeginMarker) != std::string::npos;
            return EditVerdict::Write;
        },
        lineEnd);
}
