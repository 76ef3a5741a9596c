// The package manager's path of an upgrade: reading a package's fields, ordering versions, and
// handing the file to the privileged helper.
#include "linux/root/PackageUpgrade.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace {
const char* const kDpkgDeb = "/usr/bin/dpkg-deb";
const char* const kDpkg = "/usr/bin/dpkg";
const char* const kPkexec = "/usr/bin/pkexec";

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Starts argv with its stdout on `outFd` (-1: inherited) and stdin from /dev/null.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            int outFd) {
    if (argv.empty()) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> env = Pointers(environment);
    pid_t pid = -1;
    const int started = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(),
                                    environment.empty() ? environ : env.data());
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

int Wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Trimmed(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const std::size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

std::string FieldValue(const std::string& output, const std::string& field) {
    std::istringstream lines(output);
    std::string line;
    const std::string prefix = field + ":";
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        return Trimmed(line.substr(prefix.size()));
    }
    return {};
}
}  // namespace

std::optional<std::string> RunAndRead(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t pid = Start(argv, environment, fds[1]);
    ::close(fds[1]);
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        // Package fields are short; anything far longer is not an answer to read.
        if (output.size() < (1u << 20)) output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (pid < 0 || Wait(pid) != 0) return std::nullopt;
    return output;
}

int RunForStatus(const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment) {
    const pid_t pid = Start(argv, environment, -1);
    return pid < 0 ? -1 : Wait(pid);
}

std::optional<PackageFields> ReadPackageFields(const std::string& debPath,
                                               const std::vector<std::string>& environment) {
    const std::optional<std::string> output =
        RunAndRead({kDpkgDeb, "--field", debPath, "Package", "Version"}, environment);
    if (!output) return std::nullopt;
    PackageFields fields{FieldValue(*output, "Package"), FieldValue(*output, "Version")};
    if (fields.name.empty() || fields.version.empty()) return std::nullopt;
    return fields;
}

bool IsNewerPackageVersion(const std::string& candidate, const std::string& current,
                           const std::vector<std::string>& environment) {
    return RunForStatus({kDpkg, "--compare-versions", candidate, "gt", current}, environment) == 0;
}

UpgradeRefusal CheckPackage(const std::string& debPath, const std::string& ownVersion,
                            std::string& version) {
    const std::optional<PackageFields> fields = ReadPackageFields(debPath);
    if (!fields || fields->name != kPackageName) return UpgradeRefusal::kNotOurPackage;
    if (!IsNewerPackageVersion(fields->version, ownVersion)) return UpgradeRefusal::kNotNewer;
    version = fields->version;
    return UpgradeRefusal::kNone;
}

std::string UpgradeHelperPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return (self.parent_path() / kUpgradeHelperName).string();
}

UpgradeRefusal RefusalForHelperStatus(int status) {
    switch (status) {
        case kUpgradeOk:
            return UpgradeRefusal::kNone;
        case kPkexecRefused:
        case kPkexecNotAuthorized:
            return UpgradeRefusal::kNotAuthorized;
        case kUpgradeWrongDigest:
            return UpgradeRefusal::kDigestMismatch;
        case kUpgradeNotVantrel:
            return UpgradeRefusal::kNotOurPackage;
        case kUpgradeNotNewer:
            return UpgradeRefusal::kNotNewer;
        default:
            return UpgradeRefusal::kInstallFailed;
    }
}

UpgradeRefusal InstallPackageElevated(const std::string& helper, const std::string& debPath,
                                      const std::string& digest) {
    // pkexec needs an absolute program path and asks for the password through the desktop's
    // polkit agent; the helper trusts neither the file nor the digest it is given.
    const std::string absolute = std::filesystem::absolute(debPath).string();
    return RefusalForHelperStatus(RunForStatus({kPkexec, helper, absolute, digest}));
}
