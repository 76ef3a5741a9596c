// Running the privileged helper with pkexec: posix_spawn without a shell, the settings lines on a
// socket as its stdin (so a helper or pkexec that exits early cannot kill us with SIGPIPE).
#include "platform/hosts/ElevatedHosts.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/hosts/HostsText.h"
#include "linux/root/HostsHelper.h"
#include "platform/hosts/HostsFileIO.h"

extern char** environ;

namespace {
std::string g_strHelperPath;
std::vector<std::string> g_helperExtras;
bool g_bRanWithExtras = false;

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}
}  // namespace

// Only the system file goes through the helper, which writes nothing else; a sandbox file named
// by VANTREL_HOSTS_FILE is always written directly, and fails there if it must.
bool HostsNeedHelper(const std::string& path) {
    return path == kSystemHostsPath && ::geteuid() != 0;
}

std::string HostsHelperPath() {
    if (!g_strHelperPath.empty()) return g_strHelperPath;
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return (self.parent_path() / "vantrel-hosts-helper").string();
}

void SetHostsHelperPath(const std::string& path) {
    g_strHelperPath = path;
}

void SetHelperExtraArguments(std::vector<std::string> args) {
    g_helperExtras = std::move(args);
    g_bRanWithExtras = false;
}

bool HelperRanWithExtras() {
    return g_bRanWithExtras;
}

std::string HelperInput(const std::vector<std::string>& lines) {
    std::string input;
    for (const std::string& line : lines) input.append(line).push_back('\n');
    return input;
}

int RunHelperElevated(std::string_view command, const std::vector<std::string>& lines,
                      std::string* output) {
    const std::string helper = HostsHelperPath();
    if (helper.empty()) return kHelperNotRun;
    const std::string input = HelperInput(lines);

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return kHelperNotRun;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    // Its answer comes back on the same socket.
    if (output != nullptr) posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);

    std::string program = "pkexec";
    std::string cmd(command);
    std::vector<char*> argv = {program.data(), const_cast<char*>(helper.c_str()), cmd.data()};
    for (std::string& extra : g_helperExtras) argv.push_back(extra.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "pkexec", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return kHelperNotRun;
    }
    SendAll(fds[0], input);  // a helper that stopped reading says so through its status
    if (output != nullptr) {
        output->clear();
        ::shutdown(fds[0], SHUT_WR);  // the end of its input
        char buffer[512];
        for (;;) {
            const ssize_t n = ::recv(fds[0], buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            // Its answer is one short line; more is kept no further.
            if (output->size() < 4096) output->append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fds[0]);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return kHelperNotRun;
    }
    const int result = WIFEXITED(status) ? WEXITSTATUS(status) : kHelperNotRun;
    if (result == kHelperOk && !g_helperExtras.empty()) g_bRanWithExtras = true;
    return result;
}

std::string HelperFailureText(int status) {
    switch (status) {
        case kHelperOk:
        case kPkexecDismissed:  // the user chose so and needs no telling
            return {};
        case kHelperBadInput:
            return "The hosts file was not changed: its helper refused the domain list in "
                   "vantrel_settings.txt. Every line must be a local address (0.0.0.0, 127.x.x.x, "
                   ":: or ::1) followed by a domain name; please correct the list in the Settings "
                   "dialog.";
        case kHelperBusy:
            return kHostsBusyText;
        case kPkexecNotAuthorized:
            return "The hosts file was not changed: the permission to change it was not given.";
        case kHelperNotRun:
            return "The hosts file was not changed: pkexec, which asks for the administrator's "
                   "permission, could not be run.";
        default:
            return "The hosts file could not be changed.";
    }
}

namespace {
struct ReportWord {
    BlockProblem problem;
    const char* word;
};
constexpr ReportWord kProblemWords[] = {{BlockProblem::Damaged, "damaged"},
                                        {BlockProblem::ForeignMarker, "foreign"},
                                        {BlockProblem::EmptyList, "empty"}};
}  // namespace

std::string HelperReportLine(const HelperReport& report) {
    std::string line = report.hidden ? "hidden" : "shown";
    line += report.changed ? " changed" : " unchanged";
    for (const ReportWord& word : kProblemWords) {
        if (word.problem == report.problem) line.append(" ").append(word.word);
    }
    return line + "\n";
}

std::optional<HelperReport> ParseHelperReport(std::string_view output) {
    if (output.empty() || output.back() != '\n') return std::nullopt;
    output.remove_suffix(1);
    const std::size_t start = output.rfind('\n');
    if (start != std::string_view::npos) output.remove_prefix(start + 1);
    for (const bool hidden : {false, true}) {
        for (const bool changed : {false, true}) {
            for (const BlockProblem problem :
                 {BlockProblem::None, BlockProblem::Damaged, BlockProblem::ForeignMarker,
                  BlockProblem::EmptyList}) {
                const HelperReport report{hidden, changed, problem};
                if (HelperReportLine(report) == std::string(output) + "\n") return report;
            }
        }
    }
    return std::nullopt;
}

ElevatedChange ApplyIntentThroughHelper(const std::string& path, HostsIntent intent,
                                        const std::vector<std::string>& lines) {
    std::string output;
    const bool hide = intent == HostsIntent::Hide;
    const int status = RunHelperElevated(hide ? "hide" : "show",
                                         hide ? lines : std::vector<std::string>{}, &output);
    ElevatedChange change;
    const std::optional<HelperReport> report = ParseHelperReport(output);
    if (!report) {
        // Nothing was read by the helper (or it did not run): what the file holds is unknown.
        change.hidden = HostsHasAdLabel(path);
        change.why =
            status == kHelperOk ? HelperFailureText(kHelperFailed) : HelperFailureText(status);
        return change;
    }
    change.hidden = report->hidden;
    change.changed = report->changed;
    change.done = status == kHelperOk;
    switch (report->problem) {
        case BlockProblem::Damaged:
            change.why = kDamagedBlockText;
            break;
        case BlockProblem::ForeignMarker:
            change.why = kForeignMarkerText;
            break;
        case BlockProblem::EmptyList:
            change.why = kEmptyListText;
            break;
        case BlockProblem::None:
        case BlockProblem::NoSettings:
            if (!change.done) change.why = HelperFailureText(status);
            break;
    }
    return change;
}
