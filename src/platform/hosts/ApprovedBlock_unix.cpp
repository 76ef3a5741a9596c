// Reading the approved block without trusting what stands at its path: the folder and the file
// are looked at without following links, and the file is opened without following one, so what
// is read is what was checked.
#include "platform/hosts/ApprovedBlock_unix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/FileSys.h"
#include "platform/hosts/HelperProtocol.h"

namespace {
bool Trusted(const struct stat& info, bool folder) {
    const bool kind = folder ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
    const bool owner = info.st_uid == 0 || info.st_uid == ::geteuid();
    return kind && owner && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
}  // namespace

bool OwnedByUsOnly(const std::string& path, bool folder) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && Trusted(info, folder);
}

std::optional<std::string> ReadApprovedBlock(const std::string& path, std::string* why) {
    const auto refuse = [why](const char* text) -> std::optional<std::string> {
        if (why != nullptr) *why = text;
        return std::nullopt;
    };
    if (!OwnedByUsOnly(filesys::FolderOf(path), true))
        return refuse("its folder is missing, a link, or writable by others");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return refuse(errno == ENOENT ? "none was approved yet" : "it cannot be opened");
    filesys::File file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !Trusted(info, false))
        return refuse("it is not a file of root's that only root may write");
    if (static_cast<std::size_t>(info.st_size) > kHelperMaxInput) return refuse("it is too long");
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refuse("it cannot be read");
        if (n == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kHelperMaxInput) return refuse("it is too long");
    }
}
