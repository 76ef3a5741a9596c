// Everything the privileged helper does with its arguments and input. It trusts nothing it is
// given: a hosts line that slipped through here would redirect any domain for every user, so it
// writes only lines that send names to this PC, whatever the program that called it says.
#include "linux/root/HostsHelper.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/hosts/HostsFileIO.h"

namespace {
void Complain(const std::string& what) {
    std::fprintf(stderr, "vantrel-hosts-helper: %s\n", what.c_str());
}
}  // namespace

std::optional<std::vector<std::string>> ParseHelperInput(std::string_view input, std::string* why) {
    const auto refuse = [why](std::string text) -> std::optional<std::vector<std::string>> {
        if (why != nullptr) *why = std::move(text);
        return std::nullopt;
    };
    if (input.empty() || input.size() > kHelperMaxInput || input.back() != '\n')
        return refuse("the input is not lines each ended by a line feed");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < input.size()) {
        const std::size_t end = input.find('\n', start);
        lines.emplace_back(input.substr(start, end - start));
        start = end + 1;
        // Checked as they come, so a flood of lines is never held for long.
        if (lines.size() > kMaxBlockLines + 1) return refuse("more than 4096 lines");
    }
    const BlockLinesCheck check = CheckBlockLines(lines);
    switch (check.verdict) {
        case BlockLinesCheck::Ok:
            return BlockLinesOf(lines);
        case BlockLinesCheck::TooMany:
            return refuse("more than 4096 lines");
        case BlockLinesCheck::BadLine:
            break;
    }
    return refuse("line " + std::to_string(check.line + 1) +
                  " is not a local address (0.0.0.0, 127.x.x.x, :: or ::1) followed by host names");
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

int RunHostsHelper(const std::vector<std::string>& args, int inputFd, const std::string& hostsPath,
                   std::string* report) {
    if (args.size() != 1 || (args[0] != kHelperHide && args[0] != kHelperShow)) {
        Complain("usage: vantrel-hosts-helper hide|show (settings lines on stdin for hide)");
        return kHelperUsage;
    }
    const HostsIntent intent = args[0] == kHelperHide ? HostsIntent::Hide : HostsIntent::Show;
    std::optional<std::vector<std::string>> lines;
    if (intent == HostsIntent::Hide) {
        const std::optional<std::string> input = ReadHelperInput(inputFd);
        std::string why = "the input could not be read or is too long";
        if (input) lines = ParseHelperInput(*input, &why);
        if (!lines) {
            Complain("refused: " + why);
            return kHelperBadInput;
        }
    }
    const HostsResult result = ApplyIntentAt(hostsPath, intent, [&lines] { return lines; });
    switch (result.outcome) {
        case HostsOutcome::Missing:
        case HostsOutcome::Unreadable:
            return kHelperFailed;
        case HostsOutcome::Busy:
            Complain(kHostsBusyText);
            return kHelperBusy;
        default:
            break;
    }
    if (report != nullptr) *report = HelperReportLine(result);
    return result.Done() ? kHelperOk : kHelperFailed;
}
