// The settings file's bytes, read with plain POSIX calls: only a regular file, and only as much
// as a settings file can hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SettingsFileIO.h"

namespace {
// The whole file, or nullopt (with the reason in *why) when it cannot be had.
std::optional<std::string> Slurp(const std::string& path, std::string* why) {
    const auto fail = [why](const char* text) -> std::optional<std::string> {
        *why = text;
        return std::nullopt;
    };
    // Non-blocking, so that a FIFO by this name opens at once instead of waiting for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
}  // namespace

std::optional<std::vector<std::string>> ReadSettingsLines(const std::string& path,
                                                          std::string* why) {
    std::string ignored;
    const std::optional<std::string> data = Slurp(path, why != nullptr ? why : &ignored);
    if (!data) return std::nullopt;
    return SplitSettingsLines(*data);
}

std::optional<std::vector<std::string>> ReadBlockLines(std::string* why, const std::string& path) {
    std::optional<std::vector<std::string>> lines = ReadSettingsLines(path, why);
    if (!lines) return std::nullopt;
    const BlockLinesCheck check = CheckBlockLines(*lines);
    if (check.verdict == BlockLinesCheck::Ok) return lines;
    *why = BlockLinesProblem(check, *lines);
    return std::nullopt;
}
