// Fuzzes the settings-file reader against a model of a text-mode line reader: CR LF becomes LF,
// then each read takes up to 4,999 characters or through the next LF, and the read that meets
// the end of the file still yields its line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "platform/settings/SettingsFileIO.h"

namespace {

std::vector<std::string> Model(std::string_view raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', pos);
        const std::size_t stop = lf == std::string::npos ? text.size() : lf;
        const std::size_t take = std::min<std::size_t>(stop - pos, 4999);
        lines.push_back(text.substr(pos, take));
        pos += take;
        if (take == 4999 && pos < stop) continue;  // the rest of a long line
        if (lf == std::string::npos) break;        // this read met the end of the file
        pos = lf + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = FuzzSettingsFile();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
    ::close(fd);

    const auto lines = ReadSettingsLines(path);
    FUZZ_CHECK(lines.has_value());
    FUZZ_CHECK(*lines == Model(std::string_view(reinterpret_cast<const char*>(data), size)));
    for (const std::string& line : *lines) {
        FUZZ_CHECK(line.size() <= 4999);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
    }
    return 0;
}
