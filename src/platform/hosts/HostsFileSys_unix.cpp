// The hosts file's system calls on POSIX systems.
//
// Lock: for the system's hosts file, flock on /run/vantrel-hosts.lock, a file that only root can
// open (mode 0600 in a folder only root may write), so no other account can hold it; every
// process that writes that file is root (the program run by root, or its helper). Reading
// /etc/hosts is enough to flock it, so it is never locked itself. Any other hosts file (a sandbox
// named by VANTREL_HOSTS_FILE, which its user may write anyway) is flocked itself, so that also
// works for a bind-mounted file and needs no extra file. After a replacement by rename its path
// names a new inode, so a waiter checks, once it holds the lock, that the path still names the
// file it locked, and starts over if not.
// Replacement: rename over the original, then the folder is flushed; a bind-mounted file answers
// EBUSY (or EXDEV) and is written in place instead. Every open, read, write, flush, rename and
// unlink goes through the FileOps table, so tests can make any of them fail.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileSys.h"
#include "platform/system/FileOps_unix.h"

const std::string_view kTextLineEnd = "\n";

std::string DefaultHostsPath() {
    return "/etc/hosts";
}

std::string ConfiguredHostsPath() {
    const char* overridden = std::getenv("VANTREL_HOSTS_FILE");
    return overridden != nullptr && *overridden != '\0' ? overridden : DefaultHostsPath();
}

bool FileExists(const std::string& path) {
    errno = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno != ENOENT;
}

