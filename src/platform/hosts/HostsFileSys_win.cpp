// The hosts file's system calls on Windows.
//
// Lock: LockFileEx on a lock file beside the hosts file (".<name>.vantrel-lock", hidden), shared
// for reads, exclusive for a read-modify-write. Not on the hosts file itself: a waiter would hold
// it open, and Wine refuses to rename over a file that is open. The hosts file is opened only
// while the lock is held; a folder without a hosts file gets no lock file. The lock file's access
// list names Administrators and SYSTEM only, not what the folder passes on (drivers\etc gives
// Users read access, and a read handle is enough to hold a lock): no other account can open it,
// so none can keep the program waiting.
// Replacement: ReplaceFileW, which keeps the original's security descriptor and attributes;
// MoveFileExW with write-through where ReplaceFileW is not supported or not atomic (Wine). Either
// way the path names the old bytes or the new ones, never a mixture and never nothing.
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>

#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileSys.h"
#include "platform/hosts/HostsPathForTests_win.h"
#include "platform/system/WideText_win.h"

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

namespace {
std::string& PathForTests() {
    static std::string s_path;
    return s_path;
}
}  // namespace

void SetHostsPathForTests(const std::string& path) {
    PathForTests() = path;
}

std::string ConfiguredHostsPath() {
    const std::string& named = PathForTests();
    return named.empty() ? DefaultHostsPath() : named;
}

