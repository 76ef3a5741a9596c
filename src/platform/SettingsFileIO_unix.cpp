// The settings file's bytes, read with plain POSIX calls: only a regular file, and only as much
// as a settings file can hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SettingsFileIO.h"

std::optional<std::string> ReadSettingsBytes(const std::string& path, std::string* why,
                                             bool* missing) {
    const auto fail = [why](const char* text) -> std::optional<std::string> {
        *why = text;
        return std::nullopt;
    };
    // Non-blocking, so that a FIFO by this name opens at once instead of waiting for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && missing != nullptr) {
        *missing = true;
        return std::nullopt;
    }
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0)
        return fail("The settings file vantrel_settings.txt can be neither read nor created.");
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("The settings file vantrel_settings.txt is not a regular file.");
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a read error ends the file where it stands
        data.append(buffer, static_cast<std::size_t>(n));
        if (data.size() > kMaxSettingsFileSize) {  // also a file that grows while it is read
            ::close(fd);
            return fail("The settings file vantrel_settings.txt is too long.");
        }
    }
    ::close(fd);
    return data;
}
