// The package manager's path of an upgrade: reading a package's fields, ordering versions, and
// handing the file to the privileged helper.
#include "linux/root/PackageUpgrade.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
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

// Starts argv with its stdout on `outFd` (-1: inherited) and stdin from the file `inputPath`.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            int outFd, const std::string& inputPath = "/dev/null") {
    if (argv.empty()) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.c_str(), O_RDONLY, 0);
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

int RunForStatus(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& inputPath) {
    const pid_t pid = Start(argv, environment, -1, inputPath);
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
        case kUpgradeRefused:
            return UpgradeRefusal::kNotSignedByMaker;
        default:
            return UpgradeRefusal::kInstallFailed;
    }
}

std::string UpgradeHelperInputHead(const std::string& derSignature) {
    static const char kDigits[] = "0123456789abcdef";
    std::string head;
    for (const char c : derSignature) {
        const auto byte = static_cast<unsigned char>(c);
        head.push_back(kDigits[byte >> 4]);
        head.push_back(kDigits[byte & 15]);
    }
    head.push_back('\n');
    return head;
}

bool UpgradeHelperCanVerify(const std::string& helper) {
    return !helper.empty() && RunForStatus({helper, "--can-verify"}) == kUpgradeOk;
}

std::optional<std::string> ReadSignatureFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes(257, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    if (bytes.empty() || bytes.size() > 256) return std::nullopt;
    return bytes;
}

UpgradeRefusal InstallPackageElevated(const std::string& helper, const std::string& debPath,
                                      const std::string& signature, const std::string& version,
                                      const std::string& work) {
    // The helper reads one stream: the signature's line, then the package. It opens no path of
    // ours, so it is given an open file rather than a name.
    const std::string input = (std::filesystem::path(work) / "upgrade-input").string();
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        std::ifstream package(debPath, std::ios::binary);
        out << UpgradeHelperInputHead(signature) << package.rdbuf();
        out.flush();
        if (!package || !out) return UpgradeRefusal::kDownloadFailed;
    }
    // pkexec asks for the password through the desktop's polkit agent; the prompt shows the
    // command line, which names the package and the version the helper insists on.
    const int status = RunForStatus({kPkexec, helper, kPackageName, version}, {}, input);
    std::error_code error;
    std::filesystem::remove(input, error);
    return RefusalForHelperStatus(status);
}
