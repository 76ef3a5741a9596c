// Everything the privileged helper does with its arguments and input. It trusts nothing it is
// given: a hosts line that slipped through here would redirect any domain for every user.
#include "platform/HostsHelper.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/HostsFileIO.h"

namespace {
bool IsLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsValidLabel(std::string_view label) {
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (const char c : label) {
        if (!IsLabelChar(c)) return false;
    }
    return true;
}

bool IsValidAddress(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
    // inet_pton stops at a NUL, so anything after one would slip through unseen.
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != '.' && c != ':') return false;
    }
    const std::string address(text);
    unsigned char binary[16];
    return inet_pton(AF_INET, address.c_str(), binary) == 1 ||
           inet_pton(AF_INET6, address.c_str(), binary) == 1;
}

void Complain(const char* what) {
    std::fprintf(stderr, "vantrel-hosts-helper: %s\n", what);
}
}  // namespace

bool IsValidHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = name.find('.', start);
        if (!IsValidLabel(name.substr(start, dot - start))) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool IsValidHostsEntry(std::string_view line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || !IsValidAddress(line.substr(0, blank))) return false;
    std::size_t start = blank + 1;
    for (;;) {
        const std::size_t next = line.find(' ', start);
        if (!IsValidHostName(line.substr(start, next - start))) return false;
        if (next == std::string_view::npos) return true;
        start = next + 1;
    }
}

std::optional<std::vector<std::string>> ParseHelperInput(std::string_view input) {
    if (input.empty() || input.size() > kHelperMaxInput || input.back() != '\n')
        return std::nullopt;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < input.size()) {
        const std::size_t end = input.find('\n', start);
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        if (lines.size() == kHelperMaxLines || line.size() > kHelperMaxLineLength)
            return std::nullopt;
        const bool last = start == input.size();
        if (!(last && line.empty()) && !IsValidHostsEntry(line)) return std::nullopt;
        lines.emplace_back(line);
    }
    return lines;
}

std::optional<std::string> ReadHelperInput(int fd) {
    std::string input;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return input;
        input.append(buffer, static_cast<std::size_t>(n));
        if (input.size() > kHelperMaxInput) return std::nullopt;
    }
}

int RunHostsHelper(const std::vector<std::string>& args, int inputFd,
                   const std::string& hostsPath) {
    if (args.size() != 1 || (args[0] != "add" && args[0] != "remove")) {
        Complain("usage: vantrel-hosts-helper add|remove (settings lines on stdin for add)");
        return kHelperUsage;
    }
    if (args[0] == "remove") return RemoveBlockAt(hostsPath) ? kHelperOk : kHelperFailed;

    const std::optional<std::string> input = ReadHelperInput(inputFd);
    const std::optional<std::vector<std::string>> lines =
        input ? ParseHelperInput(*input) : std::nullopt;
    if (!lines) {
        Complain("refused: the input is not a short list of \"address name\" lines");
        return kHelperBadInput;
    }
    return AddBlockAt(hostsPath, *lines) ? kHelperOk : kHelperFailed;
}