namespace hostsys {

namespace {
FileOps& Ops() {
    return CurrentFileOps();
}

int Fd(const CFile& file) {
    return static_cast<int>(file.Get());
}

// Waits for the lock, a few milliseconds at a time, up to kLockPatienceMs.
int LockPatiently(int fd, int operation) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockPatienceMs);
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

constexpr const char* kSystemLockFolder = "/run";
constexpr const char* kSystemLockPath = "/run/vantrel-hosts.lock";

// The system hosts file's lock, opened (and made where it is missing) only where no other account
// can have put it or open it: a regular root-owned file of mode 0600 and one name, in a root-owned
// folder that nobody else may write. -1 otherwise (also for any process but root's).
int OpenSystemLock() {
    struct stat folder {};
    if (::lstat(kSystemLockFolder, &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        folder.st_uid != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errno = EPERM;
        return -1;
    }
    const int fd = ::open(kSystemLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0) return -1;
    struct stat lock {};
    if (::fstat(fd, &lock) != 0 || !S_ISREG(lock.st_mode) || lock.st_uid != 0 ||
        (lock.st_mode & 077) != 0 || lock.st_nlink != 1) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

bool IsSystemHostsFile(const std::string& resolved) {
    return resolved == Resolve(DefaultHostsPath());
}

// The system hosts file under the root-only lock: opened once the lock is held, as only holders
// of the lock replace it.
Locked OpenSystemLocked(const std::string& path, bool exclusive) {
    Locked locked;
    locked.lock.Reset(OpenSystemLock());
    if (!locked.lock.Valid()) {
        locked.status = ReadStatus::Unreadable;
        return locked;
    }
    if (LockPatiently(Fd(locked.lock), exclusive ? LOCK_EX : LOCK_SH) != 0) {
        locked.status = errno == EWOULDBLOCK ? ReadStatus::Busy : ReadStatus::Unreadable;
        locked.lock.Reset();
        return locked;
    }
    locked.file.Reset(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    struct stat held {};
    if (!locked.file.Valid() || ::fstat(Fd(locked.file), &held) != 0) {
        locked.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
        locked.file.Reset();
        return locked;
    }
    locked.owner = held.st_uid;
    locked.group = held.st_gid;
    locked.mode = held.st_mode & 07777;
    locked.status = ReadStatus::Ok;
    return locked;
}
}  // namespace

void CFile::Reset(std::intptr_t handle) {
    if (Valid()) Ops().close(static_cast<int>(m_handle));
    m_handle = handle;
}

bool CFile::Close() {
    const std::intptr_t handle = m_handle;
    m_handle = kInvalid;
    return handle == kInvalid || Ops().close(static_cast<int>(handle)) == 0;
}

const char kPathSeparator = '/';

// Writes land on the file a symbolic link points to, not on the link.
std::string Resolve(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) return buffer;
    return path;
}

Locked OpenLocked(const std::string& path, bool exclusive) {
    if (IsSystemHostsFile(path)) return OpenSystemLocked(path, exclusive);
    Locked locked;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        locked.file.Reset(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
        if (!locked.file.Valid()) {
            locked.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
            return locked;
        }
        struct stat held {};
        struct stat named {};
        if (LockPatiently(Fd(locked.file), exclusive ? LOCK_EX : LOCK_SH) != 0) {
            locked.status = errno == EWOULDBLOCK ? ReadStatus::Busy : ReadStatus::Unreadable;
            locked.file.Reset();
            return locked;
        }
        if (::fstat(Fd(locked.file), &held) != 0) break;
        if (::stat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
            named.st_ino != held.st_ino) {
            continue;  // replaced while we waited: lock the new file
        }
        locked.owner = held.st_uid;
        locked.group = held.st_gid;
        locked.mode = held.st_mode & 07777;
        locked.status = ReadStatus::Ok;
        return locked;
    }
    locked.file.Reset();
    locked.status = ReadStatus::Unreadable;
    return locked;
}

void PrepareToReplace(Locked&) {
    // The lock is on the file itself: it stays open until the replacement is done.
}

CFile OpenForReading(const std::string& path) {
    return CFile(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
}

std::int64_t ReadSome(const CFile& file, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = Ops().read(Fd(file), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool SeekTo(const CFile& file, std::uint64_t offset) {
    return ::lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

FileStamp StampOf(const CFile& file) {
    struct stat st {};
    if (::fstat(Fd(file), &st) != 0) return {};
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(time.tv_nsec);
    };
    return {static_cast<std::uint64_t>(st.st_ino) ^ (static_cast<std::uint64_t>(st.st_dev) << 40),
            static_cast<std::uint64_t>(st.st_size), nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim)};
}

std::uint64_t SizeOf(const CFile& file) {
    struct stat st {};
    return ::fstat(Fd(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size)
                                                         : 0;
}

CFile CreateTemp(const std::string& prefix, std::string* name, TempStatus* status) {
    static std::atomic<unsigned> s_counter{0};
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + std::to_string(::getpid()) + "-" + std::to_string(s_counter++) + "-" +
                std::to_string(device());
        const int fd = Ops().open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            *status = TempStatus::Ok;
            return CFile(fd);
        }
        if (errno != EEXIST) break;
    }
    *status = errno == EACCES || errno == EPERM ? TempStatus::NoFolderAccess : TempStatus::Failed;
    return CFile();
}

bool WriteAll(const CFile& file, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = Ops().write(Fd(file), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // a write that makes no progress would never end
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void CopyInKernel(const CFile& in, const CFile& out, std::uint64_t length, std::uint64_t* copied) {
    off_t offset = 0;
    const auto end = static_cast<off_t>(length);
    while (offset < end) {
        const ssize_t n = Ops().copyFileRange(Fd(in), &offset, Fd(out), nullptr,
                                              static_cast<std::size_t>(end - offset), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // not supported here, or the file shrank: the caller goes on
    }
    *copied = static_cast<std::uint64_t>(offset);
}

namespace {
// Extended attributes carry the file's ACL (system.posix_acl_access) and its security label.
bool CopyExtendedAttributes(int from, int to) {
    ssize_t size = Ops().flistxattr(from, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // a file system without them has none to copy
    std::vector<char> names(static_cast<std::size_t>(size));
    size = Ops().flistxattr(from, names.data(), names.size());
    if (size < 0) return false;
    std::vector<char> value;
    for (std::size_t pos = 0; pos < static_cast<std::size_t>(size);) {
        const char* name = names.data() + pos;
        pos += std::strlen(name) + 1;
        const ssize_t length = Ops().fgetxattr(from, name, nullptr, 0);
        if (length < 0) return false;
        value.resize(static_cast<std::size_t>(length));
        const ssize_t got = Ops().fgetxattr(from, name, value.data(), value.size());
        if (got < 0 ||
            Ops().fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0)
            return false;
    }
    return true;
}
}  // namespace

bool CopyAttributes(const Locked& original, const CFile& to) {
    // Owner first: changing it can clear set-id bits that the mode then puts back; the ACL last,
    // as it sets the mode's group bits to its mask, which the mode already holds.
    return Ops().fchown(Fd(to), original.owner, original.group) == 0 &&
           Ops().fchmod(Fd(to), original.mode) == 0 &&
           CopyExtendedAttributes(Fd(original.file), Fd(to));
}

bool Flush(const CFile& file) {
    return Ops().fsync(Fd(file)) == 0;
}

namespace {
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

ReplaceStatus ReplaceWith(const std::string& path, const std::string& temp) {
    if (Ops().rename(temp.c_str(), path.c_str()) == 0) {
        // The new content is in place; a failed folder flush cannot undo that.
        Ops().fsyncDir(FolderOf(path).c_str());
        return ReplaceStatus::Done;
    }
    return errno == EBUSY || errno == EXDEV ? ReplaceStatus::InPlaceNeeded : ReplaceStatus::Failed;
}

bool Rename(const std::string& from, const std::string& to) {
    return Ops().rename(from.c_str(), to.c_str()) == 0;
}

CFile OpenForWriting(const std::string& path, bool* refused) {
    CFile file(Ops().open(path.c_str(), O_WRONLY | O_CLOEXEC, 0));
    if (refused != nullptr)
        *refused = !file.Valid() && (errno == EACCES || errno == EPERM || errno == EROFS);
    return file;
}

bool WriteAt(const CFile& file, std::uint64_t offset, std::string_view bytes) {
    return SeekTo(file, offset) && WriteAll(file, bytes);
}

bool Truncate(const CFile& file, std::uint64_t length) {
    return Ops().ftruncate(Fd(file), static_cast<off_t>(length)) == 0;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool Remove(const std::string& path) {
    return Ops().unlink(path.c_str()) == 0;
}

void FlushFolder(const std::string& dir) {
    Ops().fsyncDir(dir.c_str());
}

std::vector<std::string> NamesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) return names;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(folder);
    return names;
}

}  // namespace hostsys
