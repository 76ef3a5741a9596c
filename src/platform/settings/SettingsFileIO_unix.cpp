// The settings file's bytes, read and written with plain POSIX calls: only a regular file, and
// only as much as a settings file can hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/settings/SettingsFileIO.h"

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

namespace {

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool WriteSettingsText(std::string_view text, const std::string& path) {
    // The line end here is LF: the text goes out as it is.
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return false;  // never replace a folder or a device
    const mode_t mode = exists ? (st.st_mode & 07777) : 0644;

    std::string temp = FolderOf(path) + "/.vantrel_settings-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd >= 0) {
        const bool written = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
        if (::close(fd) == 0 && written && ::rename(temp.c_str(), path.c_str()) == 0) return true;
        ::unlink(temp.c_str());
        return false;
    }
    // No temporary file beside it: the file in place, when it may be written.
    const int direct =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (direct < 0) return false;
    const bool written = WriteAll(direct, text) && ::fsync(direct) == 0;
    return ::close(direct) == 0 && written;
}
