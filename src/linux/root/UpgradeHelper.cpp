// The privileged upgrade helper's logic. Nothing the user hands over is trusted: the file is
// read once, through a descriptor that does not follow links, into a folder only root can
// enter, and every check and the installation work on that copy.
#include "linux/root/UpgradeHelper.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "linux/root/PackageUpgrade.h"

namespace {
// Far above any real package of this program.
constexpr off_t kMaxPackageSize = 512LL * 1024 * 1024;

bool IsHexDigest(const std::string& digest) {
    return digest.size() == 64 && std::all_of(digest.begin(), digest.end(), [](unsigned char c) {
               return std::isdigit(c) || (c >= 'a' && c <= 'f');
           });
}

std::string Hex(const unsigned char* bytes, unsigned size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
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

// Copies the regular file `source` to `target` (created new, mode 0600) and returns the
// copy's SHA-256, or "" on any failure.
std::string CopyAndDigest(const std::string& source, const std::string& target) {
    const int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return {};
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxPackageSize) {
        ::close(in);
        return {};
    }
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return {};
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(),
                                                                 &EVP_MD_CTX_free);
    bool ok = hash && EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) == 1;
    off_t total = 0;
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        total += got;
        ok = total <= kMaxPackageSize &&
             EVP_DigestUpdate(hash.get(), buffer, static_cast<std::size_t>(got)) == 1 &&
             WriteAll(out, buffer, static_cast<std::size_t>(got));
    }
    ::close(in);
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (!ok || EVP_DigestFinal_ex(hash.get(), digest, &size) != 1) return {};
    return Hex(digest, size);
}

// Removes the private folder on every way out.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& base) {
        std::string pattern = base + "/vantrel-upgrade-XXXXXX";
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

int Installed(const std::string& version, const std::vector<std::string>& environment) {
    const std::optional<std::string> now =
        RunAndRead({"/usr/bin/dpkg-query", "-W", "-f=${Version}", kPackageName}, environment);
    return now && *now == version ? kUpgradeOk : kUpgradeInstallFailed;
}
}  // namespace

int RunUpgradeHelper(const std::vector<std::string>& args, const UpgradeHelperSetup& setup) {
    if (args.size() != 2 || args[0].empty() || args[0][0] != '/' || !IsHexDigest(args[1]))
        return kUpgradeUsage;
    const ScratchDir scratch(setup.strScratchBase);
    if (scratch.Path().empty()) return kUpgradeUnreadable;
    // apt-get names a local package by a path; its own name must not look like an option.
    const std::string copy = scratch.Path() + "/vantrel-upgrade.deb";
    const std::string digest = CopyAndDigest(args[0], copy);
    if (digest.empty()) return kUpgradeUnreadable;
    if (digest != args[1]) return kUpgradeWrongDigest;

    const std::optional<PackageFields> fields = ReadPackageFields(copy, setup.environment);
    if (!fields || fields->name != kPackageName) return kUpgradeNotVantrel;
    const std::optional<std::string> installed =
        RunAndRead({"/usr/bin/dpkg-query", "-W", "-f=${Version}", kPackageName}, setup.environment);
    if (!installed || installed->empty() ||
        !IsNewerPackageVersion(fields->version, *installed, setup.environment))
        return kUpgradeNotNewer;

    // apt-get reads the copy as root; its download sandbox user need not see it.
    if (RunForStatus({"/usr/bin/apt-get", "install", "-y", "-q", copy}, setup.environment) != 0)
        return kUpgradeInstallFailed;
    return Installed(fields->version, setup.environment);
}
