// The real POSIX calls behind the hosts file's file-system seam.
#include "platform/system/FileOps_unix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
}  // namespace

const FileOps& DefaultFileOps() {
    return kDefaultOps;
}
FileOps& CurrentFileOps() {
    return g_fileOps;
}
