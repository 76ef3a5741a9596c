// The rules for the block's lines, parsed by hand: the system's address parsers differ between
// platforms and stop at a NUL, and these rules must be the same everywhere.
#include "core/hosts/HostsLine.h"

#include <array>
#include <cstdint>
#include <optional>

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four decimal parts of 0-255, no leading zeros (a leading zero reads as octal elsewhere).
std::optional<std::array<std::uint8_t, 4>> ParseIPv4(std::string_view text) {
    std::array<std::uint8_t, 4> parts{};
    std::size_t part = 0;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && IsDigit(text[pos]) && pos - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        const std::size_t digits = pos - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
        parts[part++] = static_cast<std::uint8_t>(value);
        if (part == 4) break;
        if (pos == text.size() || text[pos] != '.') return std::nullopt;
        ++pos;
    }
    if (pos != text.size()) return std::nullopt;
    return parts;
}

// The sixteen bytes of an IPv6 address: groups of 1-4 hex digits, one "::" at most, an IPv4
// address in the last 32 bits allowed. No zone index.
std::optional<std::array<std::uint8_t, 16>> ParseIPv6(std::string_view text) {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t count = 0;           // bytes filled
    std::optional<std::size_t> gap;  // where "::" stands, in bytes
    std::size_t pos = 0;
    if (text.substr(0, 2) == "::") {
        gap = 0;
        pos = 2;
        if (pos == text.size()) return bytes;
    } else if (!text.empty() && text[0] == ':') {
        return std::nullopt;
    }
    for (;;) {
        // A dotted IPv4 tail takes the last four bytes.
        const std::size_t nextColon = text.find(':', pos);
        const std::string_view rest = text.substr(pos);
        if (nextColon == std::string_view::npos && rest.find('.') != std::string_view::npos) {
            const auto v4 = ParseIPv4(rest);
            if (!v4 || count + 4 > 16) return std::nullopt;
            for (const std::uint8_t b : *v4) bytes[count++] = b;
            break;
        }
        unsigned value = 0;
        const std::size_t start = pos;
        while (pos < text.size() && HexValue(text[pos]) >= 0 && pos - start < 4) {
            value = value * 16 + static_cast<unsigned>(HexValue(text[pos]));
            ++pos;
        }
        if (pos == start || count + 2 > 16) return std::nullopt;
        bytes[count++] = static_cast<std::uint8_t>(value >> 8);
        bytes[count++] = static_cast<std::uint8_t>(value & 0xff);
        if (pos == text.size()) break;
        if (text[pos] != ':') return std::nullopt;
        ++pos;
        if (pos < text.size() && text[pos] == ':') {
            if (gap) return std::nullopt;  // a second "::"
            gap = count;
            ++pos;
            if (pos == text.size()) break;
        } else if (pos == text.size()) {
            return std::nullopt;  // a single colon at the end
        }
    }
    if (gap) {
        if (count == 16) return std::nullopt;  // "::" must stand for at least one group
        const std::size_t tail = count - *gap;
        for (std::size_t i = 0; i < tail; ++i) bytes[15 - i] = bytes[*gap + tail - 1 - i];
        for (std::size_t i = *gap; i < 16 - tail; ++i) bytes[i] = 0;
    } else if (count != 16) {
        return std::nullopt;
    }
    return bytes;
}

bool IsLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' || c == '_';
}

bool IsLabel(std::string_view label) {
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (const char c : label) {
        if (!IsLabelChar(c)) return false;
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
}  // namespace

bool IsLocalAddress(std::string_view text) {
    if (const auto v4 = ParseIPv4(text)) {
        return (*v4)[0] == 127 ||
               ((*v4)[0] == 0 && (*v4)[1] == 0 && (*v4)[2] == 0 && (*v4)[3] == 0);
    }
    const auto v6 = ParseIPv6(text);
    if (!v6) return false;
    for (std::size_t i = 0; i < 15; ++i) {
        if ((*v6)[i] != 0) return false;
    }
    return (*v6)[15] <= 1;
}

bool IsHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = name.find('.', start);
        if (!IsLabel(name.substr(start, dot - start))) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool IsBlockLine(std::string_view line) {
    if (line.size() > kMaxBlockLineLength) return false;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || !IsLocalAddress(line.substr(0, blank))) return false;
    std::size_t start = blank + 1;
    for (;;) {
        const std::size_t next = line.find(' ', start);
        if (!IsHostName(line.substr(start, next - start))) return false;
        if (next == std::string_view::npos) return true;
        start = next + 1;
    }
}

bool IsSkippedLine(std::string_view line) {
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (line.empty()) return true;
    return line.front() == '#' && line.find("Begin Vantrel") == std::string_view::npos &&
           line.find("End Vantrel") == std::string_view::npos;
}

BlockLinesCheck CheckBlockLines(const std::vector<std::string>& lines) {
    std::size_t entries = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsSkippedLine(lines[i])) continue;
        if (!IsBlockLine(lines[i])) return {BlockLinesCheck::BadLine, i};
        ++entries;
    }
    if (entries > kMaxBlockLines) return {BlockLinesCheck::TooMany, kMaxBlockLines};
    return {};
}

std::vector<std::string> BlockLinesOf(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsSkippedLine(lines[i]) || (i + 1 == lines.size() && lines[i].empty()))
            kept.push_back(lines[i]);
    }
    return kept;
}

std::string BlockLinesProblem(const BlockLinesCheck& check, const std::vector<std::string>& lines) {
    if (check.verdict == BlockLinesCheck::TooMany) {
        return "Ads cannot be hidden with this list: vantrel_settings.txt holds more than " +
               std::to_string(kMaxBlockLines) +
               " lines. Please remove some domains in the Settings dialog.";
    }
    // Shown as far as it is readable: control bytes and a line of any length must not garble the
    // message.
    std::string shown;
    const std::string& line = check.line < lines.size() ? lines[check.line] : shown;
    for (const char c : line.substr(0, 80)) {
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    if (line.size() > 80) shown += "...";
    return "Ads cannot be hidden with this list: line " + std::to_string(check.line + 1) +
           " of vantrel_settings.txt, \"" + shown +
           "\", is not a local address (0.0.0.0, 127.x.x.x, :: or ::1) followed by a domain "
           "name. Please correct the list in the Settings dialog.";
}

std::string CleanDomain(std::string_view piece) {
    while (!piece.empty() && IsBlank(piece.front())) piece.remove_prefix(1);
    while (!piece.empty() && IsBlank(piece.back())) piece.remove_suffix(1);
    if (piece.size() > 1 && piece.back() == '.') {
        piece.remove_suffix(1);
        while (!piece.empty() && IsBlank(piece.back())) piece.remove_suffix(1);
    }
    return std::string(piece);
}

std::vector<std::string> DomainsOfList(std::string_view list) {
    std::vector<std::string> domains;
    std::size_t pos = 0;
    while (pos <= list.size()) {
        const std::size_t end = list.find_first_of("\r\n", pos);
        const std::string_view piece =
            list.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        std::string domain = CleanDomain(piece);
        if (!domain.empty()) domains.push_back(std::move(domain));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return domains;
}
