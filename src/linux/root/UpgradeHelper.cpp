// The privileged upgrade helper's logic. Nothing the user hands over is trusted: the package
// arrives as a stream, never as a path opened as root; it is copied once into a folder only root
// can enter, and the maker's signature, the package's name and version and the installation all
// work on that copy, so whatever happens to the user's file afterwards changes nothing. The
// checks are the program's own (PackageCheck_unix), made again here.
#include "linux/root/UpgradeHelper.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/system/Spawn_unix.h"
#include "platform/upgrade/PackageCheck_unix.h"

namespace {
// Far above any real package of this program.
constexpr off_t kMaxPackageSize = 512LL * 1024 * 1024;
// A DER ECDSA P-256 signature is at most 72 bytes; room for a larger curve, no more.
constexpr std::size_t kMaxSignatureSize = 256;
// A folder younger than this may be one another helper has just made and not yet locked.
constexpr std::time_t kLeftCopyAge = 60;
// How much of apt-get's log is repeated on standard error when it fails.
constexpr off_t kLogSummary = 2048;

void Complain(const char* what) {
    std::fprintf(stderr, "vantrel-upgrade-helper: %s\n", what);
}

// The versions dpkg accepts, and nothing that could dress up the authentication prompt.
bool IsPlainVersion(const std::string& version) {
    return !version.empty() && version.size() <= 64 &&
           std::isdigit(static_cast<unsigned char>(version[0])) &&
           std::all_of(version.begin(), version.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '+' || c == '~' || c == '-' || c == ':';
           });
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The first line of the stream, read a byte at a time so not one byte of the package is taken.
std::optional<std::string> ReadSignatureLine(int fd) {
    std::string hex;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        if (c == '\n') break;
        if (hex.size() >= 2 * kMaxSignatureSize) return std::nullopt;
        hex.push_back(c);
    }
    if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        const int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

enum class Copy { kDone, kNotThePackage, kWriteFailed };

// Copies the rest of the stream to `target` (created new, mode 0600). An empty or oversized
// stream is not what the maker signed; a copy that cannot be written is this machine's fault.
Copy CopyStream(int in, const std::string& target) {
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) return Copy::kWriteFailed;
    Copy result = Copy::kDone;
    off_t total = 0;
    char buffer[65536];
    while (result == Copy::kDone) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) result = Copy::kNotThePackage;
        if (got <= 0) break;
        total += got;
        if (total > kMaxPackageSize)
            result = Copy::kNotThePackage;
        else if (!WriteAll(out, buffer, static_cast<std::size_t>(got)))
            result = Copy::kWriteFailed;
    }
    if (result == Copy::kDone && total == 0) result = Copy::kNotThePackage;
    if (result == Copy::kDone && ::fsync(out) != 0) result = Copy::kWriteFailed;
    if (::close(out) != 0 && result == Copy::kDone) result = Copy::kWriteFailed;
    return result;
}

bool IsScratchName(const std::string& name) {
    const std::string prefix = kScratchPrefix;
    return name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c); });
}

// Removes the private folders of helpers that were killed or lost their power before they could
// remove their own: only folders of this helper's name and owner, private, not locked by a
// helper that is still at work and not just made by one.
void RemoveLeftCopies(const std::string& base) {
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsScratchName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    const int dirFd = ::dirfd(dir);
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        struct stat info {};
        if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0 ||
            now - info.st_mtime < kLeftCopyAge)
            continue;
        const int folder =
            ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0) continue;
        if (::flock(folder, LOCK_EX | LOCK_NB) == 0) {
            std::error_code error;
            std::filesystem::remove_all(std::filesystem::path(base) / name, error);
        }
        ::close(folder);
    }
    ::closedir(dir);
}

