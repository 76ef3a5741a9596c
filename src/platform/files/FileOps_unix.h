// The POSIX calls under FileSys_unix.cpp, gathered in one table so tests can make any of them
// fail (a full disk, a failed fsync, a rename refused by a bind mount).
#pragma once

#include <sys/types.h>

// Each entry behaves like the POSIX call of the same name: -1 with errno set on failure.
// fsyncDir flushes a folder's entries (open the folder, fsync it, close it). Every open, read,
// write, copy, flush, rename and unlink of the hosts file, the settings file, their temporary
// files and the backup, and every copy of extended attributes, goes through here; flock,
// stat/fstat, lseek and the folder listing that finds stale temporary files do not. The table is
// process-wide: change it only while no other thread uses those files.
struct FileOps {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*write)(int fd, const void* buffer, size_t size);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t length);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*fsyncDir)(const char* dir);
    // copy_file_range(2), the kernel's copy of an unchanged stretch into a new file.
    ssize_t (*copyFileRange)(int in, off_t* inOffset, int out, off_t* outOffset, size_t size,
                             unsigned flags);
    // Extended attributes (ACLs and security labels among them) of an open file.
    ssize_t (*flistxattr)(int fd, char* names, size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
};

// The real calls.
const FileOps& DefaultFileOps();
// The table every file operation uses; tests overwrite entries, ideally through CScopedFileOps so
// the real calls come back.
FileOps& CurrentFileOps();

// Installs a table for its lifetime and puts the previous one back afterwards.
class CScopedFileOps {
public:
    explicit CScopedFileOps(const FileOps& ops) : m_saved(CurrentFileOps()) {
        CurrentFileOps() = ops;
    }
    ~CScopedFileOps() { CurrentFileOps() = m_saved; }
    CScopedFileOps(const CScopedFileOps&) = delete;
    CScopedFileOps& operator=(const CScopedFileOps&) = delete;

private:
    FileOps m_saved;
};
