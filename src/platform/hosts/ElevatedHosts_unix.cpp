// Running the privileged helper with pkexec: started without a shell (Spawn_unix.h), the settings
// lines on a socket as its stdin (so a helper or pkexec that exits early cannot kill us with
// SIGPIPE), its report read back on the same socket.
#include "platform/hosts/ElevatedHosts.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/hosts/ApprovedBlock_unix.h"
#include "platform/hosts/HelperProtocol.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/system/Spawn_unix.h"

namespace {
std::string g_helperPath;
std::string g_pkexecPath;
std::string g_approvedPath;
std::vector<std::string> g_helperExtras;
bool g_ranWithExtras = false;

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

// Its answer is one short line; more is kept no further.
void ReceiveAnswer(int fd, std::string* output) {
    output->clear();
    ::shutdown(fd, SHUT_WR);  // the end of its input
    char buffer[512];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output->size() < 4096) output->append(buffer, static_cast<std::size_t>(n));
    }
}

// The result of a run whose helper reported what the pass left (or nothing, when it could not).
HostsResult ResultOfRun(const std::string& path, int status,
                        const std::optional<HostsResult>& report) {
    HostsResult result;
    if (!report) {
        // Nothing was read by the helper (or it did not run): what the file holds is unknown.
        result.hidden = HostsHasAdLabel(path);
        result.sentence = HelperFailureText(status == kHelperOk ? kHelperFailed : status);
    } else {
        result = *report;
        result.sentence = SentenceOf(result.outcome);
        if (status == kHelperOk || !result.sentence.empty()) return result;
        result.sentence = HelperFailureText(status);
    }
    switch (status) {
        case kHelperBusy:
            result.outcome = HostsOutcome::Busy;
            break;
        case kHelperBadInput:
            result.outcome = HostsOutcome::BadSettings;
            break;
        case kPkexecDismissed:
        case kPkexecNotAuthorized:
            result.outcome = HostsOutcome::Denied;
            break;
        default:
            result.outcome = HostsOutcome::WriteFailed;
            break;
    }
    return result;
}
}  // namespace

// Only the system file goes through the helper, which writes nothing else; a sandbox file named
// by VANTREL_HOSTS_FILE is always written directly, and fails there if it must.
bool HostsNeedHelper(const std::string& path) {
    return IsSystemHostsFile(path) && ::geteuid() != 0;
}

std::string HostsHelperPath() {
    if (!g_helperPath.empty()) return g_helperPath;
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return (self.parent_path() / "vantrel-hosts-helper").string();
}

void SetHostsHelperPath(const std::string& path) {
    g_helperPath = path;
}

void SetPkexecPathForTests(const std::string& path) {
    g_pkexecPath = path;
}

void SetApprovedBlockPathForTests(const std::string& path) {
    g_approvedPath = path;
}

bool ListIsApproved(const std::vector<std::string>& lines) {
    return ReadApprovedBlock(g_approvedPath.empty() ? kApprovedBlockPath : g_approvedPath) ==
           HelperInput(lines);
}

void SetHelperExtraArguments(std::vector<std::string> args) {
    g_helperExtras = std::move(args);
    g_ranWithExtras = false;
}

bool HelperRanWithExtras() {
    return g_ranWithExtras;
}

int RunHelperElevated(const std::vector<std::string>& command,
                      const std::vector<std::string>& lines, std::string* output) {
    const std::string helper = HostsHelperPath();
    if (helper.empty()) return kHelperNotRun;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return kHelperNotRun;
    ChildSetup setup;
    setup.argv = {g_pkexecPath.empty() ? kPkexecPath : g_pkexecPath, helper};
    setup.argv.insert(setup.argv.end(), command.begin(), command.end());
    setup.argv.insert(setup.argv.end(), g_helperExtras.begin(), g_helperExtras.end());
    setup.inputFd = fds[1];
    // Its answer comes back on the same socket.
    if (output != nullptr) setup.outputFd = fds[1];
    const pid_t pid = StartChild(setup);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return kHelperNotRun;
    }
    SendAll(fds[0], HelperInput(lines));  // a helper that stopped reading says so in its status
    if (output != nullptr) ReceiveAnswer(fds[0], output);
    ::close(fds[0]);
    const int result = WaitForChild(pid);
    if (result == kHelperOk && !g_helperExtras.empty()) g_ranWithExtras = true;
    return result < 0 ? kHelperNotRun : result;
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
        case kHelperNotApproved:
            return kNotApprovedText;
        case kPkexecNotAuthorized:
            return "The hosts file was not changed: the permission to change it was not given.";
        case kHelperNotRun:
            return "The hosts file was not changed: pkexec, which asks for the administrator's "
                   "permission, could not be run.";
        default:
            return "The hosts file could not be changed.";
    }
}

HostsResult ApplyIntentThroughHelper(const std::string& path, HostsIntent intent,
                                     const std::vector<std::string>& lines) {
    std::string output;
    int status = kHelperNotApproved;
    if (intent == HostsIntent::Show) {
        status = RunHelperElevated({kHelperApproved, kHelperShow}, {}, &output);
    } else {
        if (ListIsApproved(lines))
            status = RunHelperElevated({kHelperApproved, kHelperHide}, {}, &output);
        // A list never approved, or an approval gone meanwhile: the administrator decides.
        if (status == kHelperNotApproved) status = RunHelperElevated({kHelperHide}, lines, &output);
    }
    return ResultOfRun(path, status, ParseHelperReport(output));
}
