// The file system calls on Windows. Files are opened sharing read, write and delete, so another
// copy of the program can replace one while it is open; a sharing refusal by another program (a
// virus scanner, Windows' own replace) is waited out for up to a second. A replacement is
// ReplaceFileW, which keeps the original's security descriptor and attributes, or MoveFileExW
// with write-through where ReplaceFileW is not supported or not atomic (Wine). Either way the path
// names the old bytes or the new ones, never a mixture and never nothing.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/files/FileSys.h"
#include "platform/files/FileSys_win.h"
#include "platform/system/WideText_win.h"

namespace filesys {

namespace {
HANDLE H(const File& file) {
    return reinterpret_cast<HANDLE>(file.Get());
}

File Wrap(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? File() : File(reinterpret_cast<std::intptr_t>(handle));
}

template <typename Attempt>
bool RetryWhileShared(const Attempt& attempt) {
    for (int tries = 0;; ++tries) {
        if (attempt()) return true;
        if (::GetLastError() != ERROR_SHARING_VIOLATION || tries == 100) return false;
        ::Sleep(10);
    }
}

OpenError ErrorOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return OpenError::Missing;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return OpenError::Refused;
        default:
            return OpenError::Other;
    }
}

File Open(const std::string& path, DWORD access, DWORD disposition, OpenError* error) {
    const HANDLE file = OpenHandle(path, access, disposition, FILE_ATTRIBUTE_NORMAL);
    const DWORD code = ::GetLastError();
    if (error != nullptr) *error = file != INVALID_HANDLE_VALUE ? OpenError::None : ErrorOf(code);
    ::SetLastError(code);
    return Wrap(file);
}

// Wine's ReplaceFileW moves the old file aside and deletes it before it moves the new one in, so
// for a moment there is no file at all (a reader finds none; a kill then loses it). Its
// MoveFileExW is a single rename and atomic.
bool RunningOnWine() {
    static const bool s_bWine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return s_bWine;
}

// A refusal (a read-only file, missing rights, the file in use) stays a refusal: a rename would
// overrule a read-only attribute that the user set to protect the file.
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
}  // namespace

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD attributes,
                  SECURITY_ATTRIBUTES* security) {
    const std::wstring wide = Utf8ToWide(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    RetryWhileShared([&] {
        file = ::CreateFileW(wide.c_str(), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security,
                             disposition, attributes, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return file;
}

void File::Reset(std::intptr_t handle) {
    if (Valid()) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = handle;
}

bool File::Close() {
    const std::intptr_t handle = m_handle;
    m_handle = kInvalid;
    return handle == kInvalid || ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

const std::string_view kTextLineEnd = "\r\n";
const char kPathSeparator = '\\';

// Relative paths are made absolute, so a temporary file is made in the same folder whatever the
// working directory does meanwhile.
std::string Resolve(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 32768, buffer.data(), nullptr);
    if (length == 0 || length >= 32768) return path;
    buffer.resize(length);
    return WideToUtf8(buffer);
}

// OPEN_ALWAYS creates a missing file empty and never truncates one that is there.
File OpenForReading(const std::string& path, OpenError* error, bool create) {
    return Open(path, GENERIC_READ, create ? OPEN_ALWAYS : OPEN_EXISTING, error);
}

File OpenForWriting(const std::string& path, OpenError* error, bool create, bool truncate) {
    const DWORD disposition = create ? (truncate ? CREATE_ALWAYS : OPEN_ALWAYS)
                                     : (truncate ? TRUNCATE_EXISTING : OPEN_EXISTING);
    return Open(path, GENERIC_WRITE, disposition, error);
}

bool FileExists(const std::string& path) {
    if (::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsRegularFile(const File& file) {
    return ::GetFileType(H(file)) == FILE_TYPE_DISK;
}

PathInfo InfoOf(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    return {(attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathInfo::Other : PathInfo::File, 0};
}

std::int64_t ReadSome(const File& file, char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 24));
    if (!::ReadFile(H(file), buffer, want, &got, nullptr)) return -1;
    return got;
}

bool SeekTo(const File& file, std::uint64_t offset) {
    LARGE_INTEGER where{};
    where.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(H(file), where, nullptr, FILE_BEGIN) != 0;
}

std::uint64_t SizeOf(const File& file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(H(file), &size) && size.QuadPart > 0
               ? static_cast<std::uint64_t>(size.QuadPart)
               : 0;
}

FileStamp StampOf(const File& file) {
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

LockResult LockPatiently(const File& file, bool exclusive, int patienceMs) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(patienceMs);
    for (;;) {
        OVERLAPPED where{};
        const DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY;
        if (::LockFileEx(H(file), flags, 0, 1, 0, &where)) return LockResult::Locked;
        if (::GetLastError() != ERROR_LOCK_VIOLATION) return LockResult::Failed;
        if (::GetTickCount64() >= deadline) return LockResult::Busy;
        ::Sleep(5);
    }
}

bool WriteAll(const File& file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 24));
        DWORD written = 0;
        if (!::WriteFile(H(file), bytes.data(), piece, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

bool WriteAt(const File& file, std::uint64_t offset, std::string_view bytes) {
    return SeekTo(file, offset) && WriteAll(file, bytes);
}

bool Truncate(const File& file, std::uint64_t length) {
    return SeekTo(file, length) && ::SetEndOfFile(H(file)) != 0;
}

bool Flush(const File& file) {
    return ::FlushFileBuffers(H(file)) != 0;
}

void CopyInKernel(const File&, const File&, std::uint64_t, std::uint64_t* copied) {
    *copied = 0;  // no such copy between open files here
}

Attributes AttributesOf(const File&) {
    return {};
}

bool CopyAttributes(const File&, const Attributes&, const File&) {
    return true;  // ReplaceFileW carries them
}

bool SetMode(const File&, std::uint32_t) {
    return true;
}

File CreateTemp(const std::string& prefix, std::string* name, TempStatus* status) {
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
    return File();
}

// Wine renames over no file that is open.
const bool kCanReplaceOpenFile = false;

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

bool Remove(const std::string& path) {
    return ::DeleteFileW(Utf8ToWide(path).c_str()) != 0;
}

void FlushFolder(const std::string&) {
    // ReplaceFileW and MoveFileExW with write-through make the new entry durable themselves.
}

std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileW(Utf8ToWide(JoinPath(folder, prefix + "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(WideToUtf8(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

}  // namespace filesys
