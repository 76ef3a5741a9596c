// The hosts file's lock on POSIX systems. For the system's hosts file, flock on
// /run/vantrel-hosts.lock, a file that only root can open (mode 0600 in a folder only root may
// write): every process that writes that file is root (the program run by root, or its helper).
// Reading /etc/hosts is enough to flock it, so it is never locked itself. Any other hosts file is
// flocked itself, which also works for a bind-mounted file and needs no extra file; after a
// replacement by rename its path names a new inode, so a waiter checks, once it holds the lock,
// that the path still names the file it locked, and starts over if not.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/hosts/HostsLock.h"
#include "platform/hosts/HostsPath.h"
#include "platform/hosts/HostsResult.h"

using filesys::File;
using filesys::LockResult;
using filesys::ReadStatus;

namespace {

constexpr int kPatienceMs = kHostsLockWaitSeconds * 1000;
constexpr const char* kSystemLockFolder = "/run";
constexpr const char* kSystemLockPath = "/run/vantrel-hosts.lock";

ReadStatus StatusOf(LockResult result) {
    return result == LockResult::Busy ? ReadStatus::Busy : ReadStatus::Unreadable;
}

ReadStatus StatusOf(filesys::OpenError error) {
    return error == filesys::OpenError::Missing ? ReadStatus::Missing : ReadStatus::Unreadable;
}

// The system hosts file's lock, opened (and made where it is missing) only where no other account
// can have put it or open it: a regular root-owned file of mode 0600 and one name, in a root-owned
// folder that nobody else may write. Invalid otherwise (also for any process but root's).
File OpenSystemLock() {
    struct stat folder {};
    if (::lstat(kSystemLockFolder, &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        folder.st_uid != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return File();
    }
    File lock(::open(kSystemLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                     S_IRUSR | S_IWUSR));
    struct stat held {};
    if (!lock.Valid() || ::fstat(static_cast<int>(lock.Get()), &held) != 0 ||
        !S_ISREG(held.st_mode) || held.st_uid != 0 || (held.st_mode & 077) != 0 ||
        held.st_nlink != 1) {
        return File();
    }
    return lock;
}

// Takes the exclusive lock on `file`, waiting for it patiently; on failure the status says why
// and `file` is closed.
bool TakeLock(File& file, LockedHosts& locked) {
    const LockResult result = filesys::LockPatiently(file, true, kPatienceMs);
    if (result == LockResult::Locked) return true;
    locked.status = StatusOf(result);
    file.Reset();
    return false;
}

// Opens the hosts file into `locked`; on failure the status says why.
bool OpenHosts(const std::string& path, LockedHosts& locked) {
    filesys::OpenError error = filesys::OpenError::None;
    locked.file = filesys::OpenForReading(path, &error);
    locked.status = locked.file.Valid() ? ReadStatus::Ok : StatusOf(error);
    if (locked.file.Valid()) locked.attributes = filesys::AttributesOf(locked.file);
    return locked.file.Valid();
}

bool NamesFile(const std::string& path, const File& file) {
    struct stat held {};
    struct stat named {};
    return ::fstat(static_cast<int>(file.Get()), &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

}  // namespace

LockedHosts LockHostsFile(const std::string& path) {
    LockedHosts locked;
    if (IsSystemHostsFile(path)) {
        // Under the root-only lock: opened once the lock is held, as only its holders replace it.
        locked.lock = OpenSystemLock();
        locked.status = ReadStatus::Unreadable;
        if (locked.lock.Valid() && TakeLock(locked.lock, locked)) OpenHosts(path, locked);
        return locked;
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (!OpenHosts(path, locked) || !TakeLock(locked.file, locked)) return locked;
        if (NamesFile(path, locked.file)) return locked;
        // Replaced while we waited: lock the new file.
    }
    locked.file.Reset();
    locked.status = ReadStatus::Unreadable;
    return locked;
}
