// Reading the settings file the way the program's text-mode line reads work: CR LF counts as
// one line end, each read takes at most 4,999 characters, and the read that meets the end of
// the file still yields its (possibly empty) line.
#include "core/settings/SettingsFile.h"

#include "core/hosts/AddressTwin.h"
#include "core/hosts/HostsLine.h"

namespace {
constexpr std::size_t kMaxPiece = 4999;

// The domain of a settings line: what follows the first blank, or the whole line when there is
// no blank or the blank ends the line.
std::string DomainOf(const std::string& line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos || blank + 1 == line.size()) return line;
    return line.substr(blank + 1);
}

// The dialog writes each domain's line and then its twin: the twin is not a domain of its own.
bool IsTwinLine(const std::string& line, const std::string& previous) {
    const std::size_t blank = line.find(' ');
    const std::size_t previousBlank = previous.find(' ');
    if (blank == std::string::npos || previousBlank == std::string::npos) return false;
    return DomainOf(line) == DomainOf(previous) &&
           line.compare(0, blank, TwinAddress(previous.substr(0, previousBlank))) == 0;
}
}  // namespace

std::vector<std::string> SplitSettingsLines(std::string_view text) {
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

std::string DomainListOf(const std::vector<std::string>& lines) {
    std::string domains;
    const std::string* previous = nullptr;  // the line shown last, while it may have a twin
    for (const std::string& line : lines) {
        // Comments and blank lines are the file's own, not domains (the empty line that ends a
        // file ending in a line break adds nothing either way).
        if (IsSkippedLine(line)) continue;
        // Only a shown line has a twin: a domain listed twice stays listed twice.
        if (previous != nullptr && IsTwinLine(line, *previous)) {
            previous = nullptr;
            continue;
        }
        previous = &line;
        domains += DomainOf(line);
        if (line.size() > 1) domains += '\n';
    }
    return domains;
}
