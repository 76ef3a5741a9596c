// The hosts file's lock on Windows: LockFileEx on a lock file beside the hosts file
// (".<name>.vantrel-lock", hidden), not on the hosts file itself: a waiter would hold it open, and
// Wine refuses to rename over a file that is open. The hosts file is opened only while the lock
// is held; a folder without a hosts file gets no lock file. The lock file's access list names
// Administrators and SYSTEM only, not what the folder passes on (drivers\etc gives Users read
// access, and a read handle is enough to hold a lock): no other account can open it, so none can
// keep the program waiting.
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include "platform/files/FileSys_win.h"
#include "platform/hosts/HostsLock.h"
#include "platform/hosts/HostsResult.h"

using filesys::File;
using filesys::ReadStatus;

namespace {

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
    HANDLE lock = filesys::OpenHandle(path, GENERIC_READ | GENERIC_WRITE | WRITE_DAC, OPEN_ALWAYS,
                                      attributes, &security);
    bool existed = lock != INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (lock == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        // A lock file whose access list this account may not change: used as it is.
        lock = filesys::OpenHandle(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, attributes,
                                   &security);
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

}  // namespace

LockedHosts LockHostsFile(const std::string& path) {
    LockedHosts locked;
    if (!filesys::FileExists(path)) return locked;  // Missing
    // The program never removes the lock file (a waiter may hold it open); the uninstaller does.
    const HANDLE lock = OpenLockFile(filesys::HiddenBeside(path, ".vantrel-lock"));
    if (lock == INVALID_HANDLE_VALUE) {
        locked.status = ReadStatus::Unreadable;
        return locked;
    }
    locked.lock = File(reinterpret_cast<std::intptr_t>(lock));
    const filesys::LockResult result =
        filesys::LockPatiently(locked.lock, true, kHostsLockWaitSeconds * 1000);
    if (result != filesys::LockResult::Locked) {
        locked.status =
            result == filesys::LockResult::Busy ? ReadStatus::Busy : ReadStatus::Unreadable;
        locked.lock.Reset();
        return locked;
    }
    // Opened under the lock: the file may have been replaced while we waited.
    filesys::OpenError error = filesys::OpenError::None;
    locked.file = filesys::OpenForReading(path, &error);
    if (!locked.file.Valid()) {
        locked.status =
            error == filesys::OpenError::Missing ? ReadStatus::Missing : ReadStatus::Unreadable;
        return locked;
    }
    locked.status = ReadStatus::Ok;
    return locked;
}
