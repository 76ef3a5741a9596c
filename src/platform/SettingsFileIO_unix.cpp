// The settings file's bytes, read with plain POSIX calls.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SettingsFileIO.h"

namespace {
// The whole file, or nullopt when it can be neither opened nor created.
std::optional<std::string> Slurp(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) return std::nullopt;
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a read error ends the file where it stands
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return data;
}
}  // namespace

std::optional<std::vector<std::string>> ReadSettingsLines(const std::string& path) {
    const std::optional<std::string> data = Slurp(path);
    if (!data) return std::nullopt;
    return SplitSettingsLines(*data);
}