// The private folder of this run, locked for as long as it lives so that no other helper takes
// it for left behind, and removed on every way out; only a kill leaves it, for the next run.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& base) {
        std::string pattern = base + "/" + kScratchPrefix + "XXXXXX";
        if (!::mkdtemp(pattern.data())) return;
        m_fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        m_path = pattern;
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX) != 0) return;
        m_log = ::openat(m_fd, "apt.log", O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    ~ScratchDir() {
        if (m_log >= 0) ::close(m_log);
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
        if (m_fd >= 0) ::close(m_fd);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool Ready() const { return m_log >= 0; }
    const std::string& Path() const { return m_path; }
    int Log() const { return m_log; }

    // The end of the log on standard error, for whoever started the helper by hand.
    void SummariseLog() const {
        const off_t size = ::lseek(m_log, 0, SEEK_END);
        if (size <= 0) return;
        const off_t from = size > kLogSummary ? size - kLogSummary : 0;
        std::string tail(static_cast<std::size_t>(size - from), '\0');
        const ssize_t got = ::pread(m_log, tail.data(), tail.size(), from);
        if (got <= 0) return;
        tail.resize(static_cast<std::size_t>(got));
        std::fprintf(stderr, "vantrel-upgrade-helper: apt-get did not install the package; %s:\n",
                     from > 0 ? "the end of its output" : "its output");
        std::fwrite(tail.data(), 1, tail.size(), stderr);
        std::fflush(stderr);
    }

private:
    std::string m_path;
    int m_fd = -1;
    int m_log = -1;
};

std::optional<std::string> InstalledVersion(const UpgradeHelperSetup& setup, int log) {
    return RunAndRead({setup.strDpkgQuery, "-W", "-f=${Version}", kPackageName}, setup.environment,
                      log);
}

int Refuse(int status) {
    switch (status) {
        case kUpgradeBadSignature:
            Complain("refused: the package does not carry a valid signature of Vantrel's maker");
            break;
        case kUpgradeNotOurPackage:
            Complain("refused: this is not the package vantrel of the version named");
            break;
        case kUpgradeNotNewer:
            Complain("refused: the package is not newer than the installed vantrel");
            break;
        default:
            Complain("the package could not be installed");
            break;
    }
    return status;
}

int StatusOf(UpgradeRefusal refusal) {
    switch (refusal) {
        case UpgradeRefusal::kNone:
            return kUpgradeOk;
        case UpgradeRefusal::kNotOurPackage:
            return kUpgradeNotOurPackage;
        case UpgradeRefusal::kNotNewer:
            return kUpgradeNotNewer;
        default:
            return kUpgradeBadSignature;
    }
}
}  // namespace

int RunUpgradeHelper(const std::vector<std::string>& args, int inputFd,
                     const UpgradeHelperSetup& setup) {
    if (!IsMakerKey(setup.strPublicKeyPem)) {
        Complain("this build holds no maker's key (ECDSA P-256), so it installs no upgrade");
        return kUpgradeBadSignature;
    }
    if (args.size() == 1 && args[0] == kPublicKeyArgument) {
        std::fputs(setup.strPublicKeyPem.c_str(), stdout);
        return std::fflush(stdout) == 0 ? kUpgradeOk : kUpgradeInstallFailed;
    }
    if (args.size() != 2 || args[0] != kPackageName || !IsPlainVersion(args[1]))
        return Refuse(kUpgradeNotOurPackage);
    const std::string& version = args[1];

    RemoveLeftCopies(setup.strScratchBase);
    const std::optional<std::string> signature = ReadSignatureLine(inputFd);
    if (!signature) return Refuse(kUpgradeBadSignature);
    const ScratchDir scratch(setup.strScratchBase);
    if (!scratch.Ready()) return Refuse(kUpgradeInstallFailed);
    // apt-get names a local package by a path; its own name must not look like an option.
    const std::string copy = scratch.Path() + "/vantrel-upgrade.deb";
    switch (CopyStream(inputFd, copy)) {
        case Copy::kDone:
            break;
        case Copy::kNotThePackage:
            return Refuse(kUpgradeBadSignature);
        case Copy::kWriteFailed:
            return Refuse(kUpgradeInstallFailed);
    }

    // The program's checks, in the same order: nothing of a file the maker did not sign is read.
    if (!SignedByMaker(copy, *signature, setup.strPublicKeyPem))
        return Refuse(kUpgradeBadSignature);
    // Whatever dpkg says goes to the log, as apt-get's output does below.
    const std::optional<std::string> installed = InstalledVersion(setup, scratch.Log());
    if (!installed || installed->empty()) return Refuse(kUpgradeInstallFailed);
    PackageFields fields;
    const UpgradeRefusal refusal =
        CheckPackageFields(copy, *installed, fields, setup.environment, scratch.Log());
    if (refusal != UpgradeRefusal::kNone) return Refuse(StatusOf(refusal));
    if (fields.version != version) return Refuse(kUpgradeNotOurPackage);

    // apt-get reads the copy as root; its download sandbox user need not see it. What it and
    // dpkg say goes to the log, not to whoever called: a reader that went away must not matter.
    ChildSetup install;
    install.argv = setup.installCommand;
    install.argv.push_back(copy);
    if (!setup.environment.empty()) install.environment = setup.environment;
    install.inputPath = "/dev/null";
    install.outputFd = install.errorFd = scratch.Log();
    const bool ran = RunChild(install) == 0;
    const std::optional<std::string> now = InstalledVersion(setup, scratch.Log());
    if (ran && now && *now == version) return kUpgradeOk;
    scratch.SummariseLog();
    return kUpgradeInstallFailed;
}
