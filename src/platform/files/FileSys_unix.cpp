// The file system calls on POSIX systems. Every open, read, write, flush, rename and unlink goes
// through the FileOps table (FileOps_unix.h), so tests can make any of them fail. A replacement
// is a rename over the original, then the folder is flushed; a bind-mounted file answers EBUSY
// (or EXDEV), and its caller writes it in place instead.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <random>
#include <thread>

#include "platform/files/FileOps_unix.h"
#include "platform/files/FileSys.h"

namespace {
int RealOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int RealFsyncDir(const char* dir) {
    const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int result = ::fsync(fd);
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    return result;
}

ssize_t RealCopyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t size,
                          unsigned flags) {
    return ::copy_file_range(in, inOffset, out, outOffset, size, flags);
}

const FileOps kDefaultOps = {
    RealOpen,     ::close,           ::read,       ::write,     ::fsync,
    ::ftruncate,  ::fchmod,          ::fchown,     ::rename,    ::unlink,
    RealFsyncDir, RealCopyFileRange, ::flistxattr, ::fgetxattr, ::fsetxattr,
};

FileOps g_fileOps = kDefaultOps;

FileOps& Ops() {
    return g_fileOps;
}
}  // namespace

const FileOps& DefaultFileOps() {
    return kDefaultOps;
}

FileOps& CurrentFileOps() {
    return g_fileOps;
}

namespace filesys {

namespace {
int Fd(const File& file) {
    return static_cast<int>(file.Get());
}

OpenError ErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return OpenError::Missing;
        case EACCES:
        case EPERM:
        case EROFS:
            return OpenError::Refused;
        default:
            return OpenError::Other;
    }
}

File Open(const std::string& path, int flags, OpenError* error) {
    errno = 0;
    File file(Ops().open(path.c_str(), flags | O_CLOEXEC, 0644));
    if (error != nullptr) *error = file.Valid() ? OpenError::None : ErrorOf(errno);
    return file;
}
}  // namespace

void File::Reset(std::intptr_t handle) {
    if (Valid()) Ops().close(static_cast<int>(m_handle));
    m_handle = handle;
}

bool File::Close() {
    const std::intptr_t handle = m_handle;
    m_handle = kInvalid;
    return handle == kInvalid || Ops().close(static_cast<int>(handle)) == 0;
}

const std::string_view kTextLineEnd = "\n";
const char kPathSeparator = '/';

// Writes land on the file a symbolic link points to, not on the link.
std::string Resolve(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) return buffer;
    return path;
}

// Non-blocking, so that a FIFO by this name opens at once instead of waiting for a writer.
File OpenForReading(const std::string& path, OpenError* error, bool create) {
    OpenError why = OpenError::None;
    File file = Open(path, O_RDONLY | O_NONBLOCK, &why);
    if (!file.Valid() && create && why == OpenError::Missing)
        file = Open(path, O_RDONLY | O_NONBLOCK | O_CREAT, &why);
    if (error != nullptr) *error = why;
    return file;
}

File OpenForWriting(const std::string& path, OpenError* error, bool create, bool truncate) {
    return Open(path, O_WRONLY | (create ? O_CREAT | O_NONBLOCK : 0) | (truncate ? O_TRUNC : 0),
                error);
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

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const File& file) {
    struct stat st {};
    return ::fstat(Fd(file), &st) == 0 && S_ISREG(st.st_mode);
}

PathInfo InfoOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {S_ISREG(st.st_mode) ? PathInfo::File : PathInfo::Other, st.st_mode & 07777u};
}

std::int64_t ReadSome(const File& file, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = Ops().read(Fd(file), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool SeekTo(const File& file, std::uint64_t offset) {
    return ::lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::uint64_t SizeOf(const File& file) {
    struct stat st {};
    return ::fstat(Fd(file), &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size)
                                                         : 0;
}

FileStamp StampOf(const File& file) {
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

LockResult LockPatiently(const File& file, bool exclusive, int patienceMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    for (;;) {
        if (::flock(Fd(file), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
            return LockResult::Locked;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return LockResult::Failed;
        if (std::chrono::steady_clock::now() >= deadline) return LockResult::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool WriteAll(const File& file, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = Ops().write(Fd(file), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // a write that makes no progress would never end
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool WriteAt(const File& file, std::uint64_t offset, std::string_view bytes) {
    return SeekTo(file, offset) && WriteAll(file, bytes);
}

bool Truncate(const File& file, std::uint64_t length) {
    return Ops().ftruncate(Fd(file), static_cast<off_t>(length)) == 0;
}

bool Flush(const File& file) {
    return Ops().fsync(Fd(file)) == 0;
}

void CopyInKernel(const File& in, const File& out, std::uint64_t length, std::uint64_t* copied) {
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

Attributes AttributesOf(const File& file) {
    struct stat st {};
    if (::fstat(Fd(file), &st) != 0) return {};
    return {st.st_uid, st.st_gid, st.st_mode & 07777u};
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

bool CopyAttributes(const File& from, const Attributes& attributes, const File& to) {
    // Owner first: changing it can clear set-id bits that the mode then puts back; the ACL last,
    // as it sets the mode's group bits to its mask, which the mode already holds.
    return Ops().fchown(Fd(to), attributes.owner, attributes.group) == 0 &&
           Ops().fchmod(Fd(to), attributes.mode) == 0 && CopyExtendedAttributes(Fd(from), Fd(to));
}

bool SetMode(const File& to, std::uint32_t mode) {
    return Ops().fchmod(Fd(to), mode) == 0;
}

File CreateTemp(const std::string& prefix, std::string* name, TempStatus* status) {
    static std::atomic<unsigned> s_counter{0};
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + std::to_string(::getpid()) + "-" + std::to_string(s_counter++) + "-" +
                std::to_string(device());
        const int fd = Ops().open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            *status = TempStatus::Ok;
            return File(fd);
        }
        if (errno != EEXIST) break;
    }
    *status = errno == EACCES || errno == EPERM ? TempStatus::NoFolderAccess : TempStatus::Failed;
    return File();
}

const bool kCanReplaceOpenFile = true;

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

bool Remove(const std::string& path) {
    return Ops().unlink(path.c_str()) == 0;
}

void FlushFolder(const std::string& folder) {
    Ops().fsyncDir(folder.c_str());
}

std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace filesys
