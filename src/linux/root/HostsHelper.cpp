// Everything the privileged helper does with its arguments and input. It trusts nothing it is
// given: a hosts line that slipped through here would redirect any domain for every user, so it
// writes only lines that send names to this PC, whatever the program that called it says.
#include "linux/root/HostsHelper.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/hosts/ApprovedBlock_unix.h"
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

bool SaveApprovedBlock(const std::string& path, std::string_view bytes) {
    const std::string folder = filesys::FolderOf(path);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (!OwnedByUsOnly(folder, true) || ::chmod(folder.c_str(), 0755) != 0) return false;
    // Only a file that everyone may read and nobody else write is kept (and replaced); the rest is
    // taken away first, so nothing is ever written through a link or keeps another's mode.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 &&
        !(S_ISREG(info.st_mode) && (info.st_mode & 07777) == 0644 && OwnedByUsOnly(path, false)) &&
        ::unlink(path.c_str()) != 0)
        return false;
    return filesys::SaveFile(path, bytes);
}

int RunHostsHelper(const std::vector<std::string>& args, int inputFd, const std::string& hostsPath,
                   const std::string& approvedPath, std::string* report) {
    const bool approved = args.size() == 2 && args[0] == kHelperApproved &&
                          (args[1] == kHelperHide || args[1] == kHelperShow);
    if (!approved && !(args.size() == 1 && args[0] == kHelperHide)) {
        Complain("usage: vantrel-hosts-helper hide (settings lines on stdin) | approved hide|show");
        return kHelperUsage;
    }
    const HostsIntent intent = args.back() == kHelperHide ? HostsIntent::Hide : HostsIntent::Show;
    const std::optional<std::string> input = ReadHelperInput(inputFd);
    std::optional<std::vector<std::string>> lines;
    std::string why = "the input could not be read or is too long";
    if (approved) {
        // The active user's own step takes nothing from the caller but the intent.
        if (!input || !input->empty()) {
            Complain("refused: \"approved\" takes no input");
            return kHelperUsage;
        }
        if (intent == HostsIntent::Hide) {
            const std::optional<std::string> block = ReadApprovedBlock(approvedPath, &why);
            if (block) lines = ParseHelperInput(*block, &why);
            if (!lines) {
                Complain("no approved block: " + why);
                return kHelperNotApproved;
            }
        }
    } else {
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
    // An administrator authorised these lines, and they are now the file's block.
    if (!approved && result.outcome == HostsOutcome::Written &&
        !SaveApprovedBlock(approvedPath, HelperInput(*lines)))
        Complain("the list could not be kept as the approved block in " + approvedPath);
    if (report != nullptr) *report = HelperReportLine(result);
    return result.Done() ? kHelperOk : kHelperFailed;
}
