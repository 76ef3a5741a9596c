// Reading the settings file the way the program's text-mode line reads work: CR LF counts as
// one line end, each read takes at most 4,999 characters, and the read that meets the end of
// the file still yields its (possibly empty) line.
#include "hosts/SettingsFile.h"

#include <cstdio>

namespace {
constexpr std::size_t kMaxPiece = 4999;

// The whole file, or nullopt when it can be neither opened nor created.
std::optional<std::string> Slurp(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // Appending creates a missing file and never truncates one that appeared meanwhile.
        std::FILE* created = std::fopen(path.c_str(), "ab");
        if (created == nullptr) return std::nullopt;
        std::fclose(created);
        file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) return std::nullopt;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        data.append(buffer, n);
        if (n < sizeof buffer) break;  // the end, or a read error that ends the file there
    }
    std::fclose(file);
    return data;
}
}  // namespace

std::optional<std::vector<std::string>> ReadSettingsLines(const std::string& path) {
    const std::optional<std::string> data = Slurp(path);
    if (!data) return std::nullopt;
    const std::string& text = *data;
    const std::size_t size = text.size();

    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (;;) {
        std::string piece;
        bool atEnd = false;
        while (piece.size() < kMaxPiece) {
            if (pos == size) {
                atEnd = true;
                break;
            }
            const char c = text[pos++];
            if (c == '\n') break;
            if (c == '\r' && pos < size && text[pos] == '\n') {
                ++pos;  // CR LF is one line end
                break;
            }
            piece.push_back(c);
        }
        lines.push_back(std::move(piece));
        if (atEnd) break;
    }
    return lines;
}