// Asked without opening the file: an open handle, however short, makes a replacement by another
// copy of the program fail under Wine.
bool FileExists(const std::string& path) {
    if (::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

namespace hostsys {

namespace {
HANDLE H(const CFile& file) {
    return reinterpret_cast<HANDLE>(file.Get());
}

CFile Wrap(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? CFile()
                                          : CFile(reinterpret_cast<std::intptr_t>(handle));
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

HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD attributes,
            SECURITY_ATTRIBUTES* security = nullptr) {
    const std::wstring wide = Utf8ToWide(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    RetryWhileShared([&] {
        // Sharing delete lets another copy of the program replace the file while this handle
        // is open.
        file = ::CreateFileW(wide.c_str(), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security,
                             disposition, attributes, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return file;
}

// Full control for Administrators and SYSTEM, nothing inherited from the folder.
constexpr wchar_t kLockAccess[] = L"D:P(A;;FA;;;BA)(A;;FA;;;SY)";

// The lock file, made with kLockAccess. One left by an earlier version, with the folder's access
// list, is given kLockAccess too (a handle opened before keeps its access until it is closed).
HANDLE OpenLockFile(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockAccess, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    HANDLE lock =
        Open(path, GENERIC_READ | GENERIC_WRITE | WRITE_DAC, OPEN_ALWAYS, attributes, &security);
    bool existed = lock != INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (lock == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        // A lock file whose access list this account may not change: used as it is.
        lock = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, attributes, &security);
        existed = false;
    }
    if (existed) {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        if (::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present) {
            ::SetSecurityInfo(lock, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
        }
    }
    ::LocalFree(descriptor);
    return lock;
}

// Waits for the lock, a few milliseconds at a time, up to kLockPatienceMs.
bool LockPatiently(HANDLE file, bool exclusive) {
    const ULONGLONG deadline = ::GetTickCount64() + kLockPatienceMs;
    for (;;) {
        OVERLAPPED where{};
        const DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY;
        if (::LockFileEx(file, flags, 0, 1, 0, &where)) return true;
        if (::GetLastError() != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= deadline)
            return false;
        ::Sleep(5);
    }
}

// Wine's ReplaceFileW moves the old file aside and deletes it before it moves the new one in, so
// for a moment there is no hosts file at all (a reader finds none; a kill then loses it). Its
// MoveFileExW is a single rename and atomic.
bool RunningOnWine() {
    static const bool s_bWine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return s_bWine;
}

// ReplaceFileW keeps the original's security descriptor and attributes. Where it is not
// supported (some network and FAT file systems), and under Wine, a rename with write-through is
// atomic too. A refusal (a read-only file, missing rights, the file in use) stays a refusal: a
// rename would overrule a read-only attribute that the user set to protect the file.
bool ReplaceOnce(const std::wstring& path, const std::wstring& temp) {
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
    }
    if (::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return false;
    return ::MoveFileExW(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string LockFilePath(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::string dir =
        slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "\\." + base + ".vantrel-lock";
}
}  // namespace

void CFile::Reset(std::intptr_t handle) {
    if (Valid()) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = handle;
}

bool CFile::Close() {
    const std::intptr_t handle = m_handle;
    m_handle = kInvalid;
    return handle == kInvalid || ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

const char kPathSeparator = '\\';

// Relative paths are made absolute, so the temporary file is made in the same folder whatever
// the working directory does meanwhile.
std::string Resolve(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 32768, buffer.data(), nullptr);
    if (length == 0 || length >= 32768) return path;
    buffer.resize(length);
    return WideToUtf8(buffer);
}

Locked OpenLocked(const std::string& path, bool exclusive) {
    Locked locked;
    if (!FileExists(path)) return locked;  // Missing
    // The program never removes the lock file (a waiter may hold it open); the uninstaller does.
    locked.lock = Wrap(OpenLockFile(LockFilePath(path)));
    if (!locked.lock.Valid()) {
        locked.status = ReadStatus::Unreadable;
        return locked;
    }
    if (!LockPatiently(H(locked.lock), exclusive)) {
        locked.status =
            ::GetLastError() == ERROR_LOCK_VIOLATION ? ReadStatus::Busy : ReadStatus::Unreadable;
        locked.lock.Reset();
        return locked;
    }
    // Opened under the lock: the file may have been replaced while we waited.
    locked.file = Wrap(Open(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!locked.file.Valid()) {
        const DWORD error = ::GetLastError();
        locked.status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                            ? ReadStatus::Missing
                            : ReadStatus::Unreadable;
        return locked;
    }
    locked.status = ReadStatus::Ok;
    return locked;
}

void PrepareToReplace(Locked& locked) {
    // The lock stays until the end; the file itself must be closed for the rename under Wine.
    locked.file.Reset();
}

CFile OpenForReading(const std::string& path) {
    return Wrap(Open(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

std::int64_t ReadSome(const CFile& file, char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 24));
    if (!::ReadFile(H(file), buffer, want, &got, nullptr)) return -1;
    return got;
}

bool SeekTo(const CFile& file, std::uint64_t offset) {
    LARGE_INTEGER where{};
    where.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(H(file), where, nullptr, FILE_BEGIN) != 0;
}

std::uint64_t SizeOf(const CFile& file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(H(file), &size) && size.QuadPart > 0
               ? static_cast<std::uint64_t>(size.QuadPart)
               : 0;
}

FileStamp StampOf(const CFile& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(H(file), &info)) return {};
    const auto join = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    return {join(info.nFileIndexHigh, info.nFileIndexLow),
            join(info.nFileSizeHigh, info.nFileSizeLow),
            join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime),
            info.dwVolumeSerialNumber};
}

CFile CreateTemp(const std::string& prefix, std::string* name, TempStatus* status) {
    static std::atomic<unsigned> s_counter{0};
    *status = TempStatus::Failed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(s_counter++) + "-" + std::to_string(::GetTickCount64());
        const HANDLE file = ::CreateFileW(Utf8ToWide(*name).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            *status = TempStatus::Ok;
            return Wrap(file);
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return CFile();
}

bool WriteAll(const CFile& file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 24));
        DWORD written = 0;
        if (!::WriteFile(H(file), bytes.data(), piece, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

void CopyInKernel(const CFile&, const CFile&, std::uint64_t, std::uint64_t* copied) {
    *copied = 0;  // no such copy between open files here
}

bool CopyAttributes(const Locked&, const CFile&) {
    return true;  // ReplaceFileW carries them
}

bool Flush(const CFile& file) {
    return ::FlushFileBuffers(H(file)) != 0;
}

ReplaceStatus ReplaceWith(const std::string& path, const std::string& temp) {
    const std::wstring to = Utf8ToWide(path);
    const std::wstring from = Utf8ToWide(temp);
    return RetryWhileShared([&] { return ReplaceOnce(to, from); }) ? ReplaceStatus::Done
                                                                   : ReplaceStatus::Failed;
}

bool Rename(const std::string& from, const std::string& to) {
    return ::MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

CFile OpenForWriting(const std::string& path, bool* refused) {
    CFile file = Wrap(Open(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (refused != nullptr) {
        const DWORD error = ::GetLastError();
        *refused = !file.Valid() && (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT);
    }
    return file;
}

bool WriteAt(const CFile& file, std::uint64_t offset, std::string_view bytes) {
    return SeekTo(file, offset) && WriteAll(file, bytes);
}

bool Truncate(const CFile& file, std::uint64_t length) {
    return SeekTo(file, length) && ::SetEndOfFile(H(file)) != 0;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Remove(const std::string& path) {
    return ::DeleteFileW(Utf8ToWide(path).c_str()) != 0;
}

void FlushFolder(const std::string&) {
    // ReplaceFileW and MoveFileExW with write-through make the new entry durable themselves.
}

std::vector<std::string> NamesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(Utf8ToWide(dir + "\\" + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(WideToUtf8(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

}  // namespace hostsys
